// Root of the runner tree: owns the scheduler runners of the loaded definition (one scenario
// runner, or one group runner per group; the list runs in reverse order of addition), starts,
// stops, pauses and resumes them together, tells the host when all have finished or failed, and
// answers the run-time and run-mode queries.
//
// Threads: start, stop, pause, resume and the queries come from host threads through the
// controller, which holds the scheduler lock around them; onEvent comes from event deliveries,
// which hold the same lock. stop also takes the second lock (after the scheduler lock) around
// deleting the runners. The running and paused flags are atomic.
#pragma once

#include "QVContext.h"
#include "QVEventHandler.h"
#include "QVSchedulerRunner.h"

#include <atomic>
#include <list>
#include <memory>

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

  bool getRunTime(const CQVContext& context, long& seconds) const;
  bool getRunMode(const CQVContext& context, CQVVusersServices::RunMode& mode) const;

  void onEvent(const CQVEventDef& def) override;
  void setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) override;
  std::string getName() const override { return "CQVLoadTestSchedulerRunner"; }

  void setServices(CQVScheduleServices* value) { services = value; }
  CQVScheduleServices* getServices() const { return services; }
  bool isRunning() const { return running.load(); }
  bool isPaused() const { return paused.load(); }
  const std::list<std::unique_ptr<CQVSchedulerRunner>>& getSchedulerRunners() const { return schedulerRunners; }

 private:
  const CQVSchedulerRunner* find(const CQVContext& context) const;
  void unregisterSelf();

  std::list<std::unique_ptr<CQVSchedulerRunner>> schedulerRunners;
  std::list<std::unique_ptr<CQVSchedulerRunner>> retiredRunners;  // stopped, awaiting deletion
  CQVScheduleServices* services = nullptr;
  std::atomic<bool> paused{false};
  std::atomic<bool> running{false};
  bool registered = false;  // registered for the scheduler finished/failed events
  // Scheduler runners finished or failed since start (each counts itself once), so that telling
  // whether all are done costs the same whatever their number. Under the scheduler lock.
  std::size_t doneRunners = 0;
};
