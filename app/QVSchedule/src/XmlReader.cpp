#include "XmlReader.h"

#include "QVScheduleLog.h"

#include <new>
#include <string>
#include <string_view>
#include <utility>

QV_SOURCE_FILE("XmlReader.cpp");

namespace {

// A narrow string as the DOM takes it: up to the first NUL, null as empty.
std::string_view toDomView(OsStr str) { return std::string_view(str != nullptr ? str : ""); }
std::string toDomString(OsStr str) { return std::string(toDomView(str)); }

}  // namespace

CXmlReader::CXmlReader() = default;

CXmlReader::~CXmlReader() = default;

void CXmlReader::setPlatformError(HRESULT hr) {
  OsStr text = nullptr;
  xfvOsStrFormat(&text, "%s", _com_error(hr).ErrorMessage());
  try {
    setError(text, -1);
  } catch (...) {
    xfvOsStrDestruct(&text);
    throw;
  }
  xfvOsStrDestruct(&text);
}

bool CXmlReader::CreateDocument() {
  if (document) {
    return true;
  }
  try {
    document = std::make_shared<QVXmlDocument>();
  } catch (const std::bad_alloc&) {
    setPlatformError(E_OUTOFMEMORY);
    return false;
  }
  return true;
}

bool CXmlReader::SetDocument(std::shared_ptr<QVXmlDocument> doc) {
  document = std::move(doc);
  documentElement = QVXmlNode();
  if (!document) {
    throw _com_error(E_POINTER);
  }
  documentElement = document->documentElement();
  return true;
}

bool CXmlReader::Load(OsStr path) {
  QV_TRACE_SCOPE("CXmlReader::Load");
  if (!CreateDocument()) {
    return false;
  }
  if (xfnOsStrLength(path) == 0) {
    setErrorFormatted(-2, "CXmlReader::%s Bad parameter", "Load");
    return false;
  }
  bool success = true;
  const HRESULT hr = document->load(toDomString(path), success);
  if (FAILED(hr)) {
    setPlatformError(hr);
  }
  return Init(success);
}

bool CXmlReader::LoadXML(OsStr text) {
  QV_TRACE_SCOPE("CXmlReader::LoadXML");
  if (!CreateDocument()) {
    return false;
  }
  bool success = true;
  const HRESULT hr = document->loadXML(toDomView(text), success);
  if (FAILED(hr)) {
    setPlatformError(hr);
  }
  return Init(success);
}

bool CXmlReader::Init(bool success) {
  if (!document) {
    throw _com_error(E_POINTER);
  }
  if (success) {
    documentElement = document->documentElement();
    return true;
  }
  const long code = document->parseErrorCode();
  if (code != 0) {
    setErrorFormatted(static_cast<int>(code), "CXmlReader::Init Xml parse error code");
  }
  return false;
}

bool CXmlReader::GetNode(OsStr path, QVXmlNode& out) {
  if (!document) {
    setErrorFormatted(-1, "Xml reader not initiated.");
    return false;
  }
  const std::string xpath = toDomString(path);
  out = QVXmlNode();
  if (!documentElement) {
    setErrorFormatted(-2, "CXmlReader::%s Bad parameter", "GetNode");
    return false;
  }
  // The selection's result code is not examined: no match and a path of another form both leave
  // `out` null.
  documentElement.selectSingleNode(xpath, out);
  return !out.isNull();
}
