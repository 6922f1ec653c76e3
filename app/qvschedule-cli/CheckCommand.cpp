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
  // The library's log records are kept off the console: its diagnostics say the same, located.
  QVLogger::SetSink(std::make_shared<CliLogSink>(false, std::string()));
  const DefinitionVerdict verdict = loadDefinition(definition);
  CQVSchedulerFacade::stop();
  QVLogger::SetSink(nullptr);
  const bool refused = verdict.refused(options.strict);
  const DefinitionSummary summary = refused ? DefinitionSummary() : summarizeDefinition(definition.text);
  if (options.format == Format::Json) {
    writeStandard(STDOUT_FILENO, checkJson(definition.name, !refused, summary, verdict.diagnostics) + '\n');
  } else {
    reportDiagnostics(definition, verdict.diagnostics, options.strict);
    if (!refused) writeStandard(STDOUT_FILENO, "valid: " + definition.name + '\n' + formatSummary(summary));
  }
  if (anyOutputFailed()) return exitcode::kOutputFailed;
  return refused ? exitcode::kRefused : exitcode::kFinished;
}
