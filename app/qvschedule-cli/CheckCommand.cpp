// qvschedule check: loads the definition into the scheduler and prints its verdict with a summary.
#include "CliLogSink.h"
#include "Commands.h"
#include "DefinitionFile.h"
#include "DefinitionSummary.h"

#include "QVSchedule.h"

#include <iostream>
#include <memory>

int commandCheck(const std::string& path) {
  const Definition definition = readDefinition(path);
  auto sink = std::make_shared<CliLogSink>(false, std::string());
  QVLogger::SetSink(sink);
  std::string problem;
  const bool valid = loadDefinition(definition, problem);
  CQVSchedulerFacade::stop();
  QVLogger::SetSink(nullptr);
  if (!valid) {
    reportRefused(definition, sink->errors(), problem);
    return 1;
  }
  std::cout << "valid: " << definition.name << '\n' << formatSummary(summarizeDefinition(definition.text));
  return 0;
}
