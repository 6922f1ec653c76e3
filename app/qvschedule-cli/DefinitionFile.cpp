#include "DefinitionFile.h"

#include "BuiltinExample.h"
#include "QVSchedule.h"
#include "QVWinTypes.h"

#include <fstream>
#include <iostream>
#include <sstream>

Definition readDefinition(const std::string& path) {
  Definition definition;
  definition.path = path;
  if (path.empty()) {
    definition.name = kBuiltinExampleName;
    definition.text = kBuiltinExampleXml;
    return definition;
  }
  definition.name = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    definition.readable = false;
    return definition;
  }
  std::ostringstream text;
  text << in.rdbuf();
  definition.text = text.str();
  return definition;
}

bool loadDefinition(const Definition& definition, std::string& problem) {
  try {
    return definition.fromFile() ? CQVSchedulerFacade::setXMLFile(definition.path.c_str())
                                 : CQVSchedulerFacade::setXMLString(definition.text.c_str());
  } catch (const _com_error& error) {
    problem = std::string("XML services error: ") + error.ErrorMessage();
  } catch (const std::exception& error) {
    problem = error.what();
  } catch (...) {
    problem = "unknown error";
  }
  return false;
}

void reportRefused(const Definition& definition, const std::vector<std::string>& errors, const std::string& problem) {
  std::cerr << "qvschedule: the scheduler refused the definition " << definition.name << '\n';
  if (!definition.readable) std::cerr << "  cannot read " << definition.path << '\n';
  for (const std::string& error : errors) std::cerr << "  " << error << '\n';
  if (!problem.empty()) std::cerr << "  " << problem << '\n';
  if (errors.empty() && problem.empty() && definition.readable) {
    std::cerr << "  (no message: no \"Manual\" for the current scheduler id, or no SchedulerType)\n";
  }
}
