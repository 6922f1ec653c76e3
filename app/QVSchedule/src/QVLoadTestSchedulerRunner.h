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
#include "QVSchedulerRunner.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>

class CQVScheduleServices;

class CQVLoadTestSchedulerRunner : public CQVEventHandler {
 public:
  CQVLoadTestSchedulerRunner();
  ~CQVLoadTestSchedulerRunner() override;
  CQVLoadTestSchedulerRunner(const CQVLoadTestSchedulerRunner&) = delete;
  CQVLoadTestSchedulerRunner& operator=(const CQVLoadTestSchedulerRunner&) = delete;

  // Takes ownership and inserts at the front; false for null.
  bool addSchedulerRunner(CQVSchedulerRunner* runner);
  // Deletes every scheduler runner and clears the flags.
  void clear(bool fromDestructor);
  // Starts the loaded schedule; leaves a running schedule alone. Always true.
  bool start();
  // Stops and deletes the scheduler runners. Called back from inside a host call, it stops them
  // and keeps them (retired) until deleteRetiredRunners runs outside any host call.
  void stop();
  void deleteRetiredRunners();
  void pause();
  void resume();

  // The queries: false when no runner answers (none of that context, nothing loaded, or a load
  // under way); the stage needs exactly one scheduler runner.
  bool getRunTime(const CQVContext& context, long& seconds) const;
  bool getRunMode(const CQVContext& context, CQVVusersServices::RunMode& mode) const;
  bool getSchedulerStage(CQVSchedulerStage& stage) const;
  // While a load builds the runners, the queries see no schedule (not a half-built one).
  void setLoading(bool loading);

  void onEvent(const CQVEventDef& def) override;
  void setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) override;
  std::string getName() const override { return "CQVLoadTestSchedulerRunner"; }

  void setServices(CQVScheduleServices* value) { services.store(value); }
  CQVScheduleServices* getServices() const { return services.load(); }
  bool isRunning() const { return running.load(); }
  bool isPaused() const { return paused.load(); }
  const std::list<std::unique_ptr<CQVSchedulerRunner>>& getSchedulerRunners() const { return schedulerRunners; }

 private:
  // Call with the query lock held.
  const CQVSchedulerRunner* find(const CQVContext& context) const;
  void unregisterSelf();
  // The services' query lock; none without services (nothing loaded, nothing to guard).
  std::unique_lock<std::mutex> lockQueries() const;

  // Changed under the scheduler lock and the query lock; read under either.
  std::list<std::unique_ptr<CQVSchedulerRunner>> schedulerRunners;
  bool loading = false;  // under the query lock
  std::list<std::unique_ptr<CQVSchedulerRunner>> retiredRunners;  // stopped, awaiting deletion
  std::atomic<CQVScheduleServices*> services{nullptr};
  std::atomic<bool> paused{false};
  std::atomic<bool> running{false};
  bool registered = false;  // registered for the scheduler finished/failed events
  // Scheduler runners finished or failed since start (each counts itself once), so that telling
  // whether all are done costs the same whatever their number. Under the scheduler lock.
  std::size_t doneRunners = 0;
};
