// Internal to the platform layer: the registry of waiting threads behind QVWaitForAny, the
// waitable objects and the manual clock's settling.
#pragma once

#include "QVClock.h"
#include "QVWait.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <vector>

namespace qvplatform_detail {

class WaitHub {
 public:
  static WaitHub& instance();

  std::mutex& mutex() { return mutex_; }

  // Waiting. The caller does not hold the mutex.
  std::size_t waitForAny(QVWaitable* const* objects, std::size_t count);

  // Called with the mutex held after something may have become signalled (an event set, a timer
  // armed, time moved, the clock replaced): wakes every blocked waiter that can now proceed, every
  // blocked waiter when `wakeAll`, and the waiters of `rearmed` (their deadline changed).
  void wakeReadyLocked(bool wakeAll = false, const QVWaitable* rearmed = nullptr);

  // Counted threads (QVThread).
  void threadStartedLocked() { ++busy_; }
  void threadEnded();

  void addTimerLocked(QVWaitableTimer* timer) { timers_.insert(timer); }
  void removeTimerLocked(QVWaitableTimer* timer) { timers_.erase(timer); }
  // Earliest due time after `after` among armed timers.
  bool earliestArmedDueAfterLocked(std::uint64_t after, std::uint64_t& due) const;

  // Blocks until no counted thread is busy; throws std::runtime_error after `timeout`.
  void settle(std::chrono::milliseconds timeout);

 private:
  struct Waiter {
    QVWaitable* const* objects;
    std::size_t count;
    std::condition_variable cv;
    bool blocked = false;
  };

  bool anySignalledLocked(const Waiter& waiter, std::uint64_t now) const;
  static bool waitsOn(const Waiter& waiter, const QVWaitable* object);
  void becameBusyLocked() { ++busy_; }
  void becameIdleLocked();

  std::mutex mutex_;
  std::condition_variable idleCv_;
  int busy_ = 0;                        // counted threads not blocked in a wait
  std::vector<Waiter*> waiters_;        // every thread inside waitForAny
  std::set<QVWaitableTimer*> timers_;   // every live waitable timer
};

}  // namespace qvplatform_detail
