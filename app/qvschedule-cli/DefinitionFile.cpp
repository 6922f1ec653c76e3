#include "DefinitionFile.h"

#include "BuiltinExample.h"
#include "DefinitionText.h"
#include "Output.h"
#include "QVSchedule.h"
#include "QVWinTypes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads everything from `fd` to its end; 0 or the errno.
int readAll(int fd, std::string& text) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// The bytes of the file (or of standard input for "-"); empty `problem` when read.
std::string readBytes(const std::string& path, std::string& problem) {
  const bool standardInput = path == "-";
  const std::string what = standardInput ? "standard input" : "the file";
  const int fd = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = "cannot read " + what + ": " + errorText(errno);
    return {};
  }
  std::string text;
  struct stat info;
  int error = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? EISDIR : readAll(fd, text);
  if (!standardInput) close(fd);
  if (error != 0) problem = "cannot read " + what + ": " + errorText(error);
  if (error == 0 && text.empty()) problem = what + " is empty";
  return text;
}

}  // namespace

Definition readDefinition(const std::string& path) {
  Definition definition;
  definition.path = path;
  if (path.empty()) {
    definition.name = kBuiltinExampleName;
    definition.text = kBuiltinExampleXml;
    return definition;
  }
  definition.name = path == "-" ? "standard input" : path;
  definition.text = readBytes(path, definition.problem);
  if (definition.problem.empty()) definitionTextToUtf8(definition.text, definition.problem);
  return definition;
}

namespace {

QVDefinitionDiagnostic plainError(const std::string& message) {
  QVDefinitionDiagnostic diagnostic;
  diagnostic.message = message;
  return diagnostic;
}

// A value as printed: control characters escaped, at most 80 characters.
std::string printable(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (out.size() >= 80) return out + "...";
    if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

bool DefinitionVerdict::hasWarnings() const {
  for (const QVDefinitionDiagnostic& d : diagnostics) {
    if (d.severity == QVDefinitionDiagnostic::SEVERITY_WARNING) return true;
  }
  return false;
}

DefinitionVerdict loadDefinition(const Definition& definition) {
  DefinitionVerdict verdict;
  if (!definition.problem.empty()) {
    verdict.diagnostics.push_back(plainError(definition.problem));
    return verdict;
  }
  try {
    verdict.loaded = CQVSchedulerFacade::setXMLString(definition.text.c_str());
    verdict.diagnostics = CQVDefinitionDiagnostics::getLastLoadDiagnostics();
  } catch (const _com_error& error) {
    verdict.diagnostics.push_back(plainError(std::string("XML services error: ") + error.ErrorMessage()));
  } catch (const std::exception& error) {
    verdict.diagnostics.push_back(plainError(error.what()));
  }
  return verdict;
}

std::string formatDiagnostic(const std::string& file, const QVDefinitionDiagnostic& diagnostic, bool strict) {
  const bool warning = diagnostic.severity == QVDefinitionDiagnostic::SEVERITY_WARNING;
  std::string out = file;
  if (diagnostic.line > 0) out += ":" + std::to_string(diagnostic.line) + ":" + std::to_string(diagnostic.column);
  out += warning && !strict ? ": warning: " : ": error: ";
  out += diagnostic.message + (warning && strict ? " [--strict]\n" : "\n");
  if (!diagnostic.path.empty()) out += "  at:       " + diagnostic.path + "\n";
  if (!diagnostic.value.empty()) out += "  found:    \"" + printable(diagnostic.value) + "\"\n";
  if (!diagnostic.expected.empty()) out += "  expected: " + diagnostic.expected + "\n";
  return out;
}

void reportDiagnostics(const Definition& definition, const std::vector<QVDefinitionDiagnostic>& diagnostics,
                       bool strict) {
  std::string text;
  for (const QVDefinitionDiagnostic& diagnostic : diagnostics) {
    text += formatDiagnostic(definition.name, diagnostic, strict);
  }
  if (!text.empty()) writeStandard(STDERR_FILENO, text);
}
