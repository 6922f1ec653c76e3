// The vusers of the qvschedule program: a simulated pool per vuser group (or one pool for the
// whole scenario) that answers every call of the scheduler, raises the host events the schedule
// waits for, and reports each call and event to a listener.
//
// The model, per pool of N vusers (each vuser is idle, initialized, running or done):
// - init n: initializes up to n idle vusers; init all: every idle one.
// - run n: starts up to n vusers, initialized ones first, then idle ones (initialized on the way);
//   run all: every vuser not yet started.
// - stop n: stops up to n running vusers, the most recently started first; stop all: all of them.
// - A call answers 2 (no more vusers) when the pool had fewer vusers left than it asked for
//   (an "all" call: when there was nothing left at all), 0 otherwise; a duration may always start.
// - "All vusers initialized" is raised initSeconds after the last initialization call of a pool:
//   an init-all call, or an init call answered 2. In a definition by groups, the scenario-wide
//   event follows once every group's pool has had its last initialization call.
// - Vusers started in run-until-complete mode complete by themselves completeSeconds after their
//   start (a stop call ends them earlier).
// - "Group finished running" is raised for a group as soon as the scheduler has reported the
//   group's schedule finished (onGroupFinished) and none of the group's vusers is running.
// - Once the scheduler has reported the whole schedule finished, only the vusers running until
//   they complete are still simulated: they complete on time, and the run is over (isFinished)
//   when the last of them has. No event is raised any more.
//
// Threads: the scheduler calls in on its own threads; the pending completions and host events are
// served by one QVThread that waits on a QVWaitableTimer, so a manual clock sees and serves them.
// The listener is called with the pool lock held and must not call the scheduler.
#pragma once

