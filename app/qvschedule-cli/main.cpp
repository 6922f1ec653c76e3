// qvschedule: runs, previews and checks scheduler definitions, as a host of the QVSchedule
// library over simulated vusers.
#include "BuiltinExample.h"
#include "Chart.h"
#include "Console.h"
#include "ConsoleInput.h"
#include "DefinitionSummary.h"
#include "SimulatedVusers.h"

#include "QVClock.h"
#include "QVSchedule.h"
#include "QVWait.h"
#include "QVWinTypes.h"
#include "qvcpplogger.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

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

// ---- options ----

struct PoolOptions {
  long vusers = 10;
  std::vector<std::string> groupVusers;
  long initSeconds = 5;
  long completeSeconds = 30;
};

void addPoolOptions(CLI::App* command, PoolOptions& options) {
  command->add_option("--vusers", options.vusers, "vusers in each group's pool (or the scenario's)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_option("--group-vusers", options.groupVusers, "vusers of one group, NAME=N (repeatable)");
  command->add_option("--init-seconds", options.initSeconds, "seconds from the last init call to 'all initialized'")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_option("--complete-seconds", options.completeSeconds, "seconds a run-until-complete vuser runs")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
}

bool poolSettings(const PoolOptions& options, SimulatedVusers::Settings& settings) {
  settings.defaultVusers = options.vusers;
  settings.initSeconds = options.initSeconds;
  settings.completeSeconds = options.completeSeconds;
  for (const std::string& item : options.groupVusers) {
    const auto eq = item.rfind('=');
    char* end = nullptr;
    const long n = eq == std::string::npos ? -1 : std::strtol(item.c_str() + eq + 1, &end, 10);
    if (eq == std::string::npos || eq == 0 || n < 0 || end == item.c_str() + eq + 1 || *end != '\0') {
      std::cerr << "qvschedule: --group-vusers expects NAME=N with N >= 0, got \"" << item << "\"\n";
      return false;
    }
    settings.groupVusers[item.substr(0, eq)] = n;
  }
  return true;
}

// ---- the definition ----

struct Definition {
  std::string path;  // empty: the built-in example
  std::string name;
  std::string text;  // the file's text, for the summary
  bool readable = true;

  bool fromFile() const { return !path.empty(); }
};

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

// Loads into the scheduler; the verdict is the library's. `problem` gets an exception's text.
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

// ---- the library's log ----

// Receives every log record of the process: keeps the library's error texts, prints the errors
// and, when asked, the test log ("QVScheduleTest") on the console, and writes everything to the
// log file when there is one. Once muted it only keeps the error texts.
class CliLogSink : public QVLogSink {
 public:
  CliLogSink(bool showTestLines, const std::string& logPath) : showTestLines_(showTestLines) {
    if (!logPath.empty()) file_.open(logPath, std::ios::app);
  }

  // Times of the log file are counted from this file time.
  void setOrigin(std::uint64_t origin) { origin_.store(origin); }

  bool fileOk() const { return file_.is_open(); }
  // Prints on `console` from now on (the log file, if any, is written from the start).
  void attach(Console* console) {
    std::lock_guard<std::mutex> lock(mutex_);
    console_ = console;
  }
  // Stops printing and writing (the console may go away after this).
  void mute() {
    std::lock_guard<std::mutex> lock(mutex_);
    console_ = nullptr;
    if (file_.is_open()) file_.close();
  }
  std::vector<std::string> errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
  }

  void write(const QVLogRecord& record) override {
    const std::uint64_t now = QVNowFileTime();
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_.is_open()) {
      file_ << formatElapsed(now - std::min(now, origin_.load())) << ' ' << QVFormatLogLine(record) << '\n';
      file_.flush();
    }
    const bool error = record.kind == QVLogKind::Error;
    if (error && record.logger == "QVSchedule") errors_.push_back(record.text);
    if (!console_) return;
    if (error) {
      console_->line(now, "log", "ERROR " + record.text);
    } else if (showTestLines_ && record.logger == "QVScheduleTest" && record.kind == QVLogKind::Formatted) {
      console_->line(now, "log", record.text);
    }
  }

 private:
  mutable std::mutex mutex_;
  Console* console_ = nullptr;
  const bool showTestLines_;
  std::atomic<std::uint64_t> origin_{0};
  std::ofstream file_;
  std::vector<std::string> errors_;
};

