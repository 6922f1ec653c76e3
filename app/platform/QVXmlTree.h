// The parsed form of one XML document, as QVXmlDocument keeps it and QVXmlNode reads it: every
// node in one array in document order, linked to its parent, first child and next sibling by
// index, so that building, walking and destroying a tree never recurse on its depth.
//
// Text and CDATA contents are stored one after the other in `text`, in document order, so the
// text content of an element (all of its descendant text) is one range of `text`, kept on the
// element. Comment and processing-instruction data and attribute values are kept in `values`.
//
// Written once by the parser (QVXmlParser.cpp) and only read afterwards; shared read-only by the
// node handles of a document. Offsets are 32-bit: the parser refuses input of 4 GiB or more.
#pragma once

#include "QVXmlDom.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

enum class QVXmlKind : std::uint8_t { Element, Text, CData, Comment, ProcessingInstruction };

constexpr std::uint32_t kQVXmlNoNode = UINT32_MAX;

struct QVXmlTreeNode {
  std::uint32_t parent = kQVXmlNoNode;  // none for the root element
  std::uint32_t firstChild = kQVXmlNoNode;
  std::uint32_t nextSibling = kQVXmlNoNode;
  std::uint32_t name = 0;  // index into names: an element's qualified name, a PI's target
  // Elements, text and CDATA: a range of `text` (an element's spans all of its descendants' text);
  // comments and processing instructions: a range of `values`.
  std::uint32_t valueBegin = 0;
  std::uint32_t valueEnd = 0;
  // Where this node's attributes start in `attributes`; they end where the next node's start.
  std::uint32_t firstAttribute = 0;
  QVXmlKind kind = QVXmlKind::Element;
  bool inNamespace = false;  // elements: the element's namespace is not empty
};
// Two to a cache line: a walk over a large document reads every node it passes.
static_assert(sizeof(QVXmlTreeNode) == 32, "QVXmlTreeNode grew");

// Where a node starts in the source, both from 1. Kept apart from the nodes: only messages read it.
struct QVXmlTreePosition {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

// An unprefixed attribute name is in no namespace, so a qualified name says all a lookup needs.
struct QVXmlTreeAttribute {
  std::uint32_t name = 0;  // index into names: the attribute's qualified name
  std::uint32_t valueBegin = 0;  // a range of `values`
  std::uint32_t valueEnd = 0;
};

struct QVXmlTree {
  QVXmlTree() = default;
  QVXmlTree(const QVXmlTree&) = delete;  // nameIds points into names
  QVXmlTree& operator=(const QVXmlTree&) = delete;

  std::vector<QVXmlTreeNode> nodes;  // nodes[0] is the root element when there is one
  std::vector<QVXmlTreePosition> positions;  // one per node
  std::vector<QVXmlTreeAttribute> attributes;
  std::deque<std::string> names;  // a deque: its strings never move, nameIds keeps views of them
  std::unordered_map<std::string_view, std::uint32_t> nameIds;
  std::string text;
  std::string values;

  // The index of `name` in names, or kQVXmlNoNode when no node or attribute has that name.
  std::uint32_t findName(std::string_view name) const {
    const auto found = nameIds.find(name);
    return found == nameIds.end() ? kQVXmlNoNode : found->second;
  }
  // An element in no namespace whose name has index `nameId`.
  bool isPlainElement(std::uint32_t node, std::uint32_t nameId) const {
    const QVXmlTreeNode& n = nodes[node];
    return n.kind == QVXmlKind::Element && !n.inNamespace && n.name == nameId;
  }
  // Where the attributes of element `node` end in `attributes` (they start at its firstAttribute).
  std::uint32_t attributesEnd(std::uint32_t node) const {
    return node + 1 < nodes.size() ? nodes[node + 1].firstAttribute : static_cast<std::uint32_t>(attributes.size());
  }
  std::string_view textOf(const QVXmlTreeNode& node) const {
    return std::string_view(text).substr(node.valueBegin, node.valueEnd - node.valueBegin);
  }
  std::string_view valueOf(std::uint32_t begin, std::uint32_t end) const {
    return std::string_view(values).substr(begin, end - begin);
  }
};

// Parses `size` bytes at `data` into the empty `tree`. False, with `error` filled in, when the
// text is not a well-formed namespace-conforming document, has a document type declaration, nests
// elements deeper than QVXmlDocument::kMaxDepth or is 4 GiB or larger; the tree is then partial.
bool QVParseXmlTree(const char* data, std::size_t size, QVXmlTree& tree, QVXmlParseError& error);

// Whether `text` is a name without prefix, as the steps of a path are written.
bool QVIsPlainXmlName(std::string_view text);

// Calls `onMatch` with every node that `path` selects from `context`, in document order, until it
// returns false. False when `path` is not one of the forms QVXmlNode::selectSingleNode takes.
bool QVSelectXmlNodes(const QVXmlTree& tree, std::uint32_t context, std::string_view path,
                      const std::function<bool(std::uint32_t)>& onMatch);
