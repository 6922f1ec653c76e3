// QVMutex: a plain (non-recursive) mutex that the compiler's thread-safety analysis knows, and
// QVMutexLock, its scoped guard, which can also release early, take the lock again, and wait on a
// std::condition_variable (the mutex is released while waiting and held again on return). Use
// these instead of std::mutex and std::lock_guard wherever a member is QV_GUARDED_BY a lock.
#pragma once

#include "QVThreadSafety.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

class QV_CAPABILITY("mutex") QVMutex {
 public:
  QVMutex() = default;
  QVMutex(const QVMutex&) = delete;
  QVMutex& operator=(const QVMutex&) = delete;

  void lock() QV_ACQUIRE() { mutex_.lock(); }
  void unlock() QV_RELEASE() { mutex_.unlock(); }

 private:
  friend class QVMutexLock;
  std::mutex mutex_;
};

class QV_SCOPED_CAPABILITY QVMutexLock {
 public:
  explicit QVMutexLock(QVMutex& mutex) QV_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~QVMutexLock() QV_RELEASE() {
    if (held_) mutex_.unlock();
  }
  QVMutexLock(const QVMutexLock&) = delete;
  QVMutexLock& operator=(const QVMutexLock&) = delete;

  // Releases the lock before the end of the scope (to call out), and takes it again.
  void unlock() QV_RELEASE() {
    mutex_.unlock();
    held_ = false;
  }
  void lock() QV_ACQUIRE() {
    mutex_.lock();
    held_ = true;
  }

  // Waits for a notification of `cv` (or a spurious wake-up) with the lock released meanwhile.
  void wait(std::condition_variable& cv) {
    std::unique_lock<std::mutex> native(mutex_.mutex_, std::adopt_lock);
    cv.wait(native);
    native.release();
  }
  // The same, until `deadline` at the latest; false when the deadline passed.
  template <typename Clock, typename Duration>
  bool waitUntil(std::condition_variable& cv, const std::chrono::time_point<Clock, Duration>& deadline) {
    std::unique_lock<std::mutex> native(mutex_.mutex_, std::adopt_lock);
    const bool notified = cv.wait_until(native, deadline) == std::cv_status::no_timeout;
    native.release();
    return notified;
  }

 private:
  QVMutex& mutex_;
  bool held_ = true;
};
