#include "QVXmlDom.h"

#include "QVXmlTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(std::string_view value) {
  std::size_t begin = 0;
  std::size_t end = value.size();
  while (begin < end && isXmlSpace(value[begin])) ++begin;
  while (end > begin && isXmlSpace(value[end - 1])) --end;
  return std::string(value.substr(begin, end - begin));
}

// Reads the whole file into `text`; 0, or the errno of the failed call.
int readFile(const std::string& path, std::string& text) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return errno;
  constexpr std::size_t kPiece = 64 * 1024;
  for (;;) {
    const std::size_t used = text.size();
    text.resize(used + kPiece);
    const std::size_t read = std::fread(&text[used], 1, kPiece, file.get());
    text.resize(used + read);
    if (read < kPiece) break;
  }
  return std::ferror(file.get()) ? (errno != 0 ? errno : EIO) : 0;
}

}  // namespace

// ---- QVXmlNode ----

QVXmlNode::QVXmlNode() : index_(kQVXmlNoNode) {}

QVXmlNode::QVXmlNode(std::shared_ptr<const QVXmlTree> tree, std::uint32_t index)
    : tree_(index != kQVXmlNoNode ? std::move(tree) : nullptr), index_(index) {}

const QVXmlTree& QVXmlNode::checkedTree() const {
  if (tree_ == nullptr) {
    throw _com_error(E_POINTER);
  }
  return *tree_;
}

HRESULT QVXmlNode::selectSingleNode(std::string_view path, QVXmlNode& out) const {
  const QVXmlTree& tree = checkedTree();
  out = QVXmlNode();
  if (QVIsPlainXmlName(path)) {  // the common case, one child step: no path to parse
    out = childElement(path);
    return out.isNull() ? S_FALSE : S_OK;
  }
  std::uint32_t found = kQVXmlNoNode;
  if (!QVSelectXmlNodes(tree, index_, path, [&found](std::uint32_t node) {
        found = node;
        return false;
      })) {
    return E_INVALIDARG;
  }
  out = QVXmlNode(tree_, found);
  return found == kQVXmlNoNode ? S_FALSE : S_OK;
}

std::vector<QVXmlNode> QVXmlNode::selectNodes(std::string_view path, HRESULT* result) const {
  const QVXmlTree& tree = checkedTree();
  std::vector<QVXmlNode> nodes;
  const bool valid = QVSelectXmlNodes(tree, index_, path, [&](std::uint32_t node) {
    nodes.push_back(QVXmlNode(tree_, node));
    return true;
  });
  if (result != nullptr) {
    *result = !valid ? E_INVALIDARG : nodes.empty() ? S_FALSE : S_OK;
  }
  return nodes;
}

std::string QVXmlNode::nodeName() const { return std::string(nodeNameView()); }

std::string_view QVXmlNode::nodeNameView() const {
  const QVXmlTree& tree = checkedTree();
  const QVXmlTreeNode& node = tree.nodes[index_];
  switch (node.kind) {
    case QVXmlKind::Text:
      return "#text";
    case QVXmlKind::CData:
      return "#cdata-section";
    case QVXmlKind::Comment:
      return "#comment";
    case QVXmlKind::Element:
    case QVXmlKind::ProcessingInstruction:
      break;
  }
  return tree.names[node.name];
}

std::string QVXmlNode::text() const {
  const QVXmlTree& tree = checkedTree();
  const QVXmlTreeNode& node = tree.nodes[index_];
  switch (node.kind) {
    case QVXmlKind::Element:
    case QVXmlKind::Text:
    case QVXmlKind::CData:
      return trimmed(tree.textOf(node));
    case QVXmlKind::Comment:
    case QVXmlKind::ProcessingInstruction:
      break;
  }
  return trimmed(tree.valueOf(node.valueBegin, node.valueEnd));
}

unsigned long QVXmlNode::line() const { return checkedTree().positions[index_].line; }

unsigned long QVXmlNode::column() const { return checkedTree().positions[index_].column; }

QVXmlNode QVXmlNode::firstChild() const { return QVXmlNode(tree_, checkedTree().nodes[index_].firstChild); }

QVXmlNode QVXmlNode::nextSibling() const { return QVXmlNode(tree_, checkedTree().nodes[index_].nextSibling); }

namespace {

bool moveTo(std::uint32_t target, std::uint32_t& index) {
  if (target == kQVXmlNoNode) return false;
  index = target;
  return true;
}

}  // namespace

bool QVXmlNode::toFirstChild() { return moveTo(checkedTree().nodes[index_].firstChild, index_); }

bool QVXmlNode::toNextSibling() { return moveTo(checkedTree().nodes[index_].nextSibling, index_); }

bool QVXmlNode::toParent() { return moveTo(checkedTree().nodes[index_].parent, index_); }

QVXmlNode QVXmlNode::parent() const { return QVXmlNode(tree_, checkedTree().nodes[index_].parent); }

bool QVXmlNode::isElement() const { return checkedTree().nodes[index_].kind == QVXmlKind::Element; }

