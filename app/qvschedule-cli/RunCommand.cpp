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
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace {

// Real seconds between redraws of the progress line on a terminal.
constexpr double kTerminalProgressSeconds = 0.25;
// The most one "advance" line of --virtual-clock moves the clock (a year).
constexpr double kMaxAdvanceSeconds = 365.0 * 24 * 3600;

// The main thread's loop while the schedule runs: it waits for the end of the schedule, a command
// (keys, signals, the control API; CommandQueue) or the next progress line, and makes the facade
// calls. With a live page it tells the run's state to `live`.
class RunLoop {
 public:
  // `virtualClock`: the installed manual clock of --virtual-clock, or null.
  RunLoop(Session& session, const RunOptions& options, CommandQueue& commands, StopSignals& signals, LiveRun* live,
          QVManualClock* virtualClock)
      : session_(session),
        options_(options),
        commands_(commands),
        signals_(signals),
        live_(live),
        virtualClock_(virtualClock) {}

  // Runs until the schedule finishes or a command stops it; answers whether it was stopped.
  bool run();
  // False when the scheduler refused to start (the run then ended at once).
  bool started() const { return started_; }

 private:
  enum Wake : std::size_t { kFinished = 0, kCommand = 1, kProgress = 2 };
  using Answer = CommandQueue::Answer;

  std::uint64_t progressUnits() const;
  void serveCommands(std::uint64_t now);
  Answer serve(const CommandQueue::Request& request, std::uint64_t now);
  Answer refuse(std::uint64_t now, const std::string& reason);
  void stop(std::uint64_t now, const std::string& why);
  void tell(RunState state, bool freeze);
  ConsoleInput::LineCallback advanceLines();
  void advance(const std::string& line);

  Session& session_;
  const RunOptions& options_;
  CommandQueue& commands_;
  StopSignals& signals_;
  LiveRun* const live_;  // null without a live page
  QVManualClock* const virtualClock_;
  // Shared with the output-failure listener, which may still run on another thread after the loop.
  std::shared_ptr<std::atomic<bool>> outputFailed_ = std::make_shared<std::atomic<bool>>(false);
  bool started_ = true;
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

// With --virtual-clock, lines "advance SECONDS" move the clock, on the input's thread. Meanwhile
// this thread counts for the clock's settling (see run), so that a command posted before an
// advance is served before time moves.
ConsoleInput::LineCallback RunLoop::advanceLines() {
  if (!virtualClock_) return nullptr;
  return [this](const std::string& line) { advance(line); };
}

void RunLoop::advance(const std::string& line) {
  double seconds = -1;
  char extra = 0;
  if (std::sscanf(line.c_str(), "advance %lf %c", &seconds, &extra) != 1 || !(seconds >= 0) ||
      seconds > kMaxAdvanceSeconds) {
    session_.console.line(QVNowFileTime(), "note", "not understood: " + line);
    return;
  }
  try {
    virtualClock_->advanceUnits(static_cast<std::uint64_t>(std::llround(seconds * QV_FILE_TIME_UNITS_PER_SECOND)));
  } catch (const std::runtime_error& e) {  // a thread of the run did not settle
    session_.console.line(QVNowFileTime(), "note", std::string("the virtual clock stopped: ") + e.what());
  }
}

bool RunLoop::run() {
  // Busy for the virtual clock from before the input can move it until the loop is over.
  std::optional<QVCountedThreadScope> counted;
  if (virtualClock_) counted.emplace();
  ConsoleInput input(signals_, [this](ConsoleInput::Command command) { commands_.post(command); }, advanceLines());
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
  started_ = CQVSchedulerFacade::start();
  stopped_ = !started_;
  if (started_) {
    tell(RunState::Running, false);
    if (step) progressTimer.set(origin + step);
  } else {
    writeStandard(STDERR_FILENO, "qvschedule: run: the scheduler did not start (the system refused its timer thread)\n");
  }

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
  counted.reset();  // an advance under way may now finish without this thread
  if (!stopped_) tell(RunState::Finished, true);
  commands_.close("the run is over");
  input.close();
  setOutputFailureListener(nullptr);
  session_.console.endProgress();
  return stopped_;
}

void RunLoop::serveCommands(std::uint64_t now) {
  if (outputFailed_->load() && !session_.vusers->isFinished()) stop(now, "stopping (an output failed)");
  while (!stopped_ && !session_.vusers->isFinished()) {  // the queue's close answers the rest
    const std::optional<CommandQueue::Request> request = commands_.take();
    if (!request) break;
    commands_.answer(request->id, serve(*request, now));
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
  header << "qvschedule run: " << definition.name;
  if (options.virtualClock) {
    header << ", virtual clock (advance SECONDS)";
  } else {
    header << ", speed " << std::setprecision(10) << options.speed << "x";
  }
  header << ", pools: " << poolSummary(host);
  if (httpRun) header << '\n' << httpRun->description();
  if (serveRun) header << '\n' << serveRun->description();
  header << "\nkeys: p pause, r resume, s stop (Ctrl-C stops too)";
  return header.str();
}

// The clock first: every reading of the library goes through it from its first call on. Answers
// the manual clock of --virtual-clock (null otherwise).
std::shared_ptr<QVManualClock> installClock(const RunOptions& options) {
  if (options.virtualClock) {
    auto manual = std::make_shared<QVManualClock>();
    QVSetClock(manual);
    return manual;
  }
  if (options.speed != 1.0) QVSetClock(std::make_shared<QVScaledClock>(options.speed));
  return nullptr;
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
  const std::shared_ptr<QVManualClock> virtualClock = installClock(options);

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

  // From here to the exit a first signal is caught (see StopSignals), a second one ends at once.
  StopSignals signals;
  RunLoop loop(session, options, commands, signals, serveRun ? serveRun->live() : nullptr, virtualClock.get());
  const bool stopped = loop.run();
  signals.rearm();
  if (loop.started()) noteEnd(session, stopped);
  session.close();
  if (!loop.started()) return exitcode::kSchedulerFailed;
  const int verdict = httpRun ? httpRun->finish(session, stopped) : exitcode::kFinished;
  // The final state stays readable for --serve-linger, unless a stop typed as the run ended asks
  // to end now.
  if (serveRun) serveRun->finish(session, signals, commands.stopLeftOver());
  if (anyOutputFailed()) return exitcode::kOutputFailed;
  if (verdict != exitcode::kFinished) return verdict;
  return stopped ? exitcode::kStopped : exitcode::kFinished;
}
