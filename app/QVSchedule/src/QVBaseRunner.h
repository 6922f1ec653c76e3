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
// lock; the owner's calls run under the same lock. Runners hold no locks of their own.
#pragma once

#include "QVBaseRunnerEventHandler.h"
#include "QVBaseRunnerTimeHandler.h"
#include "QVContext.h"

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

  virtual void registerOnStartCondition();
  virtual bool beforeStartRunning();
  virtual bool start() = 0;
  virtual void stopRunning();
  virtual bool setFinishedRunning();
  virtual void setFailedRunning();
  virtual void unregisterOnEvents();
  virtual void onTimeArrived(CQVBaseRunnerTimeHandler* handler);
  virtual void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler);

  // Adds a start-condition event (a copy is kept); registered by registerOnStartCondition.
  void addStartConditionEvent(const CQVEventDef& def);
  void mayStart();
  void onTime(CQVBaseRunnerTimeHandler* handler);
  void onEvent(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler);

  void checkStartCondition();
  void onStartConditionMet();
  bool startToRun();
  void registerStartConditionEventHandlers();
  void unregisterStartConditionEventHandlers();
  void registerStartConditionTimeHandler();
  void unregisterStartConditionTimeHandler();

  // Calls `handler` after `seconds`; a STOPPED runner registers nothing and answers true.
  bool registerOnRelativeTime(long seconds, CQVTimeHandler* handler);
  void unregisterTimeHandler(CQVTimeHandler* handler);

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
  CQVBaseRunnerEventHandler* createEventHandler(const CQVEventDef& def);
  // Detaches and unregisters `handler` (null-safe) and nulls the pointer. A handler that the
  // events manager no longer knows (never registered, or dropped by a reset) is deleted here;
  // otherwise it deletes itself on the unregistration report.
  void releaseEventHandler(CQVBaseRunnerEventHandler*& handler);

  std::list<CQVBaseRunnerEventHandler*> startConditionEventHandlers;
  std::unique_ptr<CQVBaseRunnerTimeHandler> startConditionTimeHandler;
  std::atomic<RunState> runState{NOT_STARTED};  // written under the scheduler lock, read by queries
  CQVScheduleServices* services = nullptr;
  CQVContext* context = nullptr;
};
