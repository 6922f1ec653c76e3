#include "ServeRun.h"

#include "ConsoleInput.h"

#include "QVClock.h"

#include <condition_variable>
#include <iostream>
#include <mutex>

std::unique_ptr<ServeRun> ServeRun::prepare(const ServeOptions& options, bool& wanted) {
  wanted = options.enabled();
  if (!wanted) {
    if (options.lingerSeconds > 0 || !options.token.empty()) {
      wanted = true;  // a usage error all the same
      std::cerr << "qvschedule: --serve-linger and --serve-token need --serve\n";
    }
    return nullptr;
  }
  std::unique_ptr<ServeRun> run(new ServeRun());
  run->options_ = options;
  std::string problem;
  if (!parseServeAddress(options.address, run->address_, problem)) {
    std::cerr << "qvschedule: --serve " << problem << '\n';
    return nullptr;
  }
  run->token_ = options.token;
  if (run->token_.empty() && !run->address_.loopback) run->token_ = generateToken();
  if (run->token_.empty() && !run->address_.loopback) {
    std::cerr << "qvschedule: --serve " << options.address << ": off loopback a token is needed, and none could be "
              << "made; give one with --serve-token\n";
    return nullptr;
  }
  return run;
}

ServeRun::~ServeRun() = default;

std::vector<std::string> ServeRun::previewArguments(const RunOptions& options) {
  // HTTP vusers are initialized once their connection is open, at once next to a schedule's
  // seconds: the plan does not wait --init-seconds for them.
  const long initSeconds = options.http.enabled() ? 0 : options.pools.initSeconds;
  std::vector<std::string> args = {"--vusers", std::to_string(options.pools.vusers), "--init-seconds",
                                   std::to_string(initSeconds), "--complete-seconds",
                                   std::to_string(options.pools.completeSeconds)};
  for (const std::string& item : options.pools.groupVusers) {
    args.push_back("--group-vusers");
    args.push_back(item);
  }
  return args;
}

bool ServeRun::start(Session& session, const Definition& definition, const RunOptions& options,
                     CommandQueue& commands) {
  live_ = std::make_unique<LiveRun>(session.vusers->poolNames(), session.summary.byGroup());
  status_ = std::make_unique<RunStatus>(*live_, *session.vusers, session.console, definition.name, options.speed);
  plan_ = std::make_unique<PlanPreview>(definition.text, previewArguments(options), session.vusers->poolNames());
  server_ = std::make_unique<WebServer>(address_, token_, WebServer::Parts{*live_, *status_, commands, *plan_});
  std::string problem;
  if (!server_->start(problem)) {
    std::cerr << "qvschedule: --serve " << options_.address << ": " << problem << '\n';
    server_.reset();
    return false;
  }
  LiveRun* live = live_.get();
  session.console.setTap([live](const std::string& json, const TimelineEntry* entry) { live->addEntry(json, entry); });
  plan_->start();
  return true;
}

std::string ServeRun::description() const {
  std::string url = serveOrigin(address_, server_->port()) + "/";
  if (!token_.empty()) url += "?token=" + token_;
  return "live page: " + url + (token_.empty() ? "" : " (every API call needs Authorization: Bearer " + token_ + ")");
}

void ServeRun::finish(Session& session, StopSignals& signals, bool stopLeftOver) {
  status_->freeze();
  if (!stopLeftOver && !signals.pending()) linger(session, signals);
  server_->stop();
  session.console.setTap(nullptr);
}

void ServeRun::linger(Session& session, StopSignals& signals) {
  if (options_.lingerSeconds <= 0) return;
  session.console.text("serving the final state for " + std::to_string(static_cast<long>(options_.lingerSeconds)) +
                       " s more (s or Ctrl-C ends it)");
  std::mutex mutex;
  std::condition_variable wake;
  bool ended = false;
  {
    ConsoleInput input(signals, [&](ConsoleInput::Command command) {
      if (command == ConsoleInput::Command::Pause || command == ConsoleInput::Command::Resume) return;
      std::lock_guard<std::mutex> lock(mutex);
      ended = true;
      wake.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::duration<double>(options_.lingerSeconds), [&] { return ended; });
  }
}
