// Calls registered time handlers back on its own thread when they are due.
//
// Owns the timer thread, a waitable timer armed for the earliest due time, three wake-up events
// (stop, pause, earlier time) and two handler maps: the absolute map drives the waitable timer
// while running; the relative map holds every registration, as remaining time, while paused.
// Handlers are not owned.
//
// Threads: registration, unregistration, pause, resume, reset and the remaining-time query come
// from any thread (also from handlers on the timer thread). Handlers run on the timer thread with
// the scheduler lock held (when one is set) and the timer lock free.
// Lock order: scheduler lock before timer lock; the timer lock is never held while a handler runs.
// The destructor must not run on the timer thread.
#pragma once

#include "QVAbsTimeHandlersMap.h"
#include "QVCriticalSection.h"
#include "QVRelTimeHandlersMap.h"
#include "QVWait.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CQVTimer {
 public:
  CQVTimer();
  ~CQVTimer();
  CQVTimer(const CQVTimer&) = delete;
  CQVTimer& operator=(const CQVTimer&) = delete;

  // Ends the timer thread (after its current pass) and waits for it; idempotent. No handler is
  // called afterwards.
  void stopThread();
  // Drops every registration and returns to running; the thread and the waitable timer's setting stay.
  void reset();
  // Calls `handler` once, `relSeconds` from now (or from resume while paused). Always true.
  bool registerOnRelativeTime(long relSeconds, CQVTimeHandler* handler);
  // Removes one registration of `handler` from each map.
  void unregisterTimeHandler(CQVTimeHandler* handler);
  // Freezes the remaining time of every registration (the move happens on the timer thread).
  void pause();
  // Restarts every registration from now with its remaining time.
  void resume();
  // Whole seconds until the handler is due (while paused: what remained at the pause).
  bool getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds);

  // The lock held around every notification pass; not owned, must outlive the timer.
  void setSchedulerLock(QVCriticalSection* lock) { schedulerLock.store(lock, std::memory_order_release); }
  QVCriticalSection* getSchedulerLock() const { return schedulerLock.load(std::memory_order_acquire); }

  bool isPaused();
  // Registrations held in both maps.
  std::size_t registrationCount();
  long getThreadId() const { return threadId; }
  bool isTimerThread() const;

  // "day/month/year hour:minute:second:millisecond" in UTC, empty when the time cannot be converted.
  static std::string formatFileTime(const ULARGE_INTEGER& time);

 private:
  bool init();
  void waitForTimeAndCallHandlers();
  bool setTimer();
  void executePause();
  void onTime();
  void notifyOnTime(const ULARGE_INTEGER& now);
  // Calls the handlers of the entry due at `due` until it is empty; false when a pause ended it.
  bool serveEntry(std::uint64_t due);
  void EnterTimerCriticalSection();
  void LeaveTimerCriticalSection();
  void moveAll(CQVBaseTimeHandlersMap& from, CQVBaseTimeHandlersMap& to);

  // Guarded by timerLock.
  CQVAbsTimeHandlersMap absTimeHandlersMap;
  CQVRelTimeHandlersMap relTimeHandlersMap;
  CQVBaseTimeHandlersMap* currTimeHandlersMap;  // the absolute map while running, the relative one while paused
  bool paused = false;

  // Constant after construction. Index order is the wait's priority order.
  QVEvent stopEvent;
  QVEvent pauseEvent;
  QVEvent earlierTimeEvent;
  QVWaitableTimer waitableTimer;
  QVWaitable* handles[4];
  std::unique_ptr<QVThread> thread;
  long threadId = 0;

  // Recursive; guards the maps, currTimeHandlersMap and paused. Taken after the scheduler lock.
  QVCriticalSection timerLock;
  // Set once by the owner, read by the timer thread.
  std::atomic<QVCriticalSection*> schedulerLock{nullptr};
};
