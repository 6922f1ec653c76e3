// qvschedule run: the schedule on the clock (real time, or --speed times faster), with keys or
// standard-input lines to pause, resume and stop it; SIGINT and SIGTERM stop it too, and so does a
// failed output.
#include "Commands.h"
#include "CommandQueue.h"
#include "ConsoleInput.h"
#include "ExitCodes.h"
#include "HttpRun.h"
#include "Output.h"
#include "Progress.h"
#include "ServeRun.h"
#include "Session.h"

#include "QVClock.h"
#include "QVSchedule.h"
#include "QVWait.h"

#include <algorithm>
#include <atomic>
#include <iomanip>
#include <memory>
#include <mutex>
#include <sstream>

namespace {

// Real seconds between redraws of the progress line on a terminal.
constexpr double kTerminalProgressSeconds = 0.25;

// The main thread's loop while the schedule runs: it waits for the end of the schedule, a command
// (keys, signals, the control API; CommandQueue) or the next progress line, and makes the facade
// calls. With a live page it tells the run's state to `live`.
class RunLoop {
 public:
  RunLoop(Session& session, const RunOptions& options, CommandQueue& commands, LiveRun* live)
      : session_(session), options_(options), commands_(commands), live_(live) {}

  // Runs until the schedule finishes or a command stops it; answers whether it was stopped.
  bool run();

 private:
  enum Wake : std::size_t { kFinished = 0, kCommand = 1, kProgress = 2 };
  using Answer = CommandQueue::Answer;

  std::uint64_t progressUnits() const;
  void serveCommands(std::uint64_t now);
  Answer serve(const CommandQueue::Request& request, std::uint64_t now);
  Answer refuse(std::uint64_t now, const std::string& reason);
  void stop(std::uint64_t now, const std::string& why);
  void tell(RunState state, bool freeze);

  Session& session_;
  const RunOptions& options_;
  CommandQueue& commands_;
  LiveRun* const live_;  // null without a live page
  // Shared with the output-failure listener, which may still run on another thread after the loop.
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

// The state for the live page; the schedule's answers are kept before it goes away.
void RunLoop::tell(RunState state, bool freeze) {
  if (!live_) return;
  if (freeze) live_->freezeSchedule();
  live_->setState(state);
}

bool RunLoop::run() {
  ConsoleInput input([this](ConsoleInput::Command command) { commands_.post(command); });
  // The listener may outlive this loop on another thread: it holds what it needs.
  const auto onOutputFailed = [failed = outputFailed_, wake = commands_.event()] {
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
  tell(RunState::Running, false);
  if (step) progressTimer.set(origin + step);

  while (!stopped_) {
    const std::size_t which = QVWaitForAny({&session_.vusers->finishedEvent(), commands_.event().get(), &progressTimer});
    if (which == kFinished) break;
    const std::uint64_t now = QVNowFileTime();
    if (which == kProgress) {
      session_.console.progress(now, progressText(groups, byGroup) + session_.vusers->progressDetail());
      progressTimer.set(now + step);
    } else {
      serveCommands(now);
    }
  }
  if (!stopped_) tell(RunState::Finished, true);
  commands_.close("the run is over");
  input.close();
  setOutputFailureListener(nullptr);
  session_.console.endProgress();
  return stopped_;
}

void RunLoop::serveCommands(std::uint64_t now) {
  const std::vector<CommandQueue::Request> todo = commands_.take();
  if (outputFailed_->load() && !session_.vusers->isFinished()) stop(now, "stopping (an output failed)");
  for (const CommandQueue::Request& request : todo) {
    if (stopped_ || session_.vusers->isFinished()) break;  // the queue's close answers the rest
    commands_.answer(request.id, serve(request, now));
  }
}

RunLoop::Answer RunLoop::refuse(std::uint64_t now, const std::string& reason) {
  session_.console.line(now, "note", reason);
  return Answer{CommandQueue::Outcome::Refused, reason};
}

RunLoop::Answer RunLoop::serve(const CommandQueue::Request& request, std::uint64_t now) {
  Console& console = session_.console;
  switch (request.command) {
    case ConsoleInput::Command::Pause:
      if (paused_) return refuse(now, "already paused");
      console.line(now, "note", "pausing (" + request.origin + ")");
      CQVSchedulerFacade::pause();
      paused_ = true;
      tell(RunState::Paused, false);
      break;
    case ConsoleInput::Command::Resume:
      if (!paused_) return refuse(now, "not paused");
      console.line(now, "note", "resuming (" + request.origin + ")");
      CQVSchedulerFacade::resume();
      paused_ = false;
      tell(RunState::Running, false);
      break;
    case ConsoleInput::Command::Stop:
    case ConsoleInput::Command::Interrupt:
    case ConsoleInput::Command::Terminate:
      stop(now, "stopping (" + request.origin + ")");
      break;
  }
  return Answer{CommandQueue::Outcome::Applied, std::string()};
}

void RunLoop::stop(std::uint64_t now, const std::string& why) {
  session_.console.line(now, "note", why);
  tell(RunState::Stopped, true);
  CQVSchedulerFacade::stop();
  stopped_ = true;
}

// The lines that open the run: definition, speed, pools, the HTTP vusers, the live page and the keys.
std::string runHeader(const Definition& definition, const RunOptions& options, const VusersHost& host,
                      const HttpRun* httpRun, const ServeRun* serveRun) {
  std::ostringstream header;
  header << "qvschedule run: " << definition.name << ", speed " << std::setprecision(10) << options.speed
         << "x, pools: " << poolSummary(host);
  if (httpRun) header << '\n' << httpRun->description();
  if (serveRun) header << '\n' << serveRun->description();
  header << "\nkeys: p pause, r resume, s stop (Ctrl-C stops too)";
  return header.str();
}

// The note that ends the run.
void noteEnd(Session& session, bool stopped) {
  const VusersHost& host = *session.vusers;
  const std::uint64_t end = host.isFinished() ? host.finishedAt() : QVNowFileTime();
  if (stopped) {
    session.console.line(end, "note", "scheduler stopped cleanly before it finished; vusers at the stop: " + poolSummary(host));
  } else {
    session.console.line(end, "note",
                         "scheduler finished after " + session.console.elapsed(end) + "; vusers: " + poolSummary(host));
  }
}

}  // namespace

int commandRun(const RunOptions& options) {
  SimulatedVusers::Settings settings;
  if (!poolSettings(options.pools, settings)) return exitcode::kUsage;
  bool serve = false;
  const std::unique_ptr<ServeRun> serveRun = ServeRun::prepare(options.serve, serve);
  if (serve && !serveRun) return exitcode::kUsage;
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
  CommandQueue commands;
  if (serveRun && !serveRun->start(session, definition, options, commands)) {
    session.close();
    return exitcode::kServeFailed;
  }
  session.console.text(runHeader(definition, options, *session.vusers, httpRun.get(), serveRun.get()));

  const bool stopped = RunLoop(session, options, commands, serveRun ? serveRun->live() : nullptr).run();

  noteEnd(session, stopped);
  session.close();
  const int verdict = httpRun ? httpRun->finish(session, stopped) : exitcode::kFinished;
  if (serveRun) serveRun->finish(session);  // the final state stays readable for --serve-linger
  if (anyOutputFailed()) return exitcode::kOutputFailed;
  if (verdict != exitcode::kFinished) return verdict;
  return stopped ? exitcode::kStopped : exitcode::kFinished;
}
