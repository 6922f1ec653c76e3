// qvschedule run: the schedule on the clock (real time, or --speed times faster), with keys or
// standard-input lines to pause, resume and stop it.
#include "Commands.h"
#include "ConsoleInput.h"
#include "HttpRun.h"
#include "Progress.h"
#include "Session.h"

#include "QVClock.h"
#include "QVSchedule.h"
#include "QVWait.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>

namespace {

// Real seconds between redraws of the progress line on a terminal.
constexpr double kTerminalProgressSeconds = 0.25;

// The main thread's loop while the schedule runs: it waits for the end of the schedule, a command
// from the input thread or the next progress line, and makes the facade calls.
class RunLoop {
 public:
  RunLoop(Session& session, const RunOptions& options) : session_(session), options_(options) {}

  // Runs until the schedule finishes or a command stops it; answers whether it was stopped.
  bool run();

 private:
  enum Wake : std::size_t { kFinished = 0, kCommand = 1, kProgress = 2 };

  std::uint64_t progressUnits() const;
  void onCommandArrived(ConsoleInput::Command command);
  void serveCommands(std::uint64_t now);
  void serve(ConsoleInput::Command command, std::uint64_t now);

  Session& session_;
  const RunOptions& options_;
  std::mutex commandsMutex_;  // guards commands_; a leaf lock
  std::deque<ConsoleInput::Command> commands_;
  QVEvent commandEvent_;
  bool stopped_ = false;
  bool paused_ = false;
};

// On a terminal about four times a second of real time, otherwise every progressSeconds of
// schedule time (0: never).
std::uint64_t RunLoop::progressUnits() const {
  const double step =
      session_.console.isTerminal() ? kTerminalProgressSeconds * options_.speed : options_.progressSeconds;
  if (step <= 0) return 0;
  return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(step * QV_FILE_TIME_UNITS_PER_SECOND));
}

void RunLoop::onCommandArrived(ConsoleInput::Command command) {
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    commands_.push_back(command);
  }
  commandEvent_.set();
}

bool RunLoop::run() {
  ConsoleInput input([this](ConsoleInput::Command command) { onCommandArrived(command); });
  const std::vector<std::string> groups = session_.summary.groupNames();
  const bool byGroup = session_.summary.byGroup();
  const std::uint64_t step = progressUnits();
  QVWaitableTimer progressTimer;

  const std::uint64_t origin = QVNowFileTime();
  session_.begin(origin);
  CQVSchedulerFacade::start();
  if (step) progressTimer.set(origin + step);

  while (!stopped_) {
    const std::size_t which = QVWaitForAny({&session_.vusers->finishedEvent(), &commandEvent_, &progressTimer});
    if (which == kFinished) break;
    const std::uint64_t now = QVNowFileTime();
    if (which == kProgress) {
      session_.console.progress(now, progressText(groups, byGroup) + session_.vusers->progressDetail());
      progressTimer.set(now + step);
    } else {
      serveCommands(now);
    }
  }
  input.close();
  session_.console.endProgress();
  return stopped_;
}

void RunLoop::serveCommands(std::uint64_t now) {
  std::deque<ConsoleInput::Command> todo;
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    todo.swap(commands_);
  }
  for (const ConsoleInput::Command command : todo) {
    if (stopped_ || session_.vusers->isFinished()) break;
    serve(command, now);
  }
}

void RunLoop::serve(ConsoleInput::Command command, std::uint64_t now) {
  Console& console = session_.console;
  switch (command) {
    case ConsoleInput::Command::Pause:
      if (paused_) {
        console.line(now, "note", "already paused");
      } else {
        console.line(now, "note", "pausing (p)");
        CQVSchedulerFacade::pause();
        paused_ = true;
      }
      break;
    case ConsoleInput::Command::Resume:
      if (!paused_) {
        console.line(now, "note", "not paused");
      } else {
        console.line(now, "note", "resuming (r)");
        CQVSchedulerFacade::resume();
        paused_ = false;
      }
      break;
    case ConsoleInput::Command::Stop:
    case ConsoleInput::Command::Interrupt:
      console.line(now, "note", command == ConsoleInput::Command::Stop ? "stopping (s)" : "stopping (interrupted)");
      CQVSchedulerFacade::stop();
      stopped_ = true;
      break;
  }
}

}  // namespace

int commandRun(const RunOptions& options) {
  SimulatedVusers::Settings settings;
  if (!poolSettings(options.pools, settings)) return 2;
  const Definition definition = readDefinition(options.definition);
  bool http = false;
  const std::unique_ptr<HttpRun> httpRun = HttpRun::prepare(options.http, options.pools, definition, options.speed, http);
  if (http && !httpRun) return 2;
  // The clock first: every reading of the library goes through it from its first call on.
  if (options.speed != 1.0) QVSetClock(std::make_shared<QVScaledClock>(options.speed));

  Session session;
  const bool opened = httpRun ? session.open(definition, httpRun->hostMaker(session), !options.noLibraryLines, options.logPath)
                              : session.open(definition, settings, !options.noLibraryLines, options.logPath);
  if (!opened) {
    session.close();
    return 1;
  }
  VusersHost& host = *session.vusers;
  std::ostringstream header;
  header << "qvschedule run: " << definition.name << ", speed " << options.speed << "x, pools: " << poolSummary(host);
  if (httpRun) header << '\n' << httpRun->description();
  header << "\nkeys: p pause, r resume, s stop (Ctrl-C stops too)";
  session.console.text(header.str());

  const bool stopped = RunLoop(session, options).run();

  const std::uint64_t end = host.isFinished() ? host.finishedAt() : QVNowFileTime();
  if (stopped) {
    session.console.line(end, "note", "scheduler stopped cleanly by request; vusers at the stop: " + poolSummary(host));
  } else {
    session.console.line(end, "note",
                         "scheduler finished after " + session.console.elapsed(end) + "; vusers: " + poolSummary(host));
  }
  session.close();
  return httpRun ? httpRun->finish(session, stopped) : 0;
}