void reportRefused(const Definition& definition, const std::vector<std::string>& errors, const std::string& problem) {
  std::cerr << "qvschedule: the scheduler refused the definition " << definition.name << '\n';
  if (!definition.readable) std::cerr << "  cannot read " << definition.path << '\n';
  for (const std::string& error : errors) std::cerr << "  " << error << '\n';
  if (!problem.empty()) std::cerr << "  " << problem << '\n';
  if (errors.empty() && problem.empty() && definition.readable) {
    std::cerr << "  (no message: no \"Manual\" for the current scheduler id, or no SchedulerType)\n";
  }
}

// ---- progress ----

const char* stageName(QVActionStage stage) {
  switch (stage) {
    case STAGE_RAMP_INIT_ALL: return "RampInitAll";
    case STAGE_INIT_ALL: return "InitAll";
    case STAGE_RAMP_UP_ALL: return "RampUpAll";
    case STAGE_RAMP_UP: return "RampUp";
    case STAGE_RUN: return "Run";
    case STAGE_DURATION: return "Duration";
    case STAGE_RUN_UNTIL_COMPLETE: return "RunUntilComplete";
    case STAGE_RUN_INDEFINITELY: return "RunIndefinitely";
    case STAGE_RAMP_DOWN_ALL: return "RampDownAll";
    case STAGE_RAMP_DOWN: return "RampDown";
    case STAGE_STOP: return "Stop";
    case STAGE_NONE: return "none";
  }
  return "?";
}

std::string minutesSeconds(long seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02ld:%02ld", seconds / 60, seconds % 60);
  return buffer;
}

std::string progressText(const std::vector<std::string>& groups, bool byGroup) {
  std::string text;
  CQVSchedulerStage stage;
  if (CQVSchedulerFacade::getSchedulerStage(stage)) {
    text = std::string("stage ") + stageName(stage.getCurrActionStage());
    if (stage.hasNextStage()) {
      text += std::string(", next ") + stageName(stage.getNextActionStage()) + " in " +
              std::to_string(stage.getSecondsToNextStage()) + " s";
      const int n = stage.getNumberOfVusersInNextBatch();
      if (n == CQVSchedulerStage::ALL_VUSERS) {
        text += " (all vusers)";
      } else if (n > 0) {
        text += " (" + std::to_string(n) + (n == 1 ? " vuser)" : " vusers)");
      }
    } else {
      text += ", no next stage";
    }
  } else {
    text = "stage -";
  }
  long seconds = 0;
  if (!byGroup && CQVSchedulerFacade::getScenarioRunTime(seconds)) {
    text += ", run time " + minutesSeconds(seconds);
  } else {
    for (const std::string& group : groups) {
      if (CQVSchedulerFacade::getGroupRunTime(group, seconds)) text += ", " + group + " " + minutesSeconds(seconds);
    }
  }
  if (CQVSchedulerFacade::isPaused()) text += " (paused)";
  return text;
}

std::string poolSummary(const SimulatedVusers& host) {
  std::string text;
  for (const std::string& pool : host.poolNames()) {
    const SimulatedVusers::Counts c = host.counts(pool);
    if (!text.empty()) text += "; ";
    text += pool + ": " + std::to_string(c.running) + " running, " + std::to_string(c.initialized) + " initialized, " +
            std::to_string(c.done) + " done of " + std::to_string(c.total);
  }
  return text;
}

// The common set-up of run and preview: console, log sink and simulated vusers; the clock must
// be installed before.
struct Session {
  Console console;
  std::shared_ptr<CliLogSink> sink;
  DefinitionSummary summary;
  std::unique_ptr<SimulatedVusers> host;

