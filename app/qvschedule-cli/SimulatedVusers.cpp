#include "SimulatedVusers.h"

#include "QVClock.h"
#include "qveventsmanagement.h"

#include <algorithm>
#include <utility>

const char* const SimulatedVusers::kScenarioPool = "scenario";

namespace {

std::string countWord(long count) { return count < 0 ? std::string("all") : std::to_string(count); }

}  // namespace

const char* runModeWord(CQVVusersServices::RunMode mode) {
  return mode == CQVVusersServices::RUN_UNTIL_COMPLETE ? "until-complete" : "indefinitely";
}

std::string statusWord(int status) {
  switch (status) {
    case CQVVusersServices::VUSERS_STATUS_SUCCEEDED:
      return "succeeded";
    case CQVVusersServices::VUSERS_STATUS_FAILED:
      return "failed";
    case CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS:
      return "no-more-vusers";
    case CQVVusersServices::VUSERS_STATUS_ABANDONED:
      return "abandoned";
    default:
      return std::to_string(status);
  }
}

SimulatedVusers::SimulatedVusers(const Settings& settings, bool byGroup, const std::vector<std::string>& groups,
                                 Listener listener)
    : settings_(settings), byGroup_(byGroup), listener_(std::move(listener)) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (byGroup_) {
      for (const std::string& group : groups) addPoolLocked(group);
    } else {
      addPoolLocked(kScenarioPool);
    }
  }
  thread_ = std::make_unique<QVThread>([this] { threadBody(); });
}

SimulatedVusers::~SimulatedVusers() { shutdown(); }

void SimulatedVusers::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    pending_.clear();
    timer_.cancel();
  }
  wake_.set();
  if (thread_ && thread_->joinable()) thread_->join();
}

void SimulatedVusers::begin(std::uint64_t origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& name : order_) sampleLocked(name, pools_.at(name), origin);
}

void SimulatedVusers::addPoolLocked(const std::string& name) {
  if (pools_.count(name)) return;
  const auto it = settings_.groupVusers.find(name);
  const long total = std::max(0L, it == settings_.groupVusers.end() ? settings_.defaultVusers : it->second);
  Pool pool;
  pool.counts.total = total;
  pool.counts.idle = total;
  pools_.emplace(name, pool);
  order_.push_back(name);
}

SimulatedVusers::Pool& SimulatedVusers::poolLocked(const std::string& name) {
  if (!pools_.count(name)) addPoolLocked(name);  // a group the definition summary did not know
  return pools_.at(name);
}

std::vector<std::string> SimulatedVusers::poolNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return order_;
}

std::vector<SimulatedVusers::Sample> SimulatedVusers::samples() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_;
}

SimulatedVusers::Counts SimulatedVusers::counts(const std::string& pool) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = pools_.find(pool);
  return it == pools_.end() ? Counts{} : it->second.counts;
}

void SimulatedVusers::sampleLocked(const std::string& name, const Pool& pool, std::uint64_t at) {
  samples_.push_back(Sample{at, name, pool.counts.running, pool.counts.initialized});
}

void SimulatedVusers::reportCallLocked(std::uint64_t at, const std::string& call, std::string count,
                                       std::string status, std::string mode, const std::string& poolName,
                                       const Pool* pool) {
  Entry entry;
  entry.at = at;
  entry.kind = "call";
  entry.what = call;
  entry.count = std::move(count);
  entry.status = std::move(status);
  entry.mode = std::move(mode);
  reportLocked(std::move(entry), poolName, pool);
}

void SimulatedVusers::reportLocked(Entry entry, const std::string& poolName, const Pool* pool) {
  entry.group = poolName;
  if (pool) {
    entry.hasCounts = true;
    entry.counts = pool->counts;
  }
  if (listener_) listener_(entry);
}

void SimulatedVusers::scheduleLocked(std::uint64_t due, Task task, const std::string& pool, std::uint64_t batchId) {
  if (stopping_ || isFinished() || (schedulerFinished_ && task != Task::Complete)) return;
  pending_.push_back(Pending{due, nextSeq_++, task, pool, batchId});
  if (task == Task::Complete) ++pendingCompletions_;
  rearmLocked();
}

