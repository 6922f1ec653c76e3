// XML document object model: documents loaded from a file or a string, and node handles with
// XPath 1.0 selection, in the result-code style the scheduler's XML layer is written against.
//
// Parsing keeps comments as nodes and drops text that is only white space between elements.
// Node handles share ownership of their document: a node stays usable after the document
// object it came from is destroyed or loads another document.
//
// Thread safety: a loaded document is only read, so nodes may be read from several threads;
// loading a QVXmlDocument while another thread uses the same object is not allowed.
#pragma once

#include "QVWinTypes.h"

#include <memory>
#include <string>
#include <vector>

namespace pugi {
struct xml_node_struct;
}

// The parsed tree behind a document; defined in QVXmlDom.cpp.
struct QVXmlDocumentState;

class QVXmlNode {
 public:
  // A handle that refers to nothing.
  QVXmlNode();

  bool isNull() const { return node_ == nullptr; }
  explicit operator bool() const { return node_ != nullptr; }

  // The rest throw _com_error(E_POINTER) when called on a null handle.

  // Evaluates the XPath 1.0 expression with this node as context and gives the first matching
  // node in document order: S_OK and the node, or S_FALSE and a null node when nothing matched.
  // An expression that does not compile or does not give a node set yields E_INVALIDARG and a
  // null node. Attribute nodes cannot be represented and are skipped.
  // Comparisons follow XPath: [@ID=//Id] compares the attribute with the untrimmed text of each
  // Id, so <Id> 7 </Id> does not match ID="7".
  HRESULT selectSingleNode(const std::string& xpath, QVXmlNode& out) const;

  // Every matching node in document order (attributes skipped). `result`, when given, receives
  // S_OK, S_FALSE (no match) or E_INVALIDARG (bad expression, empty list).
  std::vector<QVXmlNode> selectNodes(const std::string& xpath, HRESULT* result = nullptr) const;

  // The element's name, or "#text", "#cdata-section", "#comment", "#document" for the other
  // kinds of node.
  std::string nodeName() const;

  // Text content with leading and trailing white space removed: for an element, all of its
  // descendant text and CDATA joined in document order (comments excluded); for a text, CDATA
  // or comment node, its own value.
  std::string text() const;

  // First child node of any kind, or a null handle.
  QVXmlNode firstChild() const;

  // All child nodes in order.
  std::vector<QVXmlNode> childNodes() const;

  // First child element named `name` (exact, case-sensitive), or a null handle. Same result as
  // the XPath child step `name`, without compiling an expression or listing the children.
  QVXmlNode childElement(const char* name) const;
  // The next sibling element named `name`, or a null handle.
  QVXmlNode nextSiblingElement(const char* name) const;

 private:
  friend class QVXmlDocument;
  QVXmlNode(std::shared_ptr<const QVXmlDocumentState> document, pugi::xml_node_struct* node);
  pugi::xml_node_struct* checkedNode() const;

  std::shared_ptr<const QVXmlDocumentState> document_;
  pugi::xml_node_struct* node_;
};

class QVXmlDocument {
 public:
  QVXmlDocument();

  // Parses the file at `path`. Returns S_OK; `success` tells whether the document loaded. A
  // missing file or a parse error leaves an empty document and a non-zero parseErrorCode().
  HRESULT load(const std::string& path, bool& success);

  // Parses `text` as a document, like load(). Empty text fails (no document element).
  HRESULT loadXML(const std::string& text, bool& success);
  // The same for text the document may keep (it is parsed in place, without a copy).
  HRESULT loadXML(std::string&& text, bool& success);

  // Root element of the loaded document, or a null handle when nothing is loaded.
  QVXmlNode documentElement() const;

  // 0 after a successful load (and before any load); the parser's non-zero status code after a
  // failed one.
  long parseErrorCode() const;

 private:
  template <typename Parse>
  HRESULT parseWith(Parse parse, bool& success);

  std::shared_ptr<const QVXmlDocumentState> state_;
  long parseErrorCode_;
};
