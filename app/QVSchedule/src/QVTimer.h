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
// Every use of the timer lock goes through TimerLock, which writes the Before/After
// Enter/LeaveTimerCriticalSection trace lines (log readers follow the lock by them).
// The destructor must not run on the timer thread.
#pragma once

#include "QVAbsTimeHandlersMap.h"
#include "QVCriticalSection.h"
#include "QVRelTimeHandlersMap.h"
#include "QVScheduleLocks.h"
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

  // Starts the timer thread unless it runs (the constructor does; a start the system refused is
  // logged as an error and tried again here). False when there is no timer thread: registrations
  // would never be called back.
  bool startThread() QV_EXCLUDES(timerLock);
  // Ends the timer thread (after its current pass) and waits for it; idempotent. No handler is
  // called afterwards.
  void stopThread() QV_EXCLUDES(timerLock);
  // Drops every registration and returns to running; the thread and the waitable timer's setting stay.
  void reset() QV_EXCLUDES(timerLock);
  // Calls `handler` once, `relSeconds` from now (or from resume while paused). Always true.
  bool registerOnRelativeTime(long relSeconds, CQVTimeHandler* handler) QV_EXCLUDES(timerLock);
  // Removes one registration of `handler` from each map.
  void unregisterTimeHandler(CQVTimeHandler* handler) QV_EXCLUDES(timerLock);
  // Freezes the remaining time of every registration (the move happens on the timer thread).
  void pause() QV_EXCLUDES(timerLock);
  // Restarts every registration from now with its remaining time.
  void resume() QV_EXCLUDES(timerLock);
  // Whole seconds until the handler is due (while paused: what remained at the pause).
  bool getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) QV_EXCLUDES(timerLock);

  // The lock held around every notification pass; not owned, must outlive the timer.
  void setSchedulerLock(QVCriticalSection* lock) { schedulerLock.store(lock, std::memory_order_release); }
  QVCriticalSection* getSchedulerLock() const { return schedulerLock.load(std::memory_order_acquire); }

  bool isPaused() QV_EXCLUDES(timerLock);
  // Registrations held in both maps.
  std::size_t registrationCount() QV_EXCLUDES(timerLock);
  long getThreadId() QV_EXCLUDES(timerLock);
  bool isTimerThread() QV_EXCLUDES(timerLock);

  // "day/month/year hour:minute:second:millisecond" in UTC, empty when the time cannot be converted.
  static std::string formatFileTime(const ULARGE_INTEGER& time);

 private:
  class TimerLock;

  // What the timer thread waits for, in the wait's priority order (the index of each in `handles`).
  enum Wake : std::size_t { WAKE_STOP, WAKE_PAUSE, WAKE_EARLIER_TIME, WAKE_TIMER_DUE, WAKE_REASONS };

  void waitForTimeAndCallHandlers();
  // Arms the waitable timer for the first entry of the absolute map (nothing to arm when it is
  // empty). False when no timer thread runs to serve it.
  bool setTimer() QV_EXCLUDES(timerLock);
  bool setTimerLocked() QV_REQUIRES(timerLock);
  void executePause() QV_EXCLUDES(timerLock);
  void onTime() QV_EXCLUDES(timerLock);
  void notifyOnTime(const ULARGE_INTEGER& now) QV_EXCLUDES(timerLock);
  // Calls the handlers of the entry due at `due` until it is empty; false when a pause ended it.
  bool serveEntry(std::uint64_t due) QV_EXCLUDES(timerLock);
  // The first entry's due time, when there is one, the timer runs and it is due by `now`.
  bool firstDueBy(const ULARGE_INTEGER& now, std::uint64_t& due) QV_EXCLUDES(timerLock);
  void EnterTimerCriticalSection() QV_ACQUIRE(timerLock);
  void LeaveTimerCriticalSection() QV_RELEASE(timerLock);
  void moveAll(CQVBaseTimeHandlersMap& from, CQVBaseTimeHandlersMap& to) QV_REQUIRES(timerLock);

  CQVAbsTimeHandlersMap absTimeHandlersMap QV_GUARDED_BY(timerLock);
  CQVRelTimeHandlersMap relTimeHandlersMap QV_GUARDED_BY(timerLock);
  // The absolute map while running, the relative one while paused.
  CQVBaseTimeHandlersMap* currTimeHandlersMap QV_GUARDED_BY(timerLock) QV_PT_GUARDED_BY(timerLock);
  bool paused QV_GUARDED_BY(timerLock) = false;
  std::unique_ptr<QVThread> thread QV_GUARDED_BY(timerLock);
  long threadId QV_GUARDED_BY(timerLock) = 0;

  // Constant after construction; indexed by Wake.
  QVEvent stopEvent;
  QVEvent pauseEvent;
  QVEvent earlierTimeEvent;
  QVWaitableTimer waitableTimer;
  QVWaitable* handles[WAKE_REASONS];

  // Recursive; guards the maps, currTimeHandlersMap, paused and the thread. Taken after the
  // scheduler lock; never held while a handler runs.
  QVCriticalSection timerLock;
  // Set once by the owner, read by the timer thread.
  std::atomic<QVCriticalSection*> schedulerLock{nullptr};
};
