// The definition a subcommand works on: a file, standard input ("-"), or the built-in example
// when none is given. The file is read once (pipes, /dev/stdin and named pipes included) and its
// text, converted to UTF-8 (DefinitionText.h), is what the library loads and what the program's
// summary reads.
#pragma once

#include "QVDefinitionDiagnostics.h"

#include <string>
#include <vector>

struct Definition {
  std::string path;     // as given: empty for the built-in example, "-" for standard input
  std::string name;     // for messages
  std::string text;     // UTF-8
  std::string problem;  // why the text cannot be used (read error, encoding); empty when it can
};

Definition readDefinition(const std::string& path);

// Whether the scheduler loaded a definition, and everything said about it: a reading problem,
// the library's diagnostics (CQVDefinitionDiagnostics: its warnings, and its error when it
// refused), an exception's text; the program may add warnings of its own (the vuser pools).
struct DefinitionVerdict {
  bool loaded = false;
  std::vector<QVDefinitionDiagnostic> diagnostics;

  bool hasWarnings() const;
  // Refused by the scheduler, or, with --strict, warned about.
  bool refused(bool strict) const { return !loaded || (strict && hasWarnings()); }
};

// Loads the text into the scheduler (setXMLString) unless it could not be read.
DefinitionVerdict loadDefinition(const Definition& definition);

// "FILE:LINE:COL: error: MESSAGE" (or warning; with strict, a warning is an error marked
// [--strict]), then where ("at:"), what was found and what was expected, one line each when known.
std::string formatDiagnostic(const std::string& file, const QVDefinitionDiagnostic& diagnostic, bool strict);
// Prints every diagnostic on standard error.
void reportDiagnostics(const Definition& definition, const std::vector<QVDefinitionDiagnostic>& diagnostics,
                       bool strict);
