#include "DefinitionFile.h"

#include "BuiltinExample.h"
#include "DefinitionSummary.h"
#include "DefinitionText.h"
#include "Output.h"
#include "QVSchedule.h"
#include "QVWinTypes.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
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
  const int fd = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = "cannot read " + path + ": " + errorText(errno);
    return {};
  }
  std::string text;
  struct stat info;
  int error = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? EISDIR : readAll(fd, text);
  if (!standardInput) close(fd);
  if (error != 0) problem = "cannot read " + path + ": " + errorText(error);
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
  if (definition.problem.empty() && !definitionTextToUtf8(definition.text, definition.problem)) {
    definition.problem = definition.name + ": " + definition.problem;
  }
  return definition;
}

bool loadDefinition(const Definition& definition, std::string& problem) {
  if (!definition.problem.empty()) {
    problem = definition.problem;
    return false;
  }
  try {
    return CQVSchedulerFacade::setXMLString(definition.text.c_str());
  } catch (const _com_error& error) {
    problem = std::string("XML services error: ") + error.ErrorMessage();
  } catch (const std::exception& error) {
    problem = error.what();
  } catch (...) {
    problem = "unknown error";
  }
  return false;
}

std::vector<std::string> refusalReasons(const Definition& definition, const std::vector<std::string>& errors,
                                        const std::string& problem) {
  std::vector<std::string> reasons = errors;
  if (!problem.empty()) reasons.push_back(problem);
  if (!reasons.empty()) return reasons;
  // The loader says nothing in these cases; the program's own reading of the same text tells which.
  const DefinitionSummary summary = summarizeDefinition(definition.text);
  if (!summary.parsed) {
    reasons.push_back("(no message from the library) not well-formed XML: " + summary.parseError);
  } else if (!summary.found) {
    reasons.push_back("(no message from the library) no \"Manual\" for the current scheduler id");
  } else {
    reasons.push_back("(no message from the library) no SchedulerType");
  }
  return reasons;
}

void reportRefused(const Definition& definition, const std::vector<std::string>& errors, const std::string& problem) {
  if (!definition.problem.empty()) {
    std::cerr << "qvschedule: " << definition.problem << '\n';
    return;
  }
  std::cerr << "qvschedule: the scheduler refused the definition " << definition.name << '\n';
  for (const std::string& reason : refusalReasons(definition, errors, problem)) std::cerr << "  " << reason << '\n';
}
