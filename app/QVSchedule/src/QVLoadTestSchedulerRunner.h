// Root of the runner tree: owns the scheduler runners of the loaded definition (one scenario
// runner, or one group runner per group; the list runs in reverse order of addition), starts,
// stops, pauses and resumes them together, tells the host when all have finished or failed, and
// answers the run-time and run-mode queries.
//
// Threads: start, stop, pause, resume and loading come from host threads through the
// controller, which holds the scheduler lock around them; onEvent comes from event deliveries,
// which hold the same lock. stop also takes the second lock (after the scheduler lock) around
// deleting the runners. The queries (run time, run mode, stage) come from any thread at any time
// and take only the services' query lock: the list changes under both the scheduler lock and the
// query lock, so a query sees whole runners, and runners are deleted only once out of the list.
// The stage's question to the host (isInFinalStage) is asked after the query lock is released.
// The running and paused flags and the services pointer are atomic.
#pragma once

#include "QVContext.h"
#include "QVEventHandler.h"
#include "QVScheduleLocks.h"
#include "QVSchedulerRunner.h"

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

class CQVScheduleServices;

class CQVLoadTestSchedulerRunner : public CQVEventHandler {
 public:
  CQVLoadTestSchedulerRunner();
  ~CQVLoadTestSchedulerRunner() override;
  CQVLoadTestSchedulerRunner(const CQVLoadTestSchedulerRunner&) = delete;
  CQVLoadTestSchedulerRunner& operator=(const CQVLoadTestSchedulerRunner&) = delete;

  using RunnerList = std::list<std::unique_ptr<CQVSchedulerRunner>>;

  // Takes ownership and inserts at the front; false for null.
  bool addSchedulerRunner(CQVSchedulerRunner* runner) QV_REQUIRES(QVSchedulerLock) QV_EXCLUDES(QVQueryLock);
  // Deletes every scheduler runner and clears the flags.
  void clear(bool fromDestructor) QV_REQUIRES(QVSchedulerLock) QV_EXCLUDES(QVQueryLock);
  // Starts the loaded schedule; leaves a running schedule alone. False, with an error logged, when
  // the timer thread does not run (nothing would ever be called back).
  bool start() QV_REQUIRES(QVSchedulerLock);
  // Stops and deletes the scheduler runners, under the scheduler lock and the second lock (taken
  // here). Called back from inside a host call, it stops them and keeps them (retired) until
  // deleteRetiredRunners runs outside any host call.
  void stop() QV_EXCLUDES(QVQueryLock);
  void deleteRetiredRunners() QV_REQUIRES(QVSchedulerLock);
  void pause() QV_REQUIRES(QVSchedulerLock);
  void resume() QV_REQUIRES(QVSchedulerLock);

  // The queries: false when no runner answers (none of that context, nothing loaded, or a load
  // under way); the stage needs exactly one scheduler runner.
  bool getRunTime(const CQVContext& context, long& seconds) const QV_EXCLUDES(QVQueryLock);
  bool getRunMode(const CQVContext& context, CQVVusersServices::RunMode& mode) const QV_EXCLUDES(QVQueryLock);
  bool getSchedulerStage(CQVSchedulerStage& stage) const QV_EXCLUDES(QVQueryLock);
  // While a load builds the runners, the queries see no schedule (not a half-built one).
  void setLoading(bool loading) QV_EXCLUDES(QVQueryLock);

  void onEvent(const CQVEventDef& def) override;
  void setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) override;
  std::string getName() const override { return "CQVLoadTestSchedulerRunner"; }

  void setServices(CQVScheduleServices* value) { services.store(value); }
  CQVScheduleServices* getServices() const { return services.load(); }
  bool isRunning() const { return running.load(); }
  bool isPaused() const { return paused.load(); }
  // The list changes only under both locks, so the scheduler lock is enough to read it.
  const RunnerList& getSchedulerRunners() const QV_REQUIRES(QVSchedulerLock) QV_NO_THREAD_SAFETY_ANALYSIS {
    return schedulerRunners;
  }

 private:
  // The first runner in list order whose context matches: a group's from groupRunners, any other
  // by a walk of the list.
  const CQVSchedulerRunner* find(const CQVContext& context) const QV_REQUIRES(QVQueryLock);
  void buildGroupRunners() const QV_REQUIRES(QVQueryLock);
  void forgetGroupRunners() QV_REQUIRES(QVQueryLock);
  void unregisterSelf() QV_REQUIRES(QVSchedulerLock);
  // Deletes the stopped runners (or retires them, inside a host call).
  void discardRunners() QV_REQUIRES(QVSchedulerLock) QV_EXCLUDES(QVQueryLock);
  // Tells the host once that every runner has finished or failed.
  void finish() QV_REQUIRES(QVSchedulerLock);
  // The services' locks; null without services (nothing loaded: no query or callback can race).
  QVCriticalSection* schedulerLock() const;
  QVMutex* queryLock() const;

  RunnerList schedulerRunners QV_GUARDED_BY(QVQueryLock);  // changed under both locks
  // The runners of schedulerRunners whose context is a group's, by group name: of runners of one
  // name, the first in list order. Built by a group query that finds it empty (so a load pays
  // nothing for it), emptied whenever the list changes.
  mutable std::unordered_map<std::string, const CQVSchedulerRunner*> groupRunners QV_GUARDED_BY(QVQueryLock);
  bool loading QV_GUARDED_BY(QVQueryLock) = false;
  RunnerList retiredRunners QV_GUARDED_BY(QVSchedulerLock);  // stopped, awaiting deletion
  std::atomic<CQVScheduleServices*> services{nullptr};
  std::atomic<bool> paused{false};
  std::atomic<bool> running{false};
  // Registered for the scheduler finished/failed events.
  bool registered QV_GUARDED_BY(QVSchedulerLock) = false;
  // Scheduler runners finished or failed since start (each counts itself once), so that telling
  // whether all are done costs the same whatever their number.
  std::size_t doneRunners QV_GUARDED_BY(QVSchedulerLock) = 0;
};
