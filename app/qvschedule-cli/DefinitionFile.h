// The definition a subcommand works on: a file, or the built-in example when none is given.
#pragma once

#include <string>
#include <vector>

struct Definition {
  std::string path;  // empty: the built-in example
  std::string name;
  std::string text;  // the file's text, for the summary
  bool readable = true;

  bool fromFile() const { return !path.empty(); }
};

Definition readDefinition(const std::string& path);

// Loads into the scheduler; the verdict is the library's. `problem` gets an exception's text.
bool loadDefinition(const Definition& definition, std::string& problem);

// Prints why the scheduler refused the definition on standard error.
void reportRefused(const Definition& definition, const std::vector<std::string>& errors, const std::string& problem);
