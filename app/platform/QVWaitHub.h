// Internal to the platform layer: the registry of waiting threads behind QVWaitForAny, the
// waitable objects and the manual clock's settling.
#pragma once

#include "QVClock.h"
#include "QVWait.h"

#include <condition_variable>
#include <optional>
#include <set>
#include <vector>

namespace qvplatform_detail {

// Every member is guarded by waitMutex(), the hub's own mutex.
class WaitHub {
 public:
  static WaitHub& instance();

  // Waiting. The caller does not hold the mutex.
  std::size_t waitForAny(QVWaitable* const* objects, std::size_t count) QV_EXCLUDES(waitMutex());

  // Called after something may have become signalled (an event set, a timer armed, time moved, the
  // clock replaced): wakes every blocked waiter that can now proceed, every blocked waiter when
  // `wakeAll`, and the waiters of `rearmed` (their deadline changed).
  void wakeReadyLocked(bool wakeAll = false, const QVWaitable* rearmed = nullptr) QV_REQUIRES(waitMutex());

  // Counted threads (QVThread).
  void threadStartedLocked() QV_REQUIRES(waitMutex()) { ++busy_; }
  void threadEnded() QV_EXCLUDES(waitMutex());

  void addTimerLocked(QVWaitableTimer* timer) QV_REQUIRES(waitMutex()) { timers_.insert(timer); }
  void removeTimerLocked(QVWaitableTimer* timer) QV_REQUIRES(waitMutex()) { timers_.erase(timer); }
  // Earliest due time after `after` among armed timers.
  bool earliestArmedDueAfterLocked(std::uint64_t after, std::uint64_t& due) const QV_REQUIRES(waitMutex());

  // Blocks until no counted thread is busy; throws std::runtime_error after `timeout`.
  void settle(std::chrono::milliseconds timeout) QV_EXCLUDES(waitMutex());

 private:
  friend QVMutex& waitMutex();

  struct Waiter {
    QVWaitable* const* objects;
    std::size_t count;
    std::condition_variable cv;
    bool blocked QV_GUARDED_BY(waitMutex()) = false;
  };

  bool anySignalledLocked(const Waiter& waiter, std::uint64_t now) const QV_REQUIRES(waitMutex());
  static std::size_t consumeFirstSignalled(QVWaitable* const* objects, std::size_t count, std::uint64_t now)
      QV_REQUIRES(waitMutex());
  static std::optional<std::uint64_t> earliestDue(QVWaitable* const* objects, std::size_t count)
      QV_REQUIRES(waitMutex());
  static bool waitsOn(const Waiter& waiter, const QVWaitable* object);
  void becameBusyLocked() QV_REQUIRES(waitMutex()) { ++busy_; }
  void becameIdleLocked() QV_REQUIRES(waitMutex());
  // Blocks the caller's waiter until it is woken or `deadline` (none: no time-out) passes.
  void block(Waiter& self, QVMutexLock& lock, const std::optional<std::chrono::steady_clock::time_point>& deadline)
      QV_REQUIRES(waitMutex());

  QVMutex mutex_;
  std::condition_variable idleCv_;
  int busy_ QV_GUARDED_BY(waitMutex()) = 0;                       // counted threads not blocked in a wait
  std::vector<Waiter*> waiters_ QV_GUARDED_BY(waitMutex());       // every thread inside waitForAny
  std::set<QVWaitableTimer*> timers_ QV_GUARDED_BY(waitMutex());  // every live waitable timer
};

}  // namespace qvplatform_detail