int SimulatedVusers::statusOf(long count, long taken) {
  const bool shortOfCount = count == kAll ? taken == 0 : taken < count;
  return shortOfCount ? VUSERS_STATUS_NO_MORE_VUSERS : VUSERS_STATUS_SUCCEEDED;
}

void SimulatedVusers::rearmLocked() {
  if (pending_.empty()) {
    timer_.cancel();
    return;
  }
  const auto earliest = std::min_element(pending_.begin(), pending_.end());
  if (!timer_.isArmed() || timer_.dueTime() != earliest->due) timer_.set(earliest->due);
}

void SimulatedVusers::checkGroupFinishedLocked(const std::string& name, Pool& pool) {
  if (!byGroup_ || !pool.scheduleFinished || pool.finishedRaised || pool.counts.running > 0) return;
  pool.finishedRaised = true;
  scheduleLocked(QVNowFileTime(), Task::RaiseGroupFinished, name);
}

// ---- calls of the scheduler ----

int SimulatedVusers::init(const std::string& name, long count, RunMode mode, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t now = QVNowFileTime();
  Pool& pool = poolLocked(name);
  Counts& c = pool.counts;
  const long taken = count == kAll ? c.idle : std::min(std::max(count, 0L), c.idle);
  c.idle -= taken;
  c.initialized += taken;
  const int status = statusOf(count, taken);
  if (taken > 0) sampleLocked(name, pool, now);

  if (count == kAll || status == VUSERS_STATUS_NO_MORE_VUSERS) {
    // The last initialization call of this pool: the vusers report ready a little later.
    const std::uint64_t due = now + static_cast<std::uint64_t>(std::max(0L, settings_.initSeconds)) * QV_FILE_TIME_UNITS_PER_SECOND;
    if (byGroup_) {
      scheduleLocked(due, Task::RaiseGroupInit, name);
      const bool allBefore = std::all_of(pools_.begin(), pools_.end(), [](const auto& p) { return p.second.lastInitDone; });
      pool.lastInitDone = true;
      const bool allNow = std::all_of(pools_.begin(), pools_.end(), [](const auto& p) { return p.second.lastInitDone; });
      if (allNow && !allBefore) scheduleLocked(due, Task::RaiseScenarioInit, name);
    } else {
      pool.lastInitDone = true;
      scheduleLocked(due, Task::RaiseScenarioInit, name);
    }
  }

  reportCallLocked(now, call, countWord(count), statusWord(status), runModeWord(mode), name, &pool);
  return status;
}

int SimulatedVusers::run(const std::string& name, long count, RunMode mode, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t now = QVNowFileTime();
  Pool& pool = poolLocked(name);
  Counts& c = pool.counts;
  const long available = c.initialized + c.idle;
  const long taken = count == kAll ? available : std::min(std::max(count, 0L), available);
  const long fromInitialized = std::min(taken, c.initialized);
  c.initialized -= fromInitialized;
  c.idle -= taken - fromInitialized;
  c.running += taken;
  const int status = statusOf(count, taken);
  if (taken > 0) {
    const std::uint64_t id = nextSeq_++;
    pool.batches.push_back(Batch{id, taken});
    if (mode == RUN_UNTIL_COMPLETE) {
      const std::uint64_t due =
          now + static_cast<std::uint64_t>(std::max(0L, settings_.completeSeconds)) * QV_FILE_TIME_UNITS_PER_SECOND;
      scheduleLocked(due, Task::Complete, name, id);
    }
    sampleLocked(name, pool, now);
  }

  reportCallLocked(now, call, countWord(count), statusWord(status), runModeWord(mode), name, &pool);
  return status;
}

