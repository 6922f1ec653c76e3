#include "HttpVusers.h"

#include "QVClock.h"
#include "SimulatedVusers.h"
#include "qveventsmanagement.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

const char* const HttpVusers::kScenarioPool = SimulatedVusers::kScenarioPool;

namespace {

// Sampling period of the metrics series, and how long shutdown waits beyond the request timeout
// for the requests in flight.
constexpr auto kSamplePeriod = std::chrono::seconds(1);
constexpr long kShutdownGraceMs = 1000;

std::string countWord(long count) { return count < 0 ? std::string("all") : std::to_string(count); }

// Every vuser holds a socket: let the process open as many as it may.
void raiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

std::vector<std::string> poolNamesOf(bool byGroup, const std::vector<std::string>& groups) {
  return byGroup ? groups : std::vector<std::string>{HttpVusers::kScenarioPool};
}

}  // namespace

HttpVusers::HttpVusers(const HttpSettings& settings, bool byGroup, const std::vector<std::string>& groups,
                       Listener listener, Note note)
    : settings_(settings), byGroup_(byGroup), listener_(std::move(listener)), note_(std::move(note)),
      startNs_(EventLoop::nowNs()), metrics_(std::max(1u, settings.loops), poolNamesOf(byGroup, groups)) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  raiseOpenFileLimit();
  for (const std::string& name : metrics_.pools()) {
    Pool pool;
    pool.name = name;
    const auto n = settings_.groupVusers.find(name);
    pool.total = std::max(0L, n == settings_.groupVusers.end() ? settings_.defaultVusers : n->second);
    pool.target = settings_.target;
    const auto url = settings_.groupUrls.find(name);
    if (url != settings_.groupUrls.end()) pool.target.url = url->second;
    pool.target.https = urlScheme(pool.target.url) == "https";
    pools_.push_back(std::move(pool));
  }
  lastSpans_.resize(pools_.size());
  for (unsigned i = 0; i < std::max(1u, settings_.loops); ++i) {
    loops_.push_back(std::make_unique<EventLoop>(i, settings_.loop, metrics_, static_cast<LoopListener&>(*this)));
  }
  helper_ = std::thread([this] { helperBody(); });
}

HttpVusers::~HttpVusers() { shutdown(); }

void HttpVusers::begin(std::uint64_t origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  origin_ = origin;
  beginNs_ = EventLoop::nowNs();
  changed_.notify_all();
}

// ---- pools ----

std::size_t HttpVusers::poolIndexLocked(const std::string& name) {
  for (std::size_t i = 0; i < pools_.size(); ++i) {
    if (pools_[i].name == name) return i;
  }
  return pools_.size();
}

HttpVusers::Pool& HttpVusers::poolLocked(const std::string& name) { return pools_[poolIndexLocked(name)]; }

Vuser* HttpVusers::makeLocked(std::size_t poolIndex) {
  Pool& pool = pools_[poolIndex];
  pool.made.push_back(std::make_unique<Vuser>(poolIndex, nextLoop_, pool.target));
  nextLoop_ = (nextLoop_ + 1) % loops_.size();
  return pool.made.back().get();
}

VusersCounts HttpVusers::countsLocked(const Pool& pool) const {
  VusersCounts c;
  c.total = pool.total;
  c.idle = pool.total - static_cast<long>(pool.made.size());
  c.initialized = static_cast<long>(pool.made.size() - pool.nextNotStarted);
  c.running = pool.running;
  c.done = pool.done;
  return c;
}

std::vector<std::string> HttpVusers::poolNames() const { return metrics_.pools(); }

VusersCounts HttpVusers::counts(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Pool& pool : pools_) {
    if (pool.name == name) return countsLocked(pool);
  }
  return VusersCounts{};
}

void HttpVusers::reportLocked(TimelineEntry entry, const Pool* pool) {
  if (pool) {
    entry.group = pool->name;
    entry.hasCounts = true;
    entry.counts = countsLocked(*pool);
  }
  timeline_.push_back(entry);
  if (listener_) listener_(entry);
}

