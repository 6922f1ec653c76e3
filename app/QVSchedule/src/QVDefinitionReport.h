// The diagnostics of one load of a definition while it runs: the builders record here the error
// that refuses the definition and the warnings of what they had to guess, each with the node it
// concerns; when the load ends, the report becomes the record of CQVDefinitionDiagnostics.
//
// A report is made on the stack of the loading call (CQVLoadTestSchedulerRunnerBuilder) and is
// the current report of its thread while it lives, so the builders reach it without passing it
// down. Outside a load the recording functions do nothing. One thread, no lock: only the
// publication at the end takes the record's mutex (a leaf).
#pragma once

#include "QVDefinitionDiagnostics.h"
#include "QVXmlDom.h"

#include <string>
#include <vector>

class CQVDefinitionReport {
 public:
  CQVDefinitionReport();
  ~CQVDefinitionReport();
  CQVDefinitionReport(const CQVDefinitionReport&) = delete;
  CQVDefinitionReport& operator=(const CQVDefinitionReport&) = delete;

  // The report of the load running on this thread, or null.
  static CQVDefinitionReport* current();

  // Only the first error is kept: a refusal stops the load at the first reason.
  void addError(QVDefinitionDiagnostic diagnostic);
  void addWarning(QVDefinitionDiagnostic diagnostic);
  // False once the warnings reached their limit; the warning is then counted as left out.
  bool roomForWarning();
  bool hasError() const { return hasError_; }

  // Publishes the record of this load: `loaded` false makes it a refusal (with a generic error
  // when no builder recorded one). Without a call, the destructor publishes a refusal.
  void finish(bool loaded);

 private:
  CQVDefinitionReport* previous_;
  bool finished_ = false;
  bool hasError_ = false;
  QVDefinitionDiagnostic error_;
  std::vector<QVDefinitionDiagnostic> warnings_;
  std::size_t droppedWarnings_ = 0;
};

// Records the refusal of the current load at `at` (a null node: no position); nothing outside a
// load. `message` is the text the library logged, or its own description when it logs none.
void QVDefinitionError(const QVXmlNode& at, const std::string& message, const std::string& value = std::string(),
                       const std::string& expected = std::string());
// Records a warning of the current load at `at`; nothing outside a load. Past the limit of
// warnings only counts it, without working out where it is.
void QVDefinitionWarning(const QVXmlNode& at, const std::string& message, const std::string& value = std::string(),
                         const std::string& expected = std::string());
// Whether a warning would be kept; when not, it is counted as left out and the caller gives it up
// (for warnings whose texts cost work to build, so that a document made of warnings loads fast).
bool QVDefinitionWarningKept();
// Records the refusal of a document that did not load, at the parser's position.
void QVDefinitionParseError(const QVXmlParseError& error);

// Replaces the record of the last load (CQVDefinitionDiagnostics); the error, if any, comes last.
void QVPublishDefinitionDiagnostics(std::vector<QVDefinitionDiagnostic> diagnostics, bool refused);

// A number's text as the reader takes it: its value and what the reader had to guess.
struct QVDefinitionNumber {
  int value = 0;
  bool digits = false;    // the text has a number at all
  bool trailing = false;  // text follows the number ("5m", "1e3")
  bool clamped = false;   // the number is out of the 32-bit range and was clamped
};
QVDefinitionNumber QVParseDefinitionNumber(const std::string& text);

// How a number element of a definition is read, for its warnings.
enum class QVNumberUse {
  Positive,  // must be above 0 (Count, Interval, TotalVusersNumber): 0 or less refuses the action
  Seconds,   // 0 or less gives 0 seconds (RunFor)
  Wait,      // 0 or less gives no wait at all (DelayAfterInitialization, a start interval)
};

// The number of the element's text (CQVDefinitionDiagnostics::readNumber), with a warning for text
// after the number, text that is no number, a value out of the 32-bit range (clamped) and a
// negative value that the reader replaces. A Positive number of 0 or less gets no warning: it
// refuses the definition, which the caller records.
int QVReadNumberElement(const QVXmlNode& element, QVNumberUse use);

// What the format expects in a number element, in words ("a whole number of seconds, 0 or more").
std::string QVExpectedNumber(const std::string& elementName);
