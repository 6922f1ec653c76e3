// What the library found wrong or doubtful in the last definition it was asked to load, and
// where: for hosts that show more than the logged message (an editor, a command line, a script).
// The facade is unchanged; this sits beside it.
//
// Every load (CQVSchedulerFacade::setXMLFile or setXMLString) replaces the record:
// - A refused load has exactly one error, the reason it was refused. Its message is the exact text
//   the library logged for it; for the refusals the library logs nothing for (the document did not
//   load or parse, no definition for the current scheduler id, no SchedulerType, no Scheduling, a
//   RunUntilComplete that holds RunIndefinitely) it is a description of the library's own.
// - Warnings name what the library read but had to guess: a number with text after it or out of
//   range, a value it replaces, an element it does not know or does not read, a repeated group
//   name, a schedule without actions, a group that can never start. A definition with warnings
//   loads as it would without them; they change nothing. At most kMaxWarnings are kept, the last
//   of them saying how many more there were.
//
// Threads: any thread may read the record at any time; it is guarded by a leaf mutex of its own.
// It is process-wide, like the scheduler: the last load wins.
#pragma once

#include "QVScheduleExport.h"

#include <cstddef>
#include <string>
#include <vector>

struct QVDefinitionDiagnostic {
  enum Severity { SEVERITY_ERROR = 0, SEVERITY_WARNING = 1 };

  Severity severity = SEVERITY_ERROR;
  // The logged message of a refusal, or the text of a warning.
  std::string message;
  // The element (or other node) concerned, as a location path from the root element:
  // /LoadTest/Scheduler[@ID="7"]/Manual/Groups/GroupScheduler[2]/StartupMode. Empty when the
  // document did not load.
  std::string path;
  // Where it is in the text, both counted from 1 (columns count characters); 0 when unknown.
  // For a document that does not parse, where the parser stopped.
  unsigned long line = 0;
  unsigned long column = 0;
  // The text found there, when it matters (a number's text, an element's name); else empty.
  std::string value;
  // What the format expects there, with a suggestion for a near name ("did you mean ...?").
  std::string expected;
};

class QVSCHEDULE_EXPORT CQVDefinitionDiagnostics {
 public:
  static constexpr std::size_t kMaxWarnings = 100;

  // Every diagnostic of the last load: its warnings in document order, then, when the load was
  // refused, its error. Empty before the first load.
  static std::vector<QVDefinitionDiagnostic> getLastLoadDiagnostics();
  // True when the last load was refused; `error` then receives why.
  static bool getLastLoadError(QVDefinitionDiagnostic& error);

  // A number of a definition as the library reads it (C's atoi, clamped to the 32-bit range):
  // leading white space, an optional sign, then decimal digits up to the first other character;
  // no digits give 0.
  static int readNumber(const std::string& text);
};
