// qvschedule: runs, previews and checks scheduler definitions, as a host of the QVSchedule
// library over simulated vusers.
#include "Commands.h"
#include "ExitCodes.h"
#include "OptionRanges.h"
#include "Output.h"
#include "Signals.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>
#include <map>
#include <string>

const char* const kExitStatusHelp = R"(Exit status:
  0    the schedule finished (check: the definition is valid)
  1    the definition was refused or could not be read
  2    usage error
  3    run: stopped before the schedule finished (s, a "stop" line, Ctrl-C or SIGTERM)
  4    preview: the schedule was still running after 30 days of schedule time
  5    an output could not be written (chart, series, log file, standard output or error)
  6    run: a --threshold failed (the summary says which)
  7    run: no HTTP vuser could connect to its target
  8    run: the --serve address could not be listened on
  70   the scheduler could not run (an internal error): it did not start (no timer thread), or,
       in a preview, it was still busy after a minute of real time
  130  a second Ctrl-C (143: a second SIGTERM) ended the program at once
  141  standard output or error was a pipe closed by its reader (as when SIGPIPE ends it))";

namespace {

const char* const kHelpFooter = R"(DEF.xml is a definition file, or - for standard input. Without it every subcommand uses a
built-in example, the typical road: ramp up 10 vusers (3 every 15 s), keep them running for
60 s, stop them all.

Simulated vusers (run and preview). Each vuser group has a pool of vusers (--vusers each,
--group-vusers NAME=N for one group); a definition for the whole scenario has one pool.
  init n / init all    initializes up to n / all idle vusers
  run n / run all      starts up to n / all vusers not yet started (initialized ones first)
  stop n / stop all    stops up to n / all running vusers, the most recently started first
  status               2 (no more vusers) when the pool had fewer vusers left than asked
                       (for "all": none at all), else 0; a duration may always start
  initialized events   raised --init-seconds after the last initialization call of a pool
                       (init all, or an init answered 2); by groups, the scenario-wide event
                       follows when every group has had its last initialization call
  run until complete   vusers started in that mode complete --complete-seconds after start
  group finished       "group finished running" is raised as soon as the scheduler has
                       finished the group's schedule and none of its vusers is running
                       (a group that starts after another waits for that event)
Once the scheduler reports the schedule finished, only vusers running until complete are still
simulated, until they complete.

Problems with a definition are printed as FILE:LINE:COL: error: MESSAGE (the library's message),
then the element's path, the value found and what was expected. Warnings (warning: ...) name what
the reader had to guess: numbers with text after them or out of range, values it replaces,
elements it does not read (with a near name), repeated group names, empty schedules, groups that
can never start, and (run, preview) groups that ask for more vusers than their pool has. They do
not refuse the definition unless --strict is given.

Keys while running: p pause, r resume, s stop, Ctrl-C stop (SIGTERM too; a second one ends the
program at once). When standard input is not a terminal, lines "p", "r" and "s" are read from it.

Timeline lines: TIME KIND GROUP CALL COUNT STATUS [mode] [pool after the call], where TIME is
mm:ss.mmm (h:mm:ss.mmm from an hour on) since the start, KIND is call (the scheduler called the
vusers), event (the vusers raised an event), vusers (vusers completed), log (the library's test
log, with --log-lines), note or progress. With --format ndjson, standard output gets one JSON
object per line instead (time in seconds, kind, group, call, count, status, mode, pool; text for
notes and log lines) and the human lines go to standard error.

)";

const char* const kCommands = "run, preview, check, version";
const char* const kStrictHelp = "refuse the definition (exit 1) when there is any warning about it";

const std::map<std::string, Format> kNdjson = {{"text", Format::Text}, {"ndjson", Format::Json}};
const std::map<std::string, Format> kJson = {{"text", Format::Text}, {"json", Format::Json}};

CLI::App* addRun(CLI::App& app, RunOptions& run) {
  CLI::App* command = app.add_subcommand("run", "run the schedule on the clock (real time, or --speed times faster)");
  command->add_option("definition", run.definition, "definition file DEF.xml, - for standard input");
  command->add_option("--speed", run.speed, "how many times faster than real time")
      ->check(numberFromTo(kMinSpeed, kMaxSpeed, false))
      ->capture_default_str();
  addPoolOptions(command, run.pools);
  command->add_option("--log", run.logPath, "append every record of the library's log to FILE");
  command->add_option("--progress-every", run.progressSeconds,
                      "schedule seconds between progress lines when the output is not a terminal (0: none)")
      ->check(numberFromTo(0, kMaxProgressSeconds, false))
      ->capture_default_str();
  command->add_flag("--log-lines", run.logLines, "also print the library's test-log lines");
  command->add_flag("--no-library-lines", "the default (kept for scripts)")->group("");
  command->add_flag("--virtual-clock", run.virtualClock,
                    "tests: schedule time moves only by lines \"advance SECONDS\" on standard input")
      ->group("");
  command->add_option("--format", run.format, "text, or ndjson: one JSON object per timeline line")
      ->transform(CLI::CheckedTransformer(kNdjson));
  addHttpOptions(command, run.http);
  addServeOptions(command, run.serve);
  command->add_flag("--strict", run.strict, kStrictHelp);
  return command;
}

CLI::App* addPreview(CLI::App& app, PreviewOptions& preview) {
  CLI::App* command = app.add_subcommand("preview", "run the whole schedule in virtual time and print its timeline");
  command->add_option("definition", preview.definition, "definition file DEF.xml, - for standard input");
  command->add_option("--svg", preview.svgPath, "write a chart of running and initialized vusers to FILE");
  command->add_option("--csv", preview.csvPath, "write the chart's series to FILE");
  command->add_option("--json", preview.jsonPath, "write the timeline, the series and the summary to FILE as JSON");
  addPoolOptions(command, preview.pools);
  command->add_flag("--log-lines,--library-lines", preview.logLines, "also print the library's test-log lines");
  command->add_option("--format", preview.format, "text, or ndjson: one JSON object per timeline line")
      ->transform(CLI::CheckedTransformer(kNdjson));
  command->add_flag("--strict", preview.strict, kStrictHelp);
  return command;
}

CLI::App* addCheck(CLI::App& app, CheckOptions& check) {
  CLI::App* command = app.add_subcommand("check", "load the definition and report valid with a summary, or why not");
  command->add_option("definition", check.definition, "definition file DEF.xml, - for standard input");
  command->add_option("--format", check.format, "text, or json: the verdict, the summary and the diagnostics")
      ->transform(CLI::CheckedTransformer(kJson));
  command->add_flag("--strict", check.strict, kStrictHelp);
  return command;
}

// The first word that is not an option must name a command.
bool knownCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    for (const char* name : {"run", "preview", "check", "version"}) {
      if (std::strcmp(argv[i], name) == 0) return true;
    }
    std::cerr << "qvschedule: unknown command '" << argv[i] << "'; the commands are " << kCommands
              << " (qvschedule --help)\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ensureStandardDescriptors();
  const std::string footer = std::string(kHelpFooter) + kExitStatusHelp;
  CLI::App app{"qvschedule: runs, previews and checks scheduler definitions over simulated vusers"};
  app.footer(footer);
  app.require_subcommand(1);
  app.set_version_flag("--version", "qvschedule " QVSCHEDULE_VERSION);
  RunOptions run;
  PreviewOptions preview;
  CheckOptions check;
  CLI::App* runCommand = addRun(app, run);
  CLI::App* previewCommand = addPreview(app, preview);
  CLI::App* checkCommand = addCheck(app, check);
  CLI::App* versionCommand = app.add_subcommand("version", "print the program's version");
  // A subcommand's own footer (run's HTTP vusers) goes between the common text and the exit statuses.
  for (CLI::App* command : {runCommand, previewCommand, checkCommand}) {
    command->footer(std::string(kHelpFooter) + command->get_footer() + kExitStatusHelp);
  }
  if (!knownCommand(argc, argv)) return exitcode::kUsage;

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);  // help and version go to standard output
    if (status == 0 && !std::cout.flush()) reportOutputFailure("standard output", errno);
    if (anyOutputFailed()) return exitcode::kOutputFailed;
    return status == 0 ? exitcode::kFinished : exitcode::kUsage;
  }
  if (*versionCommand) {
    return writeStandard(STDOUT_FILENO, "qvschedule " QVSCHEDULE_VERSION "\n") ? exitcode::kFinished
                                                                               : exitcode::kOutputFailed;
  }
  if (*runCommand) return commandRun(run);
  if (*previewCommand) return commandPreview(preview);
  return commandCheck(check);
}