void HttpVusers::reportCallLocked(const std::string& call, std::string count, int status, const char* mode,
                                  const Pool& pool) {
  TimelineEntry entry;
  entry.at = QVNowFileTime();
  entry.kind = "call";
  entry.what = call;
  entry.count = std::move(count);
  entry.status = statusWord(status);
  entry.mode = mode ? mode : "";
  reportLocked(std::move(entry), &pool);
}

void HttpVusers::post(std::vector<std::vector<EventLoop::Command>>& perLoop) {
  for (std::size_t i = 0; i < loops_.size(); ++i) {
    if (!perLoop[i].empty()) loops_[i]->post(perLoop[i]);
  }
}

// ---- calls of the scheduler ----

int HttpVusers::init(const std::string& name, long count, RunMode mode, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t index = poolIndexLocked(name);
  if (index == pools_.size() || stopping_) return VUSERS_STATUS_FAILED;
  Pool& pool = pools_[index];
  const long idle = pool.total - static_cast<long>(pool.made.size());
  const long taken = count == kAll ? idle : std::min(std::max(count, 0L), idle);
  std::vector<std::vector<EventLoop::Command>> perLoop(loops_.size());
  for (long i = 0; i < taken; ++i) {
    Vuser* v = makeLocked(index);
    v->host.connecting = true;
    ++pool.connecting;
    EventLoop::Command command;
    command.kind = EventLoop::Command::Kind::Init;
    command.vuser = v;
    perLoop[v->loop].push_back(command);
  }
  const int status = (count == kAll ? taken == 0 : taken < count) ? VUSERS_STATUS_NO_MORE_VUSERS : VUSERS_STATUS_SUCCEEDED;
  if (count == kAll || status == VUSERS_STATUS_NO_MORE_VUSERS) pool.lastInitDone = true;
  reportCallLocked(call, countWord(count), status, runModeWord(mode), pool);
  post(perLoop);
  checkInitLocked(pool);
  return status;
}

int HttpVusers::run(const std::string& name, long count, RunMode mode, const char* call) {
  const std::int64_t calledNs = EventLoop::nowNs();
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t index = poolIndexLocked(name);
  if (index == pools_.size() || stopping_) return VUSERS_STATUS_FAILED;
  Pool& pool = pools_[index];
  const long available = pool.total - static_cast<long>(pool.nextNotStarted);
  const long taken = count == kAll ? available : std::min(std::max(count, 0L), available);
  const bool untilComplete = mode == RUN_UNTIL_COMPLETE;
  std::vector<std::vector<EventLoop::Command>> perLoop(loops_.size());
  for (long i = 0; i < taken; ++i) {
    Vuser* v = pool.nextNotStarted < pool.made.size() ? pool.made[pool.nextNotStarted].get() : makeLocked(index);
    ++pool.nextNotStarted;
    v->host.started = true;
    pool.started.push_back(v);
    ++pool.running;
    ++pool.live;
    EventLoop::Command command;
    command.kind = EventLoop::Command::Kind::Run;
    command.vuser = v;
    command.untilComplete = untilComplete;
    command.calledNs = calledNs;
    perLoop[v->loop].push_back(command);
  }
  const int status = (count == kAll ? taken == 0 : taken < count) ? VUSERS_STATUS_NO_MORE_VUSERS : VUSERS_STATUS_SUCCEEDED;
  reportCallLocked(call, countWord(count), status, runModeWord(mode), pool);
  post(perLoop);
  return status;
}

