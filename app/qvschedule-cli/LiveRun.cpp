#include "LiveRun.h"

#include "QVClock.h"

const char* runStateName(RunState state) {
  switch (state) {
    case RunState::Loaded: return "loaded";
    case RunState::Running: return "running";
    case RunState::Paused: return "paused";
    case RunState::Finished: return "finished";
    case RunState::Stopped: return "stopped";
  }
  return "?";
}

LiveRun::LiveRun(std::vector<std::string> pools, bool byGroup)
    : pools_(std::move(pools)), poolNames_(pools_.begin(), pools_.end()), byGroup_(byGroup) {}

void LiveRun::setState(RunState state) {
  const std::uint64_t now = QVNowFileTime();
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = state;
  if ((state == RunState::Finished || state == RunState::Stopped) && endedAt_ == 0) endedAt_ = now;
  ++stateVersion_;
  changedLocked();
}

RunState LiveRun::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

ScheduleView LiveRun::readSchedule() const {
  ScheduleView view;
  view.hasStage = CQVSchedulerFacade::getSchedulerStage(view.stage);
  for (const std::string& pool : pools_) {
    ScheduleView::Group group;
    group.name = pool;
    if (byGroup_) {
      group.hasRunTime = CQVSchedulerFacade::getGroupRunTime(pool, group.runTime);
      group.hasMode = CQVSchedulerFacade::GetGroupRunMode(pool, group.mode);
    } else {
      group.hasRunTime = CQVSchedulerFacade::getScenarioRunTime(group.runTime);
      group.hasMode = CQVSchedulerFacade::GetScenarioRunMode(group.mode);
    }
    view.groups.push_back(group);
  }
  return view;
}

void LiveRun::freezeSchedule() {
  std::lock_guard<std::mutex> lock(scheduleMutex_);
  if (!frozen_) frozen_ = readSchedule();
}

ScheduleView LiveRun::schedule() const {
  std::lock_guard<std::mutex> lock(scheduleMutex_);
  return frozen_ ? *frozen_ : readSchedule();
}

void LiveRun::noteEntryLocked(const TimelineEntry& entry) {
  if (entry.kind != "call" || poolNames_.count(entry.group) == 0) return;
  if (entry.what == "onGroupFinished" || entry.what == "onSchedulerFinished") {
    finished_.insert(entry.group);
  } else if (entry.what.compare(0, 2, "on") != 0) {
    started_.insert(entry.group);  // the scheduler asked something of the group's vusers
  }
}

void LiveRun::addEntry(const std::string& json, const TimelineEntry* entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entry) noteEntryLocked(*entry);
  history_.push_back(Event{nextId_++, "entry", json});
  if (history_.size() > kHistory) history_.pop_front();
  changedLocked();
}

void LiveRun::addSample(const std::string& json) {
  std::lock_guard<std::mutex> lock(mutex_);
  history_.push_back(Event{nextId_++, "sample", json});
  if (history_.size() > kHistory) history_.pop_front();
  changedLocked();
}

std::vector<LiveRun::Event> LiveRun::eventsAfter(std::uint64_t id, std::size_t max) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Event> events;
  if (history_.empty()) return events;
  const std::uint64_t first = history_.front().id;
  std::size_t index = id < first ? 0 : static_cast<std::size_t>(id - first + 1);
  for (; index < history_.size() && events.size() < max; ++index) events.push_back(history_[index]);
  return events;
}

std::string LiveRun::groupState(const std::string& pool) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_.count(pool) || state_ == RunState::Finished) return "finished";
  if (state_ == RunState::Stopped) return "stopped";
  if (!started_.count(pool)) return "waiting";
  return state_ == RunState::Paused ? "paused" : "running";
}

void LiveRun::publishStatus(std::string json) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = std::move(json);
  ++statusVersion_;
  changedLocked();
}

std::pair<std::uint64_t, std::string> LiveRun::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {statusVersion_, status_};
}

std::uint64_t LiveRun::endedAt() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return endedAt_;
}

std::uint64_t LiveRun::version() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return version_;
}

std::uint64_t LiveRun::stateVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stateVersion_;
}

std::uint64_t LiveRun::waitForChange(std::uint64_t version, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return version_ != version || closed_; });
  return version_;
}

void LiveRun::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  changedLocked();
}

bool LiveRun::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void LiveRun::changedLocked() {
  ++version_;
  changed_.notify_all();
}
