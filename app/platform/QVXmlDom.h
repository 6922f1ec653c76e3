// XML document object model: documents loaded from a file or a string, and node handles with
// child lookups and a small set of path expressions, in the result-code style the scheduler's XML
// layer is written against.
//
// Parsing (expat) accepts well-formed XML 1.0 with namespaces and nothing else. On top of that a
// document is refused when it has a document type declaration (so no entity other than the five
// predefined ones and character references is ever declared, expanded or read from anywhere, and
// no file or network resource is ever opened besides the file given to load()), when its
// elements nest deeper than kMaxDepth, or when it is 4 GiB or larger. Every refusal keeps the
// code, the description and the position in parseError().
//
// The tree keeps elements, text, CDATA sections, comments and processing instructions; text that
// is only white space between elements is dropped. Each node keeps its line and column in the
// source. Nothing here recurses on the depth of a document or the length of a path.
//
// Node handles share ownership of their document: a node stays usable after the document object
// it came from is destroyed or loads another document.
//
// Thread safety: a loaded document is only read, so nodes may be read from several threads;
// loading a QVXmlDocument while another thread uses the same object is not allowed.
#pragma once

#include "QVWinTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct QVXmlTree;

// Why the last load of a document failed. Code 0: it loaded, or nothing was loaded yet.
struct QVXmlParseError {
  // The parser's error code (expat's, below 1000) or one of the document's own (QVXmlDocument).
  long code = 0;
  // The parser's description ("mismatched tag") or the document's own.
  std::string reason;
  // Where in the source the load stopped, both counted from 1; 0 when there is no position (the
  // file could not be read).
  unsigned long line = 0;
  unsigned long column = 0;
};

class QVXmlNode {
 public:
  // A handle that refers to nothing.
  QVXmlNode();

  bool isNull() const { return tree_ == nullptr; }
  // The same node of the same document (two null handles are equal).
  bool operator==(const QVXmlNode& other) const { return tree_ == other.tree_ && index_ == other.index_; }
  bool operator!=(const QVXmlNode& other) const { return !(*this == other); }
  explicit operator bool() const { return tree_ != nullptr; }

  // The rest throw _com_error(E_POINTER) when called on a null handle.

  // Selects the first node in document order that `path` selects with this node as context: S_OK
  // and the node, or S_FALSE and a null node when nothing matched. `path` is one of these XPath
  // 1.0 location paths, written without white space, and nothing else:
  //   Name, Name/Name/..., ./Name/...   child elements, step by step from this node;
  //   //Name/Name/...                   from the whole document: elements named by the first step
  //                                     anywhere (the root element included), then child steps;
  //   any step may carry one predicate [@Attr=//Name/Name/...]: the step's element has the
  //   attribute Attr and its value equals the text content (untrimmed, as XPath compares) of one
  //   of the elements the absolute path selects.
  // Names have no prefix and match only elements in no namespace. Anything else (another axis,
  // a function, an operator, a prefix) yields E_INVALIDARG and a null node; it is never evaluated.
  // The cost is linear in the nodes visited: the children along the steps, or the whole document
  // once for an absolute path.
  HRESULT selectSingleNode(std::string_view path, QVXmlNode& out) const;

  // Every node `path` selects, in document order. `result`, when given, receives S_OK, S_FALSE (no
  // match) or E_INVALIDARG (a path of another form, empty list).
  std::vector<QVXmlNode> selectNodes(std::string_view path, HRESULT* result = nullptr) const;

  // An element's qualified name (prefix:local) or a processing instruction's target; "#text",
  // "#cdata-section", "#comment" for the other kinds of node.
  std::string nodeName() const;
  // The same without a copy: valid as long as a handle of the document lives.
  std::string_view nodeNameView() const;

  // Text content with leading and trailing white space removed: for an element, all of its
  // descendant text and CDATA joined in document order (comments and processing instructions
  // excluded); for any other node, its own value (a processing instruction's data).
  std::string text() const;

  // Where the node starts in the source (an element: its start tag's "<"), both counted from 1.
  unsigned long line() const;
  unsigned long column() const;

  // First child node of any kind, or a null handle.
  QVXmlNode firstChild() const;
  // The next sibling node of any kind, or a null handle.
  QVXmlNode nextSibling() const;
  // Move this handle to its first child, next sibling or parent, without copying it (a walk
  // that visits many nodes); false, and the handle stays where it is, when there is none.
  bool toFirstChild();
  bool toNextSibling();
  bool toParent();
  // The parent element, or a null handle for the root element.
  QVXmlNode parent() const;
  bool isElement() const;

  // The value of the attribute named `name` (qualified name, exact); false when it has none.
  bool attribute(std::string_view name, std::string& value) const;

  // Where the node is, for messages: the element names from the root down, each with
  // [@ID="..."] when the element has an ID attribute, else [n] (from 1) when a sibling has the
  // same name; a last step comment()[n], text()[n] or processing-instruction('target') for the
  // other kinds of node. For example /LoadTest/Scheduler[@ID="7"]/Manual/Groups/GroupScheduler[2].
  // Walks up the parents and along the siblings; meant for messages, not for every node.
  std::string locationPath() const;

  // All child nodes in order.
  std::vector<QVXmlNode> childNodes() const;

  // First child element in no namespace named `name` (exact, case-sensitive), or a null handle.
  // Any text can be looked up: one that is no element name finds nothing.
  QVXmlNode childElement(std::string_view name) const;
  // The next sibling element in no namespace named `name`, or a null handle.
  QVXmlNode nextSiblingElement(std::string_view name) const;

 private:
  friend class QVXmlDocument;
  QVXmlNode(std::shared_ptr<const QVXmlTree> tree, std::uint32_t index);
  const QVXmlTree& checkedTree() const;
  // The first element named `name` among `node` and its following siblings.
  QVXmlNode elementFrom(std::uint32_t node, std::string_view name) const;

  std::shared_ptr<const QVXmlTree> tree_;
  std::uint32_t index_;
};

class QVXmlDocument {
 public:
  // The deepest nesting of elements a document may have; the root element is at level 1.
  static constexpr std::size_t kMaxDepth = 10000;

  // Codes of the document's own refusals, besides the parser's.
  static constexpr long kErrorDocumentType = 1001;  // a document type declaration
  static constexpr long kErrorTooDeep = 1002;       // elements nested deeper than kMaxDepth
  static constexpr long kErrorTooLarge = 1003;      // 4 GiB of text or more
  static constexpr long kErrorUnreadable = 1004;    // the file could not be opened or read

  QVXmlDocument();

  // Parses the file at `path`. Returns S_OK; `success` tells whether the document loaded. A file
  // that cannot be read or does not parse leaves an empty document and the reason in parseError().
  HRESULT load(const std::string& path, bool& success);

  // Parses `text` as a document, like load(); the text is not copied. Empty text fails (no
  // element found).
  HRESULT loadXML(std::string_view text, bool& success);

  // Root element of the loaded document, or a null handle when nothing is loaded.
  QVXmlNode documentElement() const;

  // 0 after a successful load (and before any load); non-zero after a failed one.
  long parseErrorCode() const { return parseError_.code; }
  const QVXmlParseError& parseError() const { return parseError_; }

 private:
  HRESULT parse(const char* data, std::size_t size, bool& success);

  std::shared_ptr<const QVXmlTree> tree_;
  QVXmlParseError parseError_;
};
