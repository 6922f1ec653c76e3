#include "QVXmlDom.h"

#include <cstring>

#include <pugixml.hpp>

#include <new>
#include <string>
#include <utility>

struct QVXmlDocumentState {
  pugi::xml_document document;
  // The text a document parsed in place was read from: its nodes point into it.
  std::string text;
};

namespace {

constexpr unsigned int kParseOptions = pugi::parse_default | pugi::parse_comments;

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& value) {
  std::size_t begin = 0;
  std::size_t end = value.size();
  while (begin < end && isXmlSpace(value[begin])) {
    ++begin;
  }
  while (end > begin && isXmlSpace(value[end - 1])) {
    --end;
  }
  return value.substr(begin, end - begin);
}

void appendDescendantText(const pugi::xml_node& node, std::string& out) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    switch (child.type()) {
      case pugi::node_pcdata:
      case pugi::node_cdata:
        out += child.value();
        break;
      case pugi::node_element:
        appendDescendantText(child, out);
        break;
      default:
        break;
    }
  }
}

// Evaluates `xpath` against `context` into a node set in document order. Returns E_INVALIDARG
// when the expression does not compile or does not give a node set.
HRESULT evaluate(const pugi::xml_node& context, const std::string& xpath, pugi::xpath_node_set& out) {
  try {
    pugi::xpath_query query(xpath.c_str());
    out = query.evaluate_node_set(context);
  } catch (const pugi::xpath_exception&) {
    return E_INVALIDARG;
  }
  out.sort();
  return S_OK;
}

}  // namespace

// ---- QVXmlNode ----

QVXmlNode::QVXmlNode() : node_(nullptr) {}

QVXmlNode::QVXmlNode(std::shared_ptr<const QVXmlDocumentState> document, pugi::xml_node_struct* node)
    : document_(node != nullptr ? std::move(document) : nullptr), node_(node) {}

pugi::xml_node_struct* QVXmlNode::checkedNode() const {
  if (node_ == nullptr) {
    throw _com_error(E_POINTER);
  }
  return node_;
}

HRESULT QVXmlNode::selectSingleNode(const std::string& xpath, QVXmlNode& out) const {
  const pugi::xml_node context(checkedNode());
  out = QVXmlNode();
  pugi::xpath_node_set matches;
  const HRESULT hr = evaluate(context, xpath, matches);
  if (FAILED(hr)) {
    return hr;
  }
  for (const pugi::xpath_node& match : matches) {
    if (match.node()) {
      out = QVXmlNode(document_, match.node().internal_object());
      return S_OK;
    }
  }
  return S_FALSE;
}

std::vector<QVXmlNode> QVXmlNode::selectNodes(const std::string& xpath, HRESULT* result) const {
  const pugi::xml_node context(checkedNode());
  std::vector<QVXmlNode> nodes;
  pugi::xpath_node_set matches;
  HRESULT hr = evaluate(context, xpath, matches);
  if (SUCCEEDED(hr)) {
    for (const pugi::xpath_node& match : matches) {
      if (match.node()) {
        nodes.push_back(QVXmlNode(document_, match.node().internal_object()));
      }
    }
    hr = nodes.empty() ? S_FALSE : S_OK;
  }
  if (result != nullptr) {
    *result = hr;
  }
  return nodes;
}

std::string QVXmlNode::nodeName() const {
  const pugi::xml_node node(checkedNode());
  switch (node.type()) {
    case pugi::node_pcdata:
      return "#text";
    case pugi::node_cdata:
      return "#cdata-section";
    case pugi::node_comment:
      return "#comment";
    case pugi::node_document:
      return "#document";
    default:
      return node.name();
  }
}

std::string QVXmlNode::text() const {
  const pugi::xml_node node(checkedNode());
  switch (node.type()) {
    case pugi::node_element:
    case pugi::node_document: {
      std::string content;
      appendDescendantText(node, content);
      return trimmed(content);
    }
    default:
      return trimmed(node.value());
  }
}

QVXmlNode QVXmlNode::firstChild() const {
  const pugi::xml_node node(checkedNode());
  return QVXmlNode(document_, node.first_child().internal_object());
}

namespace {

// The first element named `name` from `node` on, along its siblings.
pugi::xml_node elementFrom(pugi::xml_node node, const char* name) {
  for (; node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0) return node;
  }
  return pugi::xml_node();
}

}  // namespace

QVXmlNode QVXmlNode::childElement(const char* name) const {
  const pugi::xml_node found = elementFrom(pugi::xml_node(checkedNode()).first_child(), name);
  return found ? QVXmlNode(document_, found.internal_object()) : QVXmlNode();
}

QVXmlNode QVXmlNode::nextSiblingElement(const char* name) const {
  const pugi::xml_node found = elementFrom(pugi::xml_node(checkedNode()).next_sibling(), name);
  return found ? QVXmlNode(document_, found.internal_object()) : QVXmlNode();
}

std::vector<QVXmlNode> QVXmlNode::childNodes() const {
  const pugi::xml_node node(checkedNode());
  std::vector<QVXmlNode> children;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    children.push_back(QVXmlNode(document_, child.internal_object()));
  }
  return children;
}

// ---- QVXmlDocument ----

QVXmlDocument::QVXmlDocument() : state_(std::make_shared<QVXmlDocumentState>()), parseErrorCode_(0) {}

// Every load parses into a fresh tree, so nodes handed out earlier keep the tree they came from.
template <typename Parse>
HRESULT QVXmlDocument::parseWith(Parse parse, bool& success) {
  std::shared_ptr<QVXmlDocumentState> state;
  try {
    state = std::make_shared<QVXmlDocumentState>();
  } catch (const std::bad_alloc&) {
    success = false;
    return E_OUTOFMEMORY;
  }
  const pugi::xml_parse_result result = parse(*state);
  if (result) {
    parseErrorCode_ = 0;
    success = true;
  } else {
    // A failed parse may leave part of a tree behind; it is not kept.
    state->document.reset();
    parseErrorCode_ = static_cast<long>(result.status);
    success = false;
  }
  state_ = std::move(state);
  return S_OK;
}

HRESULT QVXmlDocument::load(const std::string& path, bool& success) {
  return parseWith(
      [&path](QVXmlDocumentState& state) { return state.document.load_file(path.c_str(), kParseOptions); }, success);
}

HRESULT QVXmlDocument::loadXML(const std::string& text, bool& success) {
  return parseWith(
      [&text](QVXmlDocumentState& state) {
        return state.document.load_buffer(text.data(), text.size(), kParseOptions);
      },
      success);
}

HRESULT QVXmlDocument::loadXML(std::string&& text, bool& success) {
  // The document keeps the text and parses it in place: no second copy of a large definition.
  return parseWith(
      [&text](QVXmlDocumentState& state) {
        state.text = std::move(text);
        return state.document.load_buffer_inplace(state.text.data(), state.text.size(), kParseOptions);
      },
      success);
}

QVXmlNode QVXmlDocument::documentElement() const {
  return QVXmlNode(state_, state_->document.document_element().internal_object());
}

long QVXmlDocument::parseErrorCode() const { return parseErrorCode_; }