int HttpVusers::stop(const std::string& name, long count, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t index = poolIndexLocked(name);
  if (index == pools_.size() || stopping_) return VUSERS_STATUS_FAILED;
  Pool& pool = pools_[index];
  const long wanted = count == kAll ? pool.running : std::max(count, 0L);
  long taken = 0;
  std::vector<std::vector<EventLoop::Command>> perLoop(loops_.size());
  for (auto it = pool.started.rbegin(); it != pool.started.rend() && taken < wanted; ++it) {
    Vuser* v = *it;
    if (v->host.stopRequested || v->host.ended) continue;
    v->host.stopRequested = true;
    --pool.running;
    ++pool.done;
    ++taken;
    EventLoop::Command command;
    command.kind = EventLoop::Command::Kind::Stop;
    command.vuser = v;
    command.abort = settings_.stopAbort;
    perLoop[v->loop].push_back(command);
  }
  const int status = (count == kAll ? taken == 0 : taken < count) ? VUSERS_STATUS_NO_MORE_VUSERS : VUSERS_STATUS_SUCCEEDED;
  reportCallLocked(call, countWord(count), status, nullptr, pool);
  post(perLoop);
  return status;
}

int HttpVusers::canStart(const std::string& name, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t index = poolIndexLocked(name);
  if (index == pools_.size()) return VUSERS_STATUS_FAILED;
  reportCallLocked(call, "-", VUSERS_STATUS_SUCCEEDED, nullptr, pools_[index]);
  return VUSERS_STATUS_SUCCEEDED;
}

void HttpVusers::notification(const std::string& pool, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  notificationLocked(pool, call);
}

void HttpVusers::notificationLocked(const std::string& pool, const char* call) {
  TimelineEntry entry;
  entry.at = QVNowFileTime();
  entry.kind = "call";
  entry.group = pool;
  entry.what = call;
  entry.count = "-";
  entry.status = "-";
  reportLocked(std::move(entry), nullptr);
}

void HttpVusers::onSchedulerFinished() {
  std::lock_guard<std::mutex> lock(mutex_);
  notificationLocked(byGroup_ ? "-" : kScenarioPool, "onSchedulerFinished");
  schedulerFinished_ = true;
  finishedAt_ = timeline_.back().at;
  checkDrainedLocked();
}

void HttpVusers::onSchedulerPaused() {
  notification(byGroup_ ? "-" : kScenarioPool, "onSchedulerPaused");
  std::vector<std::vector<EventLoop::Command>> perLoop(loops_.size());
  for (auto& commands : perLoop) commands.push_back(EventLoop::Command{EventLoop::Command::Kind::Pause});
  std::lock_guard<std::mutex> lock(mutex_);
  post(perLoop);
}

void HttpVusers::onSchedulerResumed() {
  notification(byGroup_ ? "-" : kScenarioPool, "onSchedulerResumed");
  std::vector<std::vector<EventLoop::Command>> perLoop(loops_.size());
  for (auto& commands : perLoop) commands.push_back(EventLoop::Command{EventLoop::Command::Kind::Resume});
  std::lock_guard<std::mutex> lock(mutex_);
  post(perLoop);
}

void HttpVusers::onGroupFinished(const std::string& groupName) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t index = poolIndexLocked(groupName);
  if (index == pools_.size()) return;
  Pool& pool = pools_[index];
  pool.scheduleFinished = true;
  TimelineEntry entry;
  entry.at = QVNowFileTime();
  entry.kind = "call";
  entry.what = "onGroupFinished";
  entry.count = "-";
  entry.status = "-";
  reportLocked(std::move(entry), &pool);
  checkGroupFinishedLocked(pool);
}

int HttpVusers::initAllVusers(RunMode runMode) { return init(kScenarioPool, kAll, runMode, "initAllVusers"); }
int HttpVusers::initVusers(long count, RunMode runMode) { return init(kScenarioPool, count, runMode, "initVusers"); }
int HttpVusers::runAllVusers(RunMode runMode) { return run(kScenarioPool, kAll, runMode, "runAllVusers"); }
int HttpVusers::runVusers(RunMode runMode, long count) { return run(kScenarioPool, count, runMode, "runVusers"); }
int HttpVusers::stopAllVusers() { return stop(kScenarioPool, kAll, "stopAllVusers"); }
int HttpVusers::stopVusers(long count) { return stop(kScenarioPool, count, "stopVusers"); }
int HttpVusers::canStartDuration() { return canStart(kScenarioPool, "canStartDuration"); }

