// Loads a scheduler definition into the XML document object model and answers path queries
// against its root element. Expected failures return false and leave the error record of the
// base; use of an absent document throws _com_error(E_POINTER).
#pragma once

#include "QVXmlDom.h"
#include "WBXmlErrorHandler.h"
#include "portlib32.h"

#include <memory>

class CXmlReader : public CWBXmlErrorHandler {
 public:
  // No document yet: call CreateDocument (or Load/LoadXML, which create it) first.
  CXmlReader();
  virtual ~CXmlReader();

  // Creates the document unless there is one already.
  virtual bool CreateDocument();
  // Takes `doc` as the document and fetches its root element (null when it has none).
  // A null `doc` throws _com_error(E_POINTER).
  virtual bool SetDocument(std::shared_ptr<QVXmlDocument> doc);
  // Loads the file at `path`; an empty path is a bad parameter (code -2).
  virtual bool Load(OsStr path);
  // Loads `text` as a document; empty text fails to parse.
  virtual bool LoadXML(OsStr text);

  // The step after every load: on success fetches the root element; on failure records the
  // parser's error code (when non-zero) and returns false. After a failed load the root
  // element of an earlier load, if any, stays in place.
  bool Init(bool success);

  // Selects the first node matching the path expression `path` (the forms of
  // QVXmlNode::selectSingleNode) relative to the root element. True exactly when a node was found;
  // no match and a path of another form both give false without touching the error record.
  bool GetNode(OsStr path, QVXmlNode& out);

  // The root element of the loaded document; a null node when none is loaded.
  QVXmlNode GetRoot() const { return documentElement; }

  // Why the last load did not parse: the parser's code, its description and the position (code 0
  // after a successful load, or when no document was loaded).
  QVXmlParseError GetParseError() const { return document ? document->parseError() : QVXmlParseError(); }

 protected:
  // Records a failed platform call: the result code's message, code -1.
  void setPlatformError(HRESULT hr);

  std::shared_ptr<QVXmlDocument> document;
  QVXmlNode documentElement;
};