  bool open(const Definition& definition, const SimulatedVusers::Settings& settings, bool showLibraryLines,
            const std::string& logPath) {
    console.setOrigin(QVNowFileTime());
    sink = std::make_shared<CliLogSink>(showLibraryLines, logPath);
    sink->setOrigin(console.origin());
    if (!logPath.empty() && !sink->fileOk()) {
      std::cerr << "qvschedule: cannot write the log file " << logPath << '\n';
      return false;
    }
    QVLogger::SetSink(sink);
    QVLogger::SetEnabled("QVScheduleTest", true);
    if (!logPath.empty()) QVLogger::SetEnabled("QVSchedule", true);

    summary = summarizeDefinition(definition.text);
    for (const auto& item : settings.groupVusers) {
      const std::vector<std::string> names = summary.groupNames();
      if (std::find(names.begin(), names.end(), item.first) == names.end()) {
        std::cerr << "qvschedule: warning: the definition has no group " << item.first << '\n';
      }
    }
    host = std::make_unique<SimulatedVusers>(settings, summary.byGroup(), summary.groupNames(),
                                             [this](const SimulatedVusers::Entry& entry) { console.entry(entry); });
    CQVSchedulerFacade::setVusersServices(host.get());

    std::string problem;
    if (!loadDefinition(definition, problem)) {
      reportRefused(definition, sink->errors(), problem);
      return false;
    }
    sink->attach(&console);
    return true;
  }

  // Discards the schedule quietly and stops everything of ours.
  void close() {
    if (sink) sink->mute();
    CQVSchedulerFacade::stop();
    if (host) host->shutdown();
    QVLogger::SetEnabled("QVSchedule", false);
    QVLogger::SetEnabled("QVScheduleTest", false);
    QVLogger::SetSink(nullptr);
  }
};

// ---- run ----

struct RunOptions {
  std::string definition;
  double speed = 1.0;
  PoolOptions pools;
  std::string logPath;
  double progressSeconds = 10;
  bool noLibraryLines = false;
};

int commandRun(const RunOptions& options) {
  SimulatedVusers::Settings settings;
  if (!poolSettings(options.pools, settings)) return 2;
  const Definition definition = readDefinition(options.definition);
  // The clock first: every reading of the library goes through it from its first call on.
  if (options.speed != 1.0) QVSetClock(std::make_shared<QVScaledClock>(options.speed));

  Session session;
  if (!session.open(definition, settings, !options.noLibraryLines, options.logPath)) {
    session.close();
    return 1;
  }
  Console& console = session.console;
  SimulatedVusers& host = *session.host;
  const std::vector<std::string> groups = session.summary.groupNames();
  const bool byGroup = session.summary.byGroup();

  std::ostringstream header;
  header << "qvschedule run: " << definition.name << ", speed " << options.speed << "x, pools: " << poolSummary(host)
         << "\nkeys: p pause, r resume, s stop (Ctrl-C stops too)";
  console.text(header.str());

  std::mutex commandsMutex;
  std::deque<ConsoleInput::Command> commands;
  QVEvent commandEvent;
  ConsoleInput input([&](ConsoleInput::Command command) {
    {
      std::lock_guard<std::mutex> lock(commandsMutex);
      commands.push_back(command);
    }
    commandEvent.set();
  });

  // Progress: on a terminal about four times a second of real time, otherwise every
  // progressSeconds of schedule time (0: never).
  const double progressStep = console.isTerminal() ? 0.25 * options.speed : options.progressSeconds;
  const std::uint64_t progressUnits =
      progressStep > 0 ? std::max<std::uint64_t>(1, static_cast<std::uint64_t>(progressStep * QV_FILE_TIME_UNITS_PER_SECOND)) : 0;
  QVWaitableTimer progressTimer;

  const std::uint64_t origin = QVNowFileTime();
  console.setOrigin(origin);
  session.sink->setOrigin(origin);
  host.begin(origin);
  CQVSchedulerFacade::start();
  if (progressUnits) progressTimer.set(origin + progressUnits);

  bool stopped = false;
  bool paused = false;
  while (!stopped) {
    const std::size_t which = QVWaitForAny({&host.finishedEvent(), &commandEvent, &progressTimer});
    if (which == 0) break;
    const std::uint64_t now = QVNowFileTime();
    if (which == 2) {
      console.progress(now, progressText(groups, byGroup));
      progressTimer.set(now + progressUnits);
      continue;
    }
    std::deque<ConsoleInput::Command> todo;
    {
      std::lock_guard<std::mutex> lock(commandsMutex);
      todo.swap(commands);
    }
    for (const ConsoleInput::Command command : todo) {
      if (stopped || host.isFinished()) break;
      switch (command) {
        case ConsoleInput::Command::Pause:
          if (paused) {
            console.line(now, "note", "already paused");
          } else {
            console.line(now, "note", "pausing (p)");
            CQVSchedulerFacade::pause();
            paused = true;
          }
          break;
        case ConsoleInput::Command::Resume:
          if (!paused) {
            console.line(now, "note", "not paused");
          } else {
            console.line(now, "note", "resuming (r)");
            CQVSchedulerFacade::resume();
            paused = false;
          }
          break;
        case ConsoleInput::Command::Stop:
        case ConsoleInput::Command::Interrupt:
          console.line(now, "note",
                       command == ConsoleInput::Command::Stop ? "stopping (s)" : "stopping (interrupted)");
          CQVSchedulerFacade::stop();
          stopped = true;
          break;
      }
    }
  }
  input.close();
  console.endProgress();

  const std::uint64_t end = host.isFinished() ? host.finishedAt() : QVNowFileTime();
  if (stopped) {
    console.line(end, "note", "scheduler stopped cleanly by request; vusers at the stop: " + poolSummary(host));
  } else {
    console.line(end, "note", "scheduler finished after " + console.elapsed(end) + "; vusers: " + poolSummary(host));
  }
  session.close();
  return 0;
}