bool HttpVusers::isInFinalStage() {
  // A question, not listed: every vuser has been started.
  std::lock_guard<std::mutex> lock(mutex_);
  const Pool& pool = pools_.front();
  return static_cast<long>(pool.nextNotStarted) >= pool.total;
}

int HttpVusers::initAllGroupVusers(const std::string& groupName, RunMode runMode) {
  return init(groupName, kAll, runMode, "initAllGroupVusers");
}
int HttpVusers::initGroupVusers(const std::string& groupName, long count, RunMode runMode) {
  return init(groupName, count, runMode, "initGroupVusers");
}
int HttpVusers::runAllGroupVusers(const std::string& groupName, RunMode runMode) {
  return run(groupName, kAll, runMode, "runAllGroupVusers");
}
int HttpVusers::runGroupVusers(const std::string& groupName, RunMode runMode, long count) {
  return run(groupName, count, runMode, "runGroupVusers");
}
int HttpVusers::stopAllGroupVusers(const std::string& groupName) { return stop(groupName, kAll, "stopAllGroupVusers"); }
int HttpVusers::stopGroupVusers(const std::string& groupName, long count) {
  return stop(groupName, count, "stopGroupVusers");
}
int HttpVusers::canStartGroupDuration(const std::string& groupName) {
  return canStart(groupName, "canStartGroupDuration");
}

// ---- what the loops report ----

void HttpVusers::onConnected(Vuser& v, bool ok, const std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Pool& pool = pools_[v.pool];
  if (!ok) {
    if (pool.initErrors++ == 0) {
      pool.firstInitError = error;
      if (note_) {
        note_(QVNowFileTime(), pool.name + ": a vuser could not connect to " + pool.target.url + ": " + error +
                                   " (an init error; the others are counted)");
      }
    }
  }
  if (!v.host.connecting) return;  // connected on the way to a run
  v.host.connecting = false;
  --pool.connecting;
  checkInitLocked(pool);
}

void HttpVusers::onEnded(Vuser& v, End how) {
  std::lock_guard<std::mutex> lock(mutex_);
  Pool& pool = pools_[v.pool];
  v.host.ended = true;
  if (v.host.connecting) {
    v.host.connecting = false;
    --pool.connecting;
    checkInitLocked(pool);
  }
  if (v.host.started) {
    --pool.live;
    if (!v.host.stopRequested) {
      --pool.running;
      ++pool.done;
      if (how == End::Completed) ++pool.completedToReport;
      if (how == End::InitFailed) ++pool.initFailedToReport;
    }
  }
  checkGroupFinishedLocked(pool);
  checkDrainedLocked();
  changed_.notify_all();
}

void HttpVusers::checkInitLocked(Pool& pool) {
  if (!pool.lastInitDone || pool.connecting > 0 || pool.initRaised) return;
  pool.initRaised = true;
  if (!byGroup_) {
    raiseLocked(Raise::ScenarioInit, pool.name);
    return;
  }
  raiseLocked(Raise::GroupInit, pool.name);
  const bool all = std::all_of(pools_.begin(), pools_.end(), [](const Pool& p) { return p.initRaised; });
  if (all && !scenarioInitRaised_) {
    scenarioInitRaised_ = true;
    raiseLocked(Raise::ScenarioInit, "-");
  }
}

void HttpVusers::checkGroupFinishedLocked(Pool& pool) {
  if (!byGroup_ || !pool.scheduleFinished || pool.finishedRaised || pool.live > 0) return;
  pool.finishedRaised = true;
  raiseLocked(Raise::GroupFinished, pool.name);
}

void HttpVusers::checkDrainedLocked() {
  if (finished_ || !schedulerFinished_) return;
  for (const Pool& pool : pools_) {
    if (pool.live > 0) return;
  }
  finished_ = true;
  finishedEvent_.set();
}

void HttpVusers::raiseLocked(Raise what, const std::string& pool) {
  if (stopping_ || schedulerFinished_) return;
  events_.push_back(PendingEvent{what, pool});
  changed_.notify_all();
}

