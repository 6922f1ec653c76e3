// The definition a subcommand works on: a file, standard input ("-"), or the built-in example
// when none is given. The file is read once (pipes, /dev/stdin and named pipes included) and its
// text, converted to UTF-8 (DefinitionText.h), is what the library loads and what the program's
// summary reads.
#pragma once

#include <string>
#include <vector>

struct Definition {
  std::string path;     // as given: empty for the built-in example, "-" for standard input
  std::string name;     // for messages
  std::string text;     // UTF-8
  std::string problem;  // why the text cannot be used (read error, encoding); empty when it can
};

Definition readDefinition(const std::string& path);

// Loads the text into the scheduler (setXMLString); the verdict is the library's. `problem` gets
// the reading problem or an exception's text.
bool loadDefinition(const Definition& definition, std::string& problem);

// Prints why the scheduler refused the definition on standard error.
void reportRefused(const Definition& definition, const std::vector<std::string>& errors, const std::string& problem);
// The reasons as lines: the library's messages and `problem`, or when there is none, what the
// program's own reading of the text finds (not well-formed, no definition for the current id).
std::vector<std::string> refusalReasons(const Definition& definition, const std::vector<std::string>& errors,
                                        const std::string& problem);