bool QVXmlNode::attribute(std::string_view name, std::string& value) const {
  const QVXmlTree& tree = checkedTree();
  const QVXmlTreeNode& node = tree.nodes[index_];
  const std::uint32_t nameId = tree.findName(name);
  if (node.kind != QVXmlKind::Element || nameId == kQVXmlNoNode) return false;
  const std::uint32_t end = tree.attributesEnd(index_);
  for (std::uint32_t i = node.firstAttribute; i < end; ++i) {
    const QVXmlTreeAttribute& attribute = tree.attributes[i];
    if (attribute.name == nameId) {
      value.assign(tree.valueOf(attribute.valueBegin, attribute.valueEnd));
      return true;
    }
  }
  return false;
}

namespace {

// One step of a location path: the node's name (or kind test) and what tells it from its siblings.
// The siblings are scanned up to the node and on to the next one of the same name, so a step
// costs the node's position among its siblings, not their number.
std::string locationStep(const QVXmlNode& node) {
  const std::string name = node.nodeName();
  std::string id;
  if (node.isElement() && node.attribute("ID", id)) return name + "[@ID=\"" + id + "\"]";
  std::string step = name;
  if (name == "#comment") step = "comment()";
  if (name == "#text" || name == "#cdata-section") step = "text()";
  if (!node.isElement() && name[0] != '#') return "processing-instruction('" + name + "')";
  QVXmlNode sibling = node.parent();
  if (!sibling || !sibling.toFirstChild()) return step;
  std::size_t index = 0;
  bool passed = false;
  for (bool more = true; more; more = sibling.toNextSibling()) {
    if (sibling.nodeNameView() != name) continue;
    if (passed) return step + "[" + std::to_string(index) + "]";  // a later one of the same name
    ++index;
    passed = sibling == node;
  }
  return index > 1 ? step + "[" + std::to_string(index) + "]" : step;
}

}  // namespace

std::string QVXmlNode::locationPath() const {
  checkedTree();
  std::vector<std::string> steps;
  for (QVXmlNode node = *this; node; node = node.parent()) steps.push_back(locationStep(node));
  std::string path;
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) path += "/" + *step;
  return path;
}

std::vector<QVXmlNode> QVXmlNode::childNodes() const {
  const QVXmlTree& tree = checkedTree();
  std::size_t count = 0;
  for (std::uint32_t child = tree.nodes[index_].firstChild; child != kQVXmlNoNode;
       child = tree.nodes[child].nextSibling) {
    ++count;
  }
  std::vector<QVXmlNode> children;
  children.reserve(count);
  for (std::uint32_t child = tree.nodes[index_].firstChild; child != kQVXmlNoNode;
       child = tree.nodes[child].nextSibling) {
    children.push_back(QVXmlNode(tree_, child));
  }
  return children;
}

QVXmlNode QVXmlNode::elementFrom(std::uint32_t node, std::string_view name) const {
  const QVXmlTree& tree = *tree_;
  const std::uint32_t nameId = tree.findName(name);
  if (nameId == kQVXmlNoNode) return QVXmlNode();
  for (; node != kQVXmlNoNode; node = tree.nodes[node].nextSibling) {
    if (tree.isPlainElement(node, nameId)) return QVXmlNode(tree_, node);
  }
  return QVXmlNode();
}

QVXmlNode QVXmlNode::childElement(std::string_view name) const {
  return elementFrom(checkedTree().nodes[index_].firstChild, name);
}

QVXmlNode QVXmlNode::nextSiblingElement(std::string_view name) const {
  return elementFrom(checkedTree().nodes[index_].nextSibling, name);
}

// ---- QVXmlDocument ----

QVXmlDocument::QVXmlDocument() : tree_(std::make_shared<QVXmlTree>()) {}

// Every load parses into a fresh tree, so nodes handed out earlier keep the tree they came from.
// A failed parse may leave part of a tree behind; it is not kept.
HRESULT QVXmlDocument::parse(const char* data, std::size_t size, bool& success) {
  try {
    auto tree = std::make_shared<QVXmlTree>();
    success = QVParseXmlTree(data, size, *tree, parseError_);
    tree_ = success ? std::move(tree) : std::make_shared<QVXmlTree>();
  } catch (const std::bad_alloc&) {
    success = false;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT QVXmlDocument::load(const std::string& path, bool& success) {
  std::string text;
  int error = 0;
  try {
    error = readFile(path, text);
  } catch (const std::bad_alloc&) {
    success = false;
    return E_OUTOFMEMORY;
  }
  if (error != 0) {
    tree_ = std::make_shared<QVXmlTree>();
    parseError_ = QVXmlParseError{kErrorUnreadable, "cannot read the file: " + std::string(std::strerror(error)), 0, 0};
    success = false;
    return S_OK;
  }
  return parse(text.data(), text.size(), success);
}

HRESULT QVXmlDocument::loadXML(std::string_view text, bool& success) { return parse(text.data(), text.size(), success); }

QVXmlNode QVXmlDocument::documentElement() const { return QVXmlNode(tree_, tree_->nodes.empty() ? kQVXmlNoNode : 0); }