bool HttpVusers::isFinished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

std::uint64_t HttpVusers::finishedAt() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finishedAt_;
}

// ---- the helper thread: host events, ends of vusers, samples ----

void HttpVusers::helperBody() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool sampling = false;
  std::chrono::steady_clock::time_point nextSample;
  const auto hasWork = [this, &sampling] {
    return helperQuit_ || !events_.empty() || (beginNs_ && !sampling) ||
           std::any_of(pools_.begin(), pools_.end(),
                       [](const Pool& p) { return p.completedToReport || p.initFailedToReport; });
  };
  for (;;) {
    if (sampling) {
      changed_.wait_until(lock, nextSample, hasWork);
    } else {
      changed_.wait(lock, hasWork);
    }
    if (helperQuit_) return;
    if (beginNs_ && !sampling) {
      sampling = true;
      nextSample = std::chrono::steady_clock::now() + kSamplePeriod;
    }
    reportEndsLocked();
    std::vector<PendingEvent> raise;
    raise.swap(events_);
    if (sampling && std::chrono::steady_clock::now() >= nextSample) {
      nextSample += kSamplePeriod;
      lock.unlock();
      takeSample();
      lock.lock();
    }
    if (raise.empty()) continue;
    lock.unlock();
    for (const PendingEvent& e : raise) {
      std::unique_ptr<CQVEventDef> event;
      if (e.what == Raise::ScenarioInit) event = std::make_unique<CQVScenarioAllVusersInitEventDef>();
      if (e.what == Raise::GroupInit) event = std::make_unique<CQVGroupAllVusersInitEventDef>(e.pool);
      if (e.what == Raise::GroupFinished) event = std::make_unique<CQVGroupFinishedRunningEventDef>(e.pool);
      // Without any lock of ours: the scheduler reacts on this thread and calls back in.
      CQVEventsManager::instance()->notifyOnEvent(*event);
    }
    lock.lock();
  }
}

void HttpVusers::reportEndsLocked() {
  const auto report = [this](Pool& pool, long& n, const char* what) {
    if (!n) return;
    TimelineEntry entry;
    entry.at = QVNowFileTime();
    entry.kind = "vusers";
    entry.what = what;
    entry.count = std::to_string(n);
    entry.status = "-";
    n = 0;
    reportLocked(std::move(entry), &pool);
  };
  for (Pool& pool : pools_) {
    report(pool, pool.completedToReport, "completed");
    report(pool, pool.initFailedToReport, "ended-init-failed");
  }
  for (const PendingEvent& e : events_) {
    TimelineEntry entry;
    entry.at = QVNowFileTime();
    entry.kind = "event";
    entry.group = e.pool;
    entry.what = e.what == Raise::ScenarioInit ? "scenarioAllVusersInit"
                 : e.what == Raise::GroupInit  ? "groupAllVusersInit"
                                               : "groupFinishedRunning";
    entry.count = "-";
    entry.status = "raised";
    reportLocked(std::move(entry), nullptr);
  }
}

void HttpVusers::takeSample() {
  std::vector<long> running;
  double seconds = 0;
  double scheduleSeconds = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Pool& pool : pools_) running.push_back(pool.running);
    const std::int64_t end = endNs_ ? endNs_ : EventLoop::nowNs();
    seconds = static_cast<double>(end - beginNs_) / 1e9;
    const std::uint64_t now = QVNowFileTime();
    scheduleSeconds = now > origin_ ? static_cast<double>(now - origin_) / QV_FILE_TIME_UNITS_PER_SECOND : 0;
  }
  std::vector<MetricsTotals> spans = metrics_.sample(seconds, scheduleSeconds, running);
  std::lock_guard<std::mutex> lock(mutex_);
  lastSpans_ = std::move(spans);
}

// ---- the end ----