#include "QVWait.h"
#include "VusersHost.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SimulatedVusers : public VusersHost {
 public:
  // Name of the pool of a definition for the whole scenario.
  static const char* const kScenarioPool;

  struct Settings {
    long defaultVusers = 10;
    std::map<std::string, long> groupVusers;  // overrides defaultVusers per group
    long initSeconds = 5;
    long completeSeconds = 30;
  };

  using Counts = VusersCounts;
  using Entry = TimelineEntry;

  // The running and initialized vusers of one pool from a moment on.
  struct Sample {
    std::uint64_t at = 0;
    std::string group;
    long running = 0;
    long initialized = 0;
  };

  // byGroup: the definition is by groups and `groups` names its pools; otherwise one pool.
  SimulatedVusers(const Settings& settings, bool byGroup, const std::vector<std::string>& groups,
                  Listener listener);
  ~SimulatedVusers() override;
  SimulatedVusers(const SimulatedVusers&) = delete;
  SimulatedVusers& operator=(const SimulatedVusers&) = delete;

  // Marks the start of the schedule (samples every pool at that time).
  void begin(std::uint64_t origin) override;
  // Stops the helper thread; nothing is raised any more. Idempotent.
  void shutdown() override;

  bool isFinished() const override { return finished_.load(std::memory_order_acquire); }
  std::uint64_t finishedAt() const override { return finishedAt_.load(std::memory_order_acquire); }
  // File time at which the run was over: the scheduler's finish, or the completion of the last
  // vuser running until complete after it.
  std::uint64_t doneAt() const { return doneAt_.load(std::memory_order_acquire); }
  // Set once when the scheduler reports the schedule finished.
  QVEvent& finishedEvent() override { return finishedEvent_; }

  std::vector<std::string> poolNames() const override;
  std::vector<Sample> samples() const;
  Counts counts(const std::string& pool) const override;

  void onSchedulerFinished() override;
  void onSchedulerPaused() override;
  void onSchedulerResumed() override;
  void onGroupFinished(const std::string& groupName) override;

  int initAllVusers(RunMode runMode) override;
  int initVusers(long count, RunMode runMode) override;
  int runAllVusers(RunMode runMode) override;
  int runVusers(RunMode runMode, long count) override;
  int stopAllVusers() override;
  int stopVusers(long count) override;
  int canStartDuration() override;
  bool isInFinalStage() override;

  int initAllGroupVusers(const std::string& groupName, RunMode runMode) override;
  int initGroupVusers(const std::string& groupName, long count, RunMode runMode) override;
  int runAllGroupVusers(const std::string& groupName, RunMode runMode) override;
  int runGroupVusers(const std::string& groupName, RunMode runMode, long count) override;
  int stopAllGroupVusers(const std::string& groupName) override;
  int stopGroupVusers(const std::string& groupName, long count) override;
  int canStartGroupDuration(const std::string& groupName) override;

 private:
  static constexpr long kAll = -1;

  struct Batch {
    std::uint64_t id;
    long remaining;
  };
  struct Pool {
    Counts counts;
    std::vector<Batch> batches;  // running vusers by start call, oldest first
    bool lastInitDone = false;
    bool scheduleFinished = false;
    bool finishedRaised = false;
  };
  enum class Task { RaiseScenarioInit, RaiseGroupInit, RaiseGroupFinished, Complete };
  struct Pending {
    std::uint64_t due;
    std::uint64_t seq;
    Task task;
    std::string pool;
    std::uint64_t batchId;
    // Due first; tasks due at the same time in the order they were scheduled.
    bool operator<(const Pending& other) const { return due != other.due ? due < other.due : seq < other.seq; }
  };

  // What a pool answers a call for `count` vusers (kAll: all it has) of which it could take
  // `taken`: short of the count, or none at all for "all", is "no more vusers".
  static int statusOf(long count, long taken);
  int init(const std::string& pool, long count, RunMode mode, const char* call);
  int run(const std::string& pool, long count, RunMode mode, const char* call);
  int stop(const std::string& pool, long count, const char* call);
  int canStart(const std::string& pool, const char* call);
  void notification(const std::string& pool, const char* call);

  Pool& poolLocked(const std::string& name);
  void addPoolLocked(const std::string& name);
  void sampleLocked(const std::string& name, const Pool& pool, std::uint64_t at);
  void reportLocked(Entry entry, const std::string& poolName, const Pool* pool);
  // Reports one host call (kind "call") at `at`.
  void reportCallLocked(std::uint64_t at, const std::string& call, std::string count, std::string status,
                        std::string mode, const std::string& poolName, const Pool* pool);
  void scheduleLocked(std::uint64_t due, Task task, const std::string& pool, std::uint64_t batchId = 0);
  void rearmLocked();
  void checkGroupFinishedLocked(const std::string& name, Pool& pool);
  // After the scheduler's finish: the run is over once no completion is pending. True when it is.
  bool checkDoneLocked(std::uint64_t now);
  // Serves a Complete task: the batch's vusers still running complete.
  void completeLocked(const Pending& pending, Pool& pool, std::uint64_t now);
  void threadBody();
  void serve(const Pending& pending);

  const Settings settings_;
  const bool byGroup_;
  const Listener listener_;

  mutable std::mutex mutex_;
  std::map<std::string, Pool> pools_;
  std::vector<std::string> order_;  // pool names in definition order
  std::vector<Sample> samples_;
  std::vector<Pending> pending_;
  std::uint64_t nextSeq_ = 0;
  bool stopping_ = false;
  bool schedulerFinished_ = false;
  std::size_t pendingCompletions_ = 0;  // Complete tasks scheduled and not yet served

  std::atomic<bool> finished_{false};
  std::atomic<std::uint64_t> finishedAt_{0};
  std::atomic<std::uint64_t> doneAt_{0};
  QVEvent finishedEvent_;
  QVEvent wake_;
  QVWaitableTimer timer_;
  std::unique_ptr<QVThread> thread_;
};

// "succeeded", "failed", "no-more-vusers", "abandoned" or the number. The timeline's words are
// single tokens, so that its lines split on spaces (and NDJSON keeps the same values); the
// library's own log writes "no more vusers", which log readers match, so the two stay apart.
std::string statusWord(int status);
// "until-complete" or "indefinitely".
const char* runModeWord(CQVVusersServices::RunMode mode);
