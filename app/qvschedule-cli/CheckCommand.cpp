// qvschedule check: loads the definition into the scheduler and prints its verdict with a summary.
#include "CliLogSink.h"
#include "Commands.h"
#include "DefinitionFile.h"
#include "DefinitionSummary.h"
#include "ExitCodes.h"
#include "JsonOutput.h"
#include "Output.h"

#include "QVSchedule.h"

#include <memory>
#include <unistd.h>

int commandCheck(const CheckOptions& options) {
  const Definition definition = readDefinition(options.definition);
  auto sink = std::make_shared<CliLogSink>(false, std::string());
  QVLogger::SetSink(sink);
  std::string problem;
  const bool valid = loadDefinition(definition, problem);
  CQVSchedulerFacade::stop();
  QVLogger::SetSink(nullptr);
  const DefinitionSummary summary = valid ? summarizeDefinition(definition.text) : DefinitionSummary();
  if (options.format == Format::Json) {
    const std::vector<std::string> reasons =
        valid ? std::vector<std::string>() : refusalReasons(definition, sink->errors(), problem);
    writeStandard(STDOUT_FILENO, checkJson(definition.name, valid, summary, reasons) + '\n');
  } else if (valid) {
    writeStandard(STDOUT_FILENO, "valid: " + definition.name + '\n' + formatSummary(summary));
  } else {
    reportRefused(definition, sink->errors(), problem);
  }
  if (anyOutputFailed()) return exitcode::kOutputFailed;
  return valid ? exitcode::kFinished : exitcode::kRefused;
}