void HttpVusers::stopAllLocked(std::vector<std::vector<EventLoop::Command>>& perLoop) {
  for (Pool& pool : pools_) {
    for (const auto& owned : pool.made) {
      Vuser* v = owned.get();
      if (v->host.ended) continue;
      const bool graceful = v->host.started && !settings_.stopAbort;
      if (v->host.started && !v->host.stopRequested) {
        v->host.stopRequested = true;
        --pool.running;
        ++pool.done;
      }
      EventLoop::Command command;
      command.kind = EventLoop::Command::Kind::Stop;
      command.vuser = v;
      command.abort = !graceful;
      perLoop[v->loop].push_back(command);
    }
  }
}

void HttpVusers::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    events_.clear();
    std::vector<std::vector<EventLoop::Command>> perLoop(loops_.size());
    stopAllLocked(perLoop);
    // A paused loop would hold its parked vusers.
    for (auto& commands : perLoop) commands.insert(commands.begin(), EventLoop::Command{EventLoop::Command::Kind::Resume});
    post(perLoop);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.loop.timeoutMs + kShutdownGraceMs);
    changed_.wait_until(lock, deadline, [&] {
      return std::all_of(pools_.begin(), pools_.end(), [](const Pool& p) {
        return std::all_of(p.made.begin(), p.made.end(), [](const auto& v) { return v->host.ended; });
      });
    });
  }
  for (auto& loop : loops_) loop->quit();  // ends at once what is left
  {
    std::lock_guard<std::mutex> lock(mutex_);
    helperQuit_ = true;
    changed_.notify_all();
  }
  if (helper_.joinable()) helper_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    endNs_ = EventLoop::nowNs();
    reportEndsLocked();
  }
  if (beginNs_) takeSample();
}

// ---- readers ----

double HttpVusers::runSeconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!beginNs_) return 0;
  return static_cast<double>((endNs_ ? endNs_ : EventLoop::nowNs()) - beginNs_) / 1e9;
}

std::vector<TimelineEntry> HttpVusers::timeline() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeline_;
}

const std::string& HttpVusers::url(const std::string& name) const {
  for (const Pool& pool : pools_) {
    if (pool.name == name) return pool.target.url;  // set at construction, read-only after
  }
  return settings_.target.url;
}

std::pair<long, std::string> HttpVusers::initErrors(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Pool& pool : pools_) {
    if (pool.name == name) return {pool.initErrors, pool.firstInitError};
  }
  return {0, std::string()};
}

HttpSnapshot HttpVusers::snapshot() const {
  HttpSnapshot s;
  s.seconds = runSeconds();
  std::vector<MetricsTotals> cumulative;
  for (std::size_t i = 0; i < pools_.size(); ++i) cumulative.push_back(metrics_.cumulative(i));
  std::lock_guard<std::mutex> lock(mutex_);
  s.total.name = "total";
  for (std::size_t i = 0; i < pools_.size(); ++i) {
    PoolState state;
    state.name = pools_[i].name;
    state.counts = countsLocked(pools_[i]);
    state.cumulative = std::move(cumulative[i]);
    state.lastSecond = lastSpans_[i];
    VusersCounts& t = s.total.counts;
    t.total += state.counts.total;
    t.idle += state.counts.idle;
    t.initialized += state.counts.initialized;
    t.running += state.counts.running;
    t.done += state.counts.done;
    s.total.cumulative.merge(state.cumulative);
    s.total.lastSecond.merge(state.lastSecond);
    s.pools.push_back(std::move(state));
  }
  return s;
}

std::string HttpVusers::progressDetail() const {
  const SeriesPoint last = metrics_.latest().total;
  const MetricsTotals total = metrics_.cumulativeTotal();
  std::string text = " |";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Pool& pool : pools_) text += " " + pool.name + " " + std::to_string(pool.running) + " running,";
  }
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, " %.1f req/s, p95 %s, errors %llu (%.2f%%)", last.requestsPerSecond,
                formatMs(last.p95Ms).c_str(), static_cast<unsigned long long>(total.errorCount()),
                100.0 * total.errorRate());
  return text + buffer;
}
