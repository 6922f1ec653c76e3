// The one events manager of a scheduler. Runners register here for events and for relative
// times. Events announced by runners travel as requests to the process-wide events manager, which
// hands them back (this manager registered there for every definition it has local handlers for)
// to onEvent, which delivers them to the local handlers in the request's place; events raised by
// the host are queued. So the local handlers see requests and host events in arrival order. While
// paused, requests and events are held and the timer is paused; resume releases them before the
// timer resumes.
//
// Ownership: created by the schedule services object, which releases it with setCanBeDeleted();
// it then deletes itself once the process-wide manager no longer refers to it. Owns the timer.
// Threads: any. Requests and deliveries run with the scheduler lock held (pre/postExecute, which
// the events library pairs around every run of the queue);
// lock order: scheduler lock, then the timer lock, then the events library's internal locks.
#pragma once

#include "QVBaseEventsManager.h"
#include "QVCriticalSection.h"
#include "QVEventHandler.h"
#include "QVMutex.h"
#include "QVScheduleLocks.h"
#include "QVTimer.h"

#include <atomic>
#include <memory>

class CQVSchedulerEventsManager : public CQVBaseEventsManager, public CQVEventHandler {
 public:
  CQVSchedulerEventsManager();
  ~CQVSchedulerEventsManager() override;

  // Drops every registration (events and times) and every held request and event, and returns
  // to running.
  void reset();
  void notifyOnEvent(const CQVEventDef& def) override;
  virtual bool registerOnRelativeTime(long relSeconds, CQVTimeHandler* handler);
  virtual void unregisterTimeHandler(CQVTimeHandler* handler);
  bool getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds);
  void pause();
  void resume();
  bool isPaused() const { return paused.load(); }
  // The owner releases the manager; it deletes itself once nothing refers to it any more.
  void setCanBeDeleted();

  // Shared with the owner so that it outlives a deferred deletion.
  void setSchedulerLock(std::shared_ptr<QVCriticalSection> lock);
  QVCriticalSection* getSchedulerLock() const { return schedulerLock.load(); }
  CQVTimer& getTimer() { return timer; }
  long getRemainingRegistrations() QV_EXCLUDES(deleteMutex);

  // Marks, for its lifetime, that the calling thread passes `def` out to the process-wide manager
  // for a request of `manager`: the event that comes straight back to that manager's onEvent is
  // delivered at once, in the request's place, not queued behind items that arrived after the
  // request. Scopes nest per thread; only the innermost one counts.
  class ReturningEvent {
   public:
    ReturningEvent(const CQVSchedulerEventsManager* manager, const CQVEventDef& def);
    ~ReturningEvent();
    ReturningEvent(const ReturningEvent&) = delete;
    ReturningEvent& operator=(const ReturningEvent&) = delete;
    // True once per scope: `def` is the event of the innermost scope on this thread, for `manager`.
    static bool take(const CQVSchedulerEventsManager* manager, const CQVEventDef& def);

   private:
    const CQVSchedulerEventsManager* manager_;
    const CQVEventDef& def_;
    ReturningEvent* outer_;
    bool taken_ = false;
    static thread_local ReturningEvent* innermost;
  };

  // From the process-wide manager.
  void onEvent(const CQVEventDef& def) override;
  void setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) override;
  std::string getName() const override;

 protected:
  void registeredFirstHandlerForEvent(const CQVEventDef& def) override;
  void unregisteredLastHandlerForEvent(const CQVEventDef& def) override;
  bool canExecuteRequests() override;
  // Take and leave the scheduler lock (when one is set) around a run of the queue. The lock spans
  // the two calls, which the events library pairs by a scope guard of its own; the compiler
  // cannot follow a lock from one call to the other, so their bodies are not checked.
  void preExecuteEventRequests() override QV_ACQUIRE(QVSchedulerLock) QV_NO_THREAD_SAFETY_ANALYSIS;
  void postExecuteEventRequests() override QV_RELEASE(QVSchedulerLock) QV_NO_THREAD_SAFETY_ANALYSIS;

 private:
  void checkDelete() QV_EXCLUDES(deleteMutex);

  // Constant after construction (the lock is set once by the owner, before use).
  CQVTimer timer;
  std::shared_ptr<QVCriticalSection> schedulerLockKeeper;
  std::atomic<QVCriticalSection*> schedulerLock{nullptr};

  std::atomic<bool> paused{false};

  // Guards canBeDeleted, remainingRegistrations and deleting. A leaf lock.
  QVMutex deleteMutex;
  bool canBeDeleted QV_GUARDED_BY(deleteMutex) = false;
  long remainingRegistrations QV_GUARDED_BY(deleteMutex) = 0;  // held with the process-wide manager
  bool deleting QV_GUARDED_BY(deleteMutex) = false;
};
