// The last error of an XML reader: its text, the text's size and a code.
#pragma once

#include "portlib32.h"

#include <memory>
#include <string>

class CWBXmlErrorHandler {
 public:
  CWBXmlErrorHandler();
  ~CWBXmlErrorHandler();
  CWBXmlErrorHandler(const CWBXmlErrorHandler&) = delete;
  CWBXmlErrorHandler& operator=(const CWBXmlErrorHandler&) = delete;

  // Text of the last error, "" when none was recorded.
  std::string getErrorText() const;
  // -1 failed platform call or no document, -2 bad parameter, else the parser's error code;
  // 0 when none was recorded.
  int getErrorCode() const;
  // Length of the error text plus one; 0 when none was recorded.
  int getErrorTextSize() const;

 protected:
  // Replaces the recorded error with a copy of `text` and `code`.
  void setError(OsStr text, int code);
  // Replaces the recorded error with a printf-style text and `code`.
  void setErrorFormatted(int code, const char* format, ...) __attribute__((format(printf, 3, 4)));

  std::unique_ptr<char[]> errorText;
  int errorTextSize;
  int errorCode;
};
