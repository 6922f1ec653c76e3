// qvschedule run: the schedule on the clock (real time, or --speed times faster), with keys or
// standard-input lines to pause, resume and stop it; SIGINT and SIGTERM stop it too, and so does a
// failed output.
#include "Commands.h"
#include "ConsoleInput.h"
#include "ExitCodes.h"
#include "HttpRun.h"
#include "Output.h"
#include "Progress.h"
#include "Session.h"

#include "QVClock.h"
#include "QVSchedule.h"
#include "QVWait.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <iomanip>
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
  void stop(std::uint64_t now, const std::string& why);

  Session& session_;
  const RunOptions& options_;
  std::mutex commandsMutex_;  // guards commands_; a leaf lock
  std::deque<ConsoleInput::Command> commands_;
  // Shared with the output-failure listener, which may still run on another thread after the loop.
  std::shared_ptr<QVEvent> commandEvent_ = std::make_shared<QVEvent>();
  std::shared_ptr<std::atomic<bool>> outputFailed_ = std::make_shared<std::atomic<bool>>(false);
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
  commandEvent_->set();
}

bool RunLoop::run() {
  ConsoleInput input([this](ConsoleInput::Command command) { onCommandArrived(command); });
  // The listener may outlive this loop on another thread: it holds what it needs.
  const auto onOutputFailed = [failed = outputFailed_, wake = commandEvent_] {
    failed->store(true);
    wake->set();
  };
  setOutputFailureListener(onOutputFailed);
  if (anyOutputFailed()) onOutputFailed();  // failed while the definition was loaded
  const std::vector<std::string> groups = session_.summary.groupNames();
  const bool byGroup = session_.summary.byGroup();
  const std::uint64_t step = progressUnits();
  QVWaitableTimer progressTimer;

  const std::uint64_t origin = QVNowFileTime();
  session_.begin(origin);
  CQVSchedulerFacade::start();
  if (step) progressTimer.set(origin + step);

  while (!stopped_) {
    const std::size_t which = QVWaitForAny({&session_.vusers->finishedEvent(), commandEvent_.get(), &progressTimer});
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
  setOutputFailureListener(nullptr);
  session_.console.endProgress();
  return stopped_;
}

void RunLoop::serveCommands(std::uint64_t now) {
  std::deque<ConsoleInput::Command> todo;
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    todo.swap(commands_);
  }
  if (outputFailed_->load() && !session_.vusers->isFinished()) stop(now, "stopping (an output failed)");
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
      stop(now, "stopping (s)");
      break;
    case ConsoleInput::Command::Interrupt:
      stop(now, "stopping (interrupted)");
      break;
    case ConsoleInput::Command::Terminate:
      stop(now, "stopping (terminated)");
      break;
  }
}

void RunLoop::stop(std::uint64_t now, const std::string& why) {
  session_.console.line(now, "note", why);
  CQVSchedulerFacade::stop();
  stopped_ = true;
}

}  // namespace

int commandRun(const RunOptions& options) {
  SimulatedVusers::Settings settings;
  if (!poolSettings(options.pools, settings)) return exitcode::kUsage;
  const Definition definition = readDefinition(options.definition);
  bool http = false;
  const std::unique_ptr<HttpRun> httpRun = HttpRun::prepare(options.http, options.pools, definition, options.speed, http);
  if (http && !httpRun) return exitcode::kUsage;
  // The clock first: every reading of the library goes through it from its first call on.
  if (options.speed != 1.0) QVSetClock(std::make_shared<QVScaledClock>(options.speed));

  Session session;
  if (options.format == Format::Json) session.console.useJsonLines();
  session.strict = options.strict;
  const bool opened = httpRun ? session.open(definition, httpRun->hostMaker(session), options.logLines, options.logPath)
                              : session.open(definition, settings, options.logLines, options.logPath);
  if (!opened) {
    session.close();
    return anyOutputFailed() ? exitcode::kOutputFailed : exitcode::kRefused;
  }
  VusersHost& host = *session.vusers;
  std::ostringstream header;
  header << "qvschedule run: " << definition.name << ", speed " << std::setprecision(10) << options.speed
         << "x, pools: " << poolSummary(host);
  if (httpRun) header << '\n' << httpRun->description();
  header << "\nkeys: p pause, r resume, s stop (Ctrl-C stops too)";
  session.console.text(header.str());

  const bool stopped = RunLoop(session, options).run();

  const std::uint64_t end = host.isFinished() ? host.finishedAt() : QVNowFileTime();
  if (stopped) {
    session.console.line(end, "note", "scheduler stopped cleanly before it finished; vusers at the stop: " + poolSummary(host));
  } else {
    session.console.line(end, "note",
                         "scheduler finished after " + session.console.elapsed(end) + "; vusers: " + poolSummary(host));
  }
  session.close();
  const int verdict = httpRun ? httpRun->finish(session, stopped) : exitcode::kFinished;
  if (anyOutputFailed()) return exitcode::kOutputFailed;
  if (verdict != exitcode::kFinished) return verdict;
  return stopped ? exitcode::kStopped : exitcode::kFinished;
}
