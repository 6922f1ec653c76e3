// Common base of every runner of a schedule (scheduler runners and action runners): the start
// handshake, the run state, and registration of events and relative times through the scheduler
// events manager of the services object.
//
// A runner starts once, when both its owner's permission (mayStart) and its start condition
// (every start-condition event arrived, or, without any, a zero-delay timer callback) have come,
// in either order. A STOPPED runner registers nothing.
//
// Ownership: services is not owned; context is owned by scheduler runners, shared by action
// runners. Start-condition event handlers are released through the events library's
// unregistration report; the start-condition time handler is owned.
// Threads: callbacks come from the timer thread and event deliveries, always under the scheduler
// lock; the owner's calls run under the same lock (QV_REQUIRES(QVSchedulerLock) on every operation
// of the run; the setters are for building). Runners hold no locks of their own.
#pragma once

#include "QVBaseRunnerEventHandler.h"
#include "QVBaseRunnerTimeHandler.h"
#include "QVContext.h"
#include "QVScheduleLocks.h"

#include <atomic>
#include <list>
#include <memory>

class CQVScheduleServices;
class CQVSchedulerEventsManager;

class CQVBaseRunner {
 public:
  enum RunState : int {
    NOT_STARTED = 0,
    MAY_START = 1,
    START_CONDITION_MET = 2,
    RUNNING = 3,
    FINISHED = 4,
    FAILED = 5,
    STOPPED = 6,
  };

  CQVBaseRunner();
  CQVBaseRunner(const CQVBaseRunner&) = delete;
  CQVBaseRunner& operator=(const CQVBaseRunner&) = delete;
  virtual ~CQVBaseRunner();

  virtual void registerOnStartCondition() QV_REQUIRES(QVSchedulerLock);
  virtual bool beforeStartRunning() QV_REQUIRES(QVSchedulerLock);
  virtual bool start() QV_REQUIRES(QVSchedulerLock) = 0;
  virtual void stopRunning() QV_REQUIRES(QVSchedulerLock);
  virtual bool setFinishedRunning() QV_REQUIRES(QVSchedulerLock);
  virtual void setFailedRunning() QV_REQUIRES(QVSchedulerLock);
  virtual void unregisterOnEvents() QV_REQUIRES(QVSchedulerLock);
  virtual void onTimeArrived(CQVBaseRunnerTimeHandler* handler) QV_REQUIRES(QVSchedulerLock);
  virtual void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) QV_REQUIRES(QVSchedulerLock);

  // Adds a start-condition event (a copy is kept); registered by registerOnStartCondition.
  void addStartConditionEvent(const CQVEventDef& def);
  void mayStart() QV_REQUIRES(QVSchedulerLock);
  void onTime(CQVBaseRunnerTimeHandler* handler) QV_REQUIRES(QVSchedulerLock);
  void onEvent(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) QV_REQUIRES(QVSchedulerLock);

  void checkStartCondition() QV_REQUIRES(QVSchedulerLock);
  void onStartConditionMet() QV_REQUIRES(QVSchedulerLock);
  bool startToRun() QV_REQUIRES(QVSchedulerLock);
  void registerStartConditionEventHandlers() QV_REQUIRES(QVSchedulerLock);
  void unregisterStartConditionEventHandlers() QV_REQUIRES(QVSchedulerLock);
  void registerStartConditionTimeHandler() QV_REQUIRES(QVSchedulerLock);
  void unregisterStartConditionTimeHandler() QV_REQUIRES(QVSchedulerLock);

  // Calls `handler` after `seconds`; a STOPPED runner registers nothing and answers true.
  bool registerOnRelativeTime(long seconds, CQVTimeHandler* handler) QV_REQUIRES(QVSchedulerLock);
  void unregisterTimeHandler(CQVTimeHandler* handler) QV_REQUIRES(QVSchedulerLock);

  // For callbacks that arrive through the timer's and the events library's interfaces: the
  // scheduler lock of this runner's services is held (checked when assertions are on).
  void assertSchedulerLockHeld() const QV_ASSERT_CAPABILITY(QVSchedulerLock);

  RunState getRunState() const { return runState.load(); }
  void setRunState(RunState state) { runState.store(state); }
  void setServices(CQVScheduleServices* value) { services = value; }
  CQVScheduleServices* getServices() const { return services; }
  void setContext(CQVContext* value) { context = value; }
  CQVContext* getContext() const { return context; }
  const std::list<CQVBaseRunnerEventHandler*>& getStartConditionEventHandlers() const {
    return startConditionEventHandlers;
  }

 protected:
  CQVSchedulerEventsManager* eventsManager() const;
  // The one way runners wait for an event: a new handler for `def`, registered unless STOPPED.
  CQVBaseRunnerEventHandler* createEventHandler(const CQVEventDef& def) QV_REQUIRES(QVSchedulerLock);
  // Detaches and unregisters `handler` (null-safe) and nulls the pointer. A handler that the
  // events manager no longer knows (never registered, or dropped by a reset) is deleted here;
  // otherwise it deletes itself on the unregistration report.
  void releaseEventHandler(CQVBaseRunnerEventHandler*& handler) QV_REQUIRES(QVSchedulerLock);

  std::list<CQVBaseRunnerEventHandler*> startConditionEventHandlers;
  std::unique_ptr<CQVBaseRunnerTimeHandler> startConditionTimeHandler;
  std::atomic<RunState> runState{NOT_STARTED};  // written under the scheduler lock, read by queries
  CQVScheduleServices* services = nullptr;
  CQVContext* context = nullptr;
};
