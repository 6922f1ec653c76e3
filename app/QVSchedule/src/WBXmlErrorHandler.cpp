#include "WBXmlErrorHandler.h"

#include <cstdarg>

CWBXmlErrorHandler::CWBXmlErrorHandler() : errorTextSize(0), errorCode(0) {}

CWBXmlErrorHandler::~CWBXmlErrorHandler() = default;

std::string CWBXmlErrorHandler::getErrorText() const { return errorText ? std::string(errorText.get()) : std::string(); }

int CWBXmlErrorHandler::getErrorCode() const { return errorCode; }

int CWBXmlErrorHandler::getErrorTextSize() const { return errorTextSize; }

void CWBXmlErrorHandler::setError(OsStr text, int code) {
  errorText.reset();
  const size_t size = xfnOsStrLength(text) + 1;
  errorText.reset(new char[size]);
  os_strncpyz(errorText.get(), text, size);
  errorTextSize = static_cast<int>(size);
  errorCode = code;
}

void CWBXmlErrorHandler::setErrorFormatted(int code, const char* format, ...) {
  OsStr text = nullptr;
  va_list args;
  va_start(args, format);
  xfvOsStrFormatV(&text, format, args);
  va_end(args);
  try {
    setError(text, code);
  } catch (...) {
    xfvOsStrDestruct(&text);
    throw;
  }
  xfvOsStrDestruct(&text);
}
