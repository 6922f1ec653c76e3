#include "QVDefinitionReport.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace {

thread_local CQVDefinitionReport* currentReport = nullptr;

QVDefinitionDiagnostic located(QVDefinitionDiagnostic::Severity severity, const QVXmlNode& at,
                               const std::string& message, const std::string& value, const std::string& expected) {
  QVDefinitionDiagnostic diagnostic;
  diagnostic.severity = severity;
  diagnostic.message = message;
  diagnostic.value = value;
  diagnostic.expected = expected;
  if (at) {
    diagnostic.path = at.locationPath();
    diagnostic.line = at.line();
    diagnostic.column = at.column();
  }
  return diagnostic;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

CQVDefinitionReport::CQVDefinitionReport() : previous_(currentReport) { currentReport = this; }

CQVDefinitionReport::~CQVDefinitionReport() {
  if (!finished_) finish(false);
  currentReport = previous_;
}

CQVDefinitionReport* CQVDefinitionReport::current() { return currentReport; }

void CQVDefinitionReport::addError(QVDefinitionDiagnostic diagnostic) {
  if (hasError_) return;
  diagnostic.severity = QVDefinitionDiagnostic::SEVERITY_ERROR;
  error_ = std::move(diagnostic);
  hasError_ = true;
}

bool CQVDefinitionReport::roomForWarning() {
  // One place short of the limit is kept for the note of how many more there were.
  if (warnings_.size() + 1 < CQVDefinitionDiagnostics::kMaxWarnings) return true;
  ++droppedWarnings_;
  return false;
}

void CQVDefinitionReport::addWarning(QVDefinitionDiagnostic diagnostic) {
  if (!roomForWarning()) return;
  diagnostic.severity = QVDefinitionDiagnostic::SEVERITY_WARNING;
  warnings_.push_back(std::move(diagnostic));
}

void CQVDefinitionReport::finish(bool loaded) {
  if (finished_) return;
  finished_ = true;
  std::vector<QVDefinitionDiagnostic> all = std::move(warnings_);
  std::stable_sort(all.begin(), all.end(), [](const QVDefinitionDiagnostic& a, const QVDefinitionDiagnostic& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  if (droppedWarnings_ > 0) {
    QVDefinitionDiagnostic more;
    more.severity = QVDefinitionDiagnostic::SEVERITY_WARNING;
    more.message = std::to_string(droppedWarnings_) + " more warning" + (droppedWarnings_ == 1 ? "" : "s") +
                   " not listed";
    all.push_back(std::move(more));
  }
  if (!loaded) {
    if (!hasError_) error_.message = "the definition was refused";
    all.push_back(error_);
  }
  QVPublishDefinitionDiagnostics(std::move(all), !loaded);
}

void QVDefinitionError(const QVXmlNode& at, const std::string& message, const std::string& value,
                       const std::string& expected) {
  if (CQVDefinitionReport* report = CQVDefinitionReport::current()) {
    report->addError(located(QVDefinitionDiagnostic::SEVERITY_ERROR, at, message, value, expected));
  }
}

void QVDefinitionWarning(const QVXmlNode& at, const std::string& message, const std::string& value,
                         const std::string& expected) {
  CQVDefinitionReport* report = CQVDefinitionReport::current();
  if (report && report->roomForWarning()) {
    report->addWarning(located(QVDefinitionDiagnostic::SEVERITY_WARNING, at, message, value, expected));
  }
}

bool QVDefinitionWarningKept() {
  CQVDefinitionReport* report = CQVDefinitionReport::current();
  return report && report->roomForWarning();
}

void QVDefinitionParseError(const QVXmlParseError& error) {
  CQVDefinitionReport* report = CQVDefinitionReport::current();
  if (!report) return;
  QVDefinitionDiagnostic diagnostic;
  diagnostic.message = error.reason;
  diagnostic.line = error.line;
  diagnostic.column = error.column;
  if (error.code == QVXmlDocument::kErrorUnreadable) {
    diagnostic.expected = "a file that can be read";
  } else {
    diagnostic.expected = "a well-formed XML document without a document type declaration (parser error " +
                          std::to_string(error.code) + ")";
  }
  report->addError(std::move(diagnostic));
}

QVDefinitionNumber QVParseDefinitionNumber(const std::string& text) {
  QVDefinitionNumber number;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The magnitude stops growing once it is out of range; the result is clamped below.
  long long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number.digits = true;
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (text[i] - '0');
  }
  const long long value = negative ? -magnitude : magnitude;
  number.clamped = value > INT_MAX || value < INT_MIN;
  number.value = static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
  number.trailing = number.digits && i < text.size();
  return number;
}

std::string QVExpectedNumber(const std::string& elementName) {
  if (elementName == "Count") return "a whole number of vusers per batch, above 0";
  if (elementName == "Interval") return "a whole number of seconds between batches, above 0";
  if (elementName == "TotalVusersNumber") return "a whole number of vusers, above 0";
  return "a whole number of seconds, 0 or more";
}

int QVReadNumberElement(const QVXmlNode& element, QVNumberUse use) {
  const std::string text = element.text();
  const QVDefinitionNumber number = QVParseDefinitionNumber(text);
  const bool refusal = use == QVNumberUse::Positive && number.value <= 0;  // reported by the caller
  const bool replaced = number.value < 0 && !number.clamped;
  if (refusal || (number.digits && !number.clamped && !number.trailing && !replaced)) return number.value;
  const std::string name = element.nodeName();
  const std::string expected = QVExpectedNumber(name);
  const std::string read = std::to_string(number.value);
  if (!number.digits) {
    QVDefinitionWarning(element, name + (text.empty() ? " is empty" : " " + quoted(text) + " is not a number") +
                                     " and is read as 0",
                        text, expected);
  } else if (number.clamped) {
    QVDefinitionWarning(element, name + " " + text + " is out of range and is read as " + read, text, expected);
  } else if (number.trailing) {
    QVDefinitionWarning(element,
                        name + " " + quoted(text) + " is read as " + read + " (the text after the number is ignored)",
                        text, expected);
  }
  if (replaced) {
    const std::string meaning = use == QVNumberUse::Wait ? "no wait" : "0 seconds";
    QVDefinitionWarning(element, name + " " + read + " is below 0 and means " + meaning, text, expected);
  }
  return number.value;
}