// ---- preview ----

struct PreviewOptions {
  std::string definition;
  std::string svgPath;
  std::string csvPath;
  PoolOptions pools;
  bool libraryLines = false;
};

int commandPreview(const PreviewOptions& options) {
  SimulatedVusers::Settings settings;
  if (!poolSettings(options.pools, settings)) return 2;
  const Definition definition = readDefinition(options.definition);
  auto clock = std::make_shared<QVManualClock>();
  QVSetClock(clock);

  Session session;
  if (!session.open(definition, settings, options.libraryLines, std::string())) {
    session.close();
    return 1;
  }
  Console& console = session.console;
  SimulatedVusers& host = *session.host;
  console.text("qvschedule preview: " + definition.name + " in virtual time; pools: " + poolSummary(host));

  const std::uint64_t origin = clock->now();
  console.setOrigin(origin);
  session.sink->setOrigin(origin);
  host.begin(origin);
  CQVSchedulerFacade::start();

  // Jump from one armed timer to the next until the schedule finishes, nothing is armed any
  // more, or 30 days of schedule time have passed.
  const std::uint64_t limit = origin + 30ULL * 24 * 3600 * QV_FILE_TIME_UNITS_PER_SECOND;
  bool idle = false;
  while (!host.isFinished() && clock->now() < limit) {
    idle = clock->runUntilIdle(std::chrono::hours(1));
    if (idle) break;
  }

  std::uint64_t end = clock->now();
  if (host.isFinished()) {
    end = host.finishedAt();
    console.line(end, "note", "scheduler finished after " + console.elapsed(end) + "; vusers: " + poolSummary(host));
  } else if (idle) {
    std::uint64_t last = origin;
    for (const SimulatedVusers::Sample& s : host.samples()) last = std::max(last, s.at);
    end = last;
    console.line(end, "note",
                 "nothing further happens: the schedule runs indefinitely or waits for an event the simulated "
                 "vusers never raise; vusers: " + poolSummary(host));
  } else {
    console.line(end, "note", "still running after 30 days of schedule time; preview ended");
  }

  ChartData chart;
  chart.title = "qvschedule preview: " + definition.name;
  chart.groups = host.poolNames();
  chart.samples = host.samples();
  chart.origin = origin;
  chart.end = std::max(end, origin + QV_FILE_TIME_UNITS_PER_SECOND);
  session.close();

  int status = 0;
  if (!options.svgPath.empty()) {
    std::ofstream svg(options.svgPath);
    writeChartSvg(svg, chart);
    if (!svg) {
      std::cerr << "qvschedule: cannot write " << options.svgPath << '\n';
      status = 1;
    } else {
      console.text("chart written to " + options.svgPath);
    }
  }
  if (!options.csvPath.empty()) {
    std::ofstream csv(options.csvPath);
    writeChartCsv(csv, chart);
    if (!csv) {
      std::cerr << "qvschedule: cannot write " << options.csvPath << '\n';
      status = 1;
    } else {
      console.text("series written to " + options.csvPath);
    }
  }
  return status;
}

// ---- check ----

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