int SimulatedVusers::stop(const std::string& name, long count, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t now = QVNowFileTime();
  Pool& pool = poolLocked(name);
  Counts& c = pool.counts;
  const long taken = count == kAll ? c.running : std::min(std::max(count, 0L), c.running);
  long left = taken;
  while (left > 0 && !pool.batches.empty()) {
    Batch& newest = pool.batches.back();
    const long n = std::min(left, newest.remaining);
    newest.remaining -= n;
    left -= n;
    if (newest.remaining == 0) pool.batches.pop_back();
  }
  c.running -= taken;
  c.done += taken;
  const int status = statusOf(count, taken);
  if (taken > 0) sampleLocked(name, pool, now);

  reportCallLocked(now, call, countWord(count), statusWord(status), "", name, &pool);
  checkGroupFinishedLocked(name, pool);
  return status;
}

int SimulatedVusers::canStart(const std::string& name, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  Pool& pool = poolLocked(name);
  reportCallLocked(QVNowFileTime(), call, "-", statusWord(VUSERS_STATUS_SUCCEEDED), "", name, &pool);
  return VUSERS_STATUS_SUCCEEDED;
}

void SimulatedVusers::notification(const std::string& name, const char* call) {
  std::lock_guard<std::mutex> lock(mutex_);
  reportCallLocked(QVNowFileTime(), call, "-", "-", "", name, nullptr);
}

void SimulatedVusers::onSchedulerFinished() {
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t now = QVNowFileTime();
    finishedAt_.store(now, std::memory_order_release);
    schedulerFinished_ = true;
    // Only the vusers running until complete go on; no event is raised any more.
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [](const Pending& p) { return p.task != Task::Complete; }),
                   pending_.end());
    rearmLocked();
    for (const std::string& name : order_) sampleLocked(name, pools_.at(name), now);
    reportCallLocked(now, "onSchedulerFinished", "-", "-", "", byGroup_ ? "-" : kScenarioPool, nullptr);
    done = checkDoneLocked(now);
  }
  if (done) finishedEvent_.set();
}

bool SimulatedVusers::checkDoneLocked(std::uint64_t now) {
  if (!schedulerFinished_ || pendingCompletions_ > 0 || isFinished()) return false;
  doneAt_.store(now, std::memory_order_release);
  finished_.store(true, std::memory_order_release);
  return true;
}

void SimulatedVusers::onSchedulerPaused() { notification(byGroup_ ? "-" : kScenarioPool, "onSchedulerPaused"); }
void SimulatedVusers::onSchedulerResumed() { notification(byGroup_ ? "-" : kScenarioPool, "onSchedulerResumed"); }

void SimulatedVusers::onGroupFinished(const std::string& groupName) {
  std::lock_guard<std::mutex> lock(mutex_);
  Pool& pool = poolLocked(groupName);
  pool.scheduleFinished = true;
  Entry entry;
  entry.at = QVNowFileTime();
  entry.kind = "call";
  entry.what = "onGroupFinished";
  entry.count = "-";
  entry.status = "-";
  reportLocked(entry, groupName, &pool);
  checkGroupFinishedLocked(groupName, pool);
}

int SimulatedVusers::initAllVusers(RunMode runMode) { return init(kScenarioPool, kAll, runMode, "initAllVusers"); }
int SimulatedVusers::initVusers(long count, RunMode runMode) { return init(kScenarioPool, count, runMode, "initVusers"); }
int SimulatedVusers::runAllVusers(RunMode runMode) { return run(kScenarioPool, kAll, runMode, "runAllVusers"); }
int SimulatedVusers::runVusers(RunMode runMode, long count) { return run(kScenarioPool, count, runMode, "runVusers"); }
int SimulatedVusers::stopAllVusers() { return stop(kScenarioPool, kAll, "stopAllVusers"); }
int SimulatedVusers::stopVusers(long count) { return stop(kScenarioPool, count, "stopVusers"); }
int SimulatedVusers::canStartDuration() { return canStart(kScenarioPool, "canStartDuration"); }

bool SimulatedVusers::isInFinalStage() {
  // A query, not listed in the timeline: the scenario is in its final stage once every vuser
  // has been started.
  std::lock_guard<std::mutex> lock(mutex_);
  const Counts& c = poolLocked(kScenarioPool).counts;
  return c.idle + c.initialized == 0;
}

