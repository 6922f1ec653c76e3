// qvschedule: runs, previews and checks scheduler definitions, as a host of the QVSchedule
// library over simulated vusers.
#include "Commands.h"

#include <CLI/CLI.hpp>

#include <string>

namespace {

const char* const kHelpFooter = R"(Without DEF.xml every subcommand uses a built-in example, the typical road: ramp up 10
vusers (3 every 15 s), keep them running for 60 s, stop them all.

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
Once the scheduler reports the schedule finished, the simulation stops.

Keys while running: p pause, r resume, s stop, Ctrl-C stop. When standard input is not a
terminal, lines "p", "r" and "s" are read from it instead.

Timeline lines: TIME KIND GROUP CALL COUNT STATUS [mode] [pool after the call], where TIME is
mm:ss.mmm since the start, KIND is call (the scheduler called the vusers), event (the vusers
raised an event), vusers (vusers completed), log (the library's test log), note or progress.

Exit status: 0 when the schedule finished or was stopped (check: the definition is valid),
1 when the definition is refused, 2 on a usage error.)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qvschedule: runs, previews and checks scheduler definitions over simulated vusers"};
  app.footer(kHelpFooter);
  app.require_subcommand(1);

  RunOptions run;
  CLI::App* runCommand = app.add_subcommand("run", "run the schedule on the clock (real time, or --speed times faster)");
  runCommand->add_option("definition", run.definition, "definition file DEF.xml (default: the built-in example)");
  runCommand->add_option("--speed", run.speed, "how many times faster than real time")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  runCommand->footer(kHelpFooter);
  addPoolOptions(runCommand, run.pools);
  runCommand->add_option("--log", run.logPath, "append every record of the library's log to FILE");
  runCommand->add_option("--progress-every", run.progressSeconds,
                         "schedule seconds between progress lines when the output is not a terminal (0: none)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  runCommand->add_flag("--no-library-lines", run.noLibraryLines, "do not print the library's test-log lines");
  addHttpOptions(runCommand, run.http);

  PreviewOptions preview;
  CLI::App* previewCommand =
      app.add_subcommand("preview", "run the whole schedule in virtual time and print its timeline");
  previewCommand->add_option("definition", preview.definition, "definition file DEF.xml (default: the built-in example)");
  previewCommand->add_option("--svg", preview.svgPath, "write a chart of running and initialized vusers to FILE");
  previewCommand->add_option("--csv", preview.csvPath, "write the chart's series to FILE");
  previewCommand->footer(kHelpFooter);
  addPoolOptions(previewCommand, preview.pools);
  previewCommand->add_flag("--library-lines", preview.libraryLines, "also print the library's test-log lines");

  std::string checkPath;
  CLI::App* checkCommand = app.add_subcommand("check", "load the definition and report valid with a summary, or why not");
  checkCommand->add_option("definition", checkPath, "definition file DEF.xml (default: the built-in example)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }

  int status = 0;
  if (*runCommand) {
    status = commandRun(run);
  } else if (*previewCommand) {
    status = commandPreview(preview);
  } else {
    status = commandCheck(checkPath);
  }
  return status;
}
