// Recursive lock (a critical section): the thread that holds it may enter it again, and leaves it
// as often as it entered. QVCriticalSectionLock is its scoped guard; enter/leave by hand only where
// a lock spans two calls of someone else's making (the events library's pre/post execute hooks).
//
// The compiler's thread-safety analysis knows it as a capability; it does not model re-entry, so
// code that may run with the lock already held calls a function that QV_REQUIRES it rather than
// taking it a second time in view of the analysis.
#pragma once

#include "QVThreadSafety.h"

#include <atomic>
#include <mutex>
#include <thread>

class QV_CAPABILITY("mutex") QVCriticalSection {
 public:
  QVCriticalSection() = default;
  QVCriticalSection(const QVCriticalSection&) = delete;
  QVCriticalSection& operator=(const QVCriticalSection&) = delete;

  void enter() QV_ACQUIRE() {
    mutex_.lock();
    if (depth_++ == 0) owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void leave() QV_RELEASE() {
    if (--depth_ == 0) owner_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
  }
  bool tryEnter() QV_TRY_ACQUIRE(true) {
    if (!mutex_.try_lock()) return false;
    if (depth_++ == 0) owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    return true;
  }

  // Whether the calling thread holds the lock (for assertions; another thread's answer may be
  // stale by the time it is read).
  bool isHeldByCurrentThread() const {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }

 private:
  std::recursive_mutex mutex_;
  int depth_ = 0;                      // entries of the owner; changed only by the owner
  std::atomic<std::thread::id> owner_;  // the holding thread, or no thread
};

class QV_SCOPED_CAPABILITY QVCriticalSectionLock {
 public:
  explicit QVCriticalSectionLock(QVCriticalSection& lock) QV_ACQUIRE(lock) : lock_(lock) { lock_.enter(); }
  ~QVCriticalSectionLock() QV_RELEASE() { lock_.leave(); }
  QVCriticalSectionLock(const QVCriticalSectionLock&) = delete;
  QVCriticalSectionLock& operator=(const QVCriticalSectionLock&) = delete;

 private:
  QVCriticalSection& lock_;
};
