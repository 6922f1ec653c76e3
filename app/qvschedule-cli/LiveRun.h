// What a run shows to those who watch it through the control API and its event stream: the state
// of the run as the run loop sets it; the schedule's stage, run times and run modes (read from the
// facade while the schedule exists, frozen just before it is stopped); which groups have started
// and finished; and the history of timeline entries and once-a-second samples, each with an id,
// so that a watcher that connects late (or again) gets what it missed.
//
// Threads: the run loop (main thread) sets the state and freezes the schedule; the console's tap
// adds entries on whatever thread writes a timeline line (with the console's lock held); the
// server's threads add samples, publish the status and read. Two locks:
// - scheduleMutex_ guards frozen_ and is held across the facade's queries (taken before the
//   scheduler's lock), so that a freeze waits for a reading in progress;
// - mutex_ guards everything else; a leaf lock, never held while calling out.
#pragma once

#include "VusersHost.h"

#include "QVSchedule.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

enum class RunState { Loaded, Running, Paused, Finished, Stopped };
// "loaded", "running", "paused", "finished", "stopped".
const char* runStateName(RunState state);

// The facade's answers about the schedule at one moment.
struct ScheduleView {
  struct Group {
    std::string name;  // the pool's name ("scenario" for a definition for the whole scenario)
    bool hasRunTime = false;
    long runTime = 0;  // seconds
    bool hasMode = false;
    CQVVusersServices::RunMode mode = CQVVusersServices::RUN_INDEFINITELY;
  };
  bool hasStage = false;
  CQVSchedulerStage stage;
  std::vector<Group> groups;  // one per pool, in definition order
};

class LiveRun {
 public:
  struct Event {
    std::uint64_t id = 0;  // from 1, one more per event
    std::string type;      // "entry" or "sample"
    std::string data;      // a JSON object
  };
  // Events kept for watchers that connect late; older ones are dropped.
  static constexpr std::size_t kHistory = 50000;

  LiveRun(std::vector<std::string> pools, bool byGroup);
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;

  const std::vector<std::string>& pools() const { return pools_; }

  void setState(RunState state);
  RunState state() const;
  // The file time at which the state became finished or stopped (0 before).
  std::uint64_t endedAt() const;
  // Keeps the facade's answers of now for every later schedule(); before the schedule is stopped.
  void freezeSchedule();
  ScheduleView schedule() const;

  // A timeline line as JSON, with its entry when it is a call, event or vusers line.
  void addEntry(const std::string& json, const TimelineEntry* entry);
  void addSample(const std::string& json);
  // Up to `max` events after `id`, oldest first.
  std::vector<Event> eventsAfter(std::uint64_t id, std::size_t max) const;
  // "waiting", "running", "paused", "finished" or "stopped".
  std::string groupState(const std::string& pool) const;

  // The latest status (JSON) and its version (0: none yet).
  void publishStatus(std::string json);
  std::pair<std::uint64_t, std::string> status() const;
  // Counts every change (event, status, state, close).
  std::uint64_t version() const;
  std::uint64_t stateVersion() const;
  // Waits up to `timeout` for a change after `version`; answers the version now.
  std::uint64_t waitForChange(std::uint64_t version, std::chrono::milliseconds timeout) const;
  // No more changes: the watchers end their streams.
  void close();
  bool closed() const;

 private:
  ScheduleView readSchedule() const;
  void changedLocked();
  void noteEntryLocked(const TimelineEntry& entry);

  const std::vector<std::string> pools_;
  const std::unordered_set<std::string> poolNames_;  // pools_, to look names up
  const bool byGroup_;

  mutable std::mutex scheduleMutex_;  // guards frozen_; held across facade queries
  std::optional<ScheduleView> frozen_;

  mutable std::mutex mutex_;  // guards the members below; a leaf lock
  mutable std::condition_variable changed_;
  RunState state_ = RunState::Loaded;
  std::uint64_t endedAt_ = 0;
  std::deque<Event> history_;
  std::uint64_t nextId_ = 1;
  std::set<std::string> started_;
  std::set<std::string> finished_;
  std::string status_;
  std::uint64_t statusVersion_ = 0;
  std::uint64_t version_ = 0;
  std::uint64_t stateVersion_ = 0;
  bool closed_ = false;
};