int SimulatedVusers::initAllGroupVusers(const std::string& groupName, RunMode runMode) {
  return init(groupName, kAll, runMode, "initAllGroupVusers");
}
int SimulatedVusers::initGroupVusers(const std::string& groupName, long count, RunMode runMode) {
  return init(groupName, count, runMode, "initGroupVusers");
}
int SimulatedVusers::runAllGroupVusers(const std::string& groupName, RunMode runMode) {
  return run(groupName, kAll, runMode, "runAllGroupVusers");
}
int SimulatedVusers::runGroupVusers(const std::string& groupName, RunMode runMode, long count) {
  return run(groupName, count, runMode, "runGroupVusers");
}
int SimulatedVusers::stopAllGroupVusers(const std::string& groupName) { return stop(groupName, kAll, "stopAllGroupVusers"); }
int SimulatedVusers::stopGroupVusers(const std::string& groupName, long count) {
  return stop(groupName, count, "stopGroupVusers");
}
int SimulatedVusers::canStartGroupDuration(const std::string& groupName) {
  return canStart(groupName, "canStartGroupDuration");
}

// ---- the helper thread ----

void SimulatedVusers::completeLocked(const Pending& pending, Pool& pool, std::uint64_t now) {
  --pendingCompletions_;
  const auto batch =
      std::find_if(pool.batches.begin(), pool.batches.end(), [&](const Batch& b) { return b.id == pending.batchId; });
  if (batch == pool.batches.end()) return;  // stopped before it could complete
  const long n = batch->remaining;
  pool.batches.erase(batch);
  pool.counts.running -= n;
  pool.counts.done += n;
  sampleLocked(pending.pool, pool, now);
  Entry entry;
  entry.at = now;
  entry.kind = "vusers";
  entry.what = "completed";
  entry.count = std::to_string(n);
  entry.status = "-";
  reportLocked(entry, pending.pool, &pool);
  checkGroupFinishedLocked(pending.pool, pool);
}

void SimulatedVusers::threadBody() {
  for (;;) {
    QVWaitForAny({&wake_, &timer_});
    std::vector<Pending> due;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      const std::uint64_t now = QVNowFileTime();
      auto split = std::stable_partition(pending_.begin(), pending_.end(), [now](const Pending& p) { return p.due > now; });
      due.assign(std::make_move_iterator(split), std::make_move_iterator(pending_.end()));
      pending_.erase(split, pending_.end());
      rearmLocked();
    }
    std::sort(due.begin(), due.end());
    for (const Pending& pending : due) serve(pending);
  }
}

void SimulatedVusers::serve(const Pending& pending) {
  std::unique_ptr<CQVEventDef> event;
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || isFinished() || (schedulerFinished_ && pending.task != Task::Complete)) return;
    const std::uint64_t now = QVNowFileTime();
    Pool& pool = poolLocked(pending.pool);
    Entry entry;
    entry.at = now;
    switch (pending.task) {
      case Task::Complete:
        completeLocked(pending, pool, now);
        done = checkDoneLocked(now);
        break;
      case Task::RaiseScenarioInit:
        event = std::make_unique<CQVScenarioAllVusersInitEventDef>();
        entry.what = "scenarioAllVusersInit";
        break;
      case Task::RaiseGroupInit:
        event = std::make_unique<CQVGroupAllVusersInitEventDef>(pending.pool);
        entry.what = "groupAllVusersInit";
        break;
      case Task::RaiseGroupFinished:
        event = std::make_unique<CQVGroupFinishedRunningEventDef>(pending.pool);
        entry.what = "groupFinishedRunning";
        break;
    }
    if (event) {
      entry.kind = "event";
      entry.count = "-";
      entry.status = "raised";
      reportLocked(entry, pending.task == Task::RaiseScenarioInit && byGroup_ ? std::string("-") : pending.pool, nullptr);
    }
  }
  if (done) finishedEvent_.set();
  // Raised without any lock of ours: the scheduler reacts on this thread and calls back in.
  if (event) CQVEventsManager::instance()->notifyOnEvent(*event);
}
