// The schedule's locks as the compiler's thread-safety analysis knows them, and their guards.
//
// Each CQVScheduleServices owns a scheduler lock and a query lock; the root runner, every scheduler
// and action runner, the events manager and its timer reach the locks of their schedule through
// pointers, which the analysis cannot follow from one object to the next. So it knows each lock
// by one name, QVSchedulerLock and QVQueryLock below (a thread works on one schedule at a time),
// and the guards take an object's real lock and its name together. A member guarded by the lock
// says QV_GUARDED_BY(QVSchedulerLock), a function that needs it QV_REQUIRES(QVSchedulerLock).
// Where a call arrives through an interface that knows nothing of the lock (a time or event
// callback), QVAssertSchedulerLockHeld states the contract and checks it in debug builds.
//
// Lock order: scheduler lock, second lock, query lock, timer lock; the events library's locks and
// the platform's are leaves.
#pragma once

#include "QVCriticalSection.h"
#include "QVMutex.h"
#include "QVThreadSafety.h"

// The names. Never locked themselves: only the guards below take them.
class QV_CAPABILITY("mutex") CQVLockName {
 public:
  CQVLockName() = default;
  CQVLockName(const CQVLockName&) = delete;
  CQVLockName& operator=(const CQVLockName&) = delete;
};

// The scheduler lock (recursive): held around every runner callback and facade operation.
extern CQVLockName QVSchedulerLock;
// The query lock: guards what the host's queries read without the scheduler lock.
extern CQVLockName QVQueryLock;

// Holds a schedule's scheduler lock for its lifetime. A null lock is for code that may run before
// any schedule exists (nothing loaded: no other thread can reach what it touches).
class QV_SCOPED_CAPABILITY CQVSchedulerLockGuard {
 public:
  explicit CQVSchedulerLockGuard(QVCriticalSection* lock) QV_ACQUIRE(QVSchedulerLock) : lock_(lock) {
    if (lock_) lock_->enter();
  }
  explicit CQVSchedulerLockGuard(QVCriticalSection& lock) QV_ACQUIRE(QVSchedulerLock)
      : CQVSchedulerLockGuard(&lock) {}
  ~CQVSchedulerLockGuard() QV_RELEASE() {
    if (lock_) lock_->leave();
  }
  CQVSchedulerLockGuard(const CQVSchedulerLockGuard&) = delete;
  CQVSchedulerLockGuard& operator=(const CQVSchedulerLockGuard&) = delete;

 private:
  QVCriticalSection* const lock_;
};

// Holds a schedule's query lock for its lifetime; null as above.
class QV_SCOPED_CAPABILITY CQVQueryLockGuard {
 public:
  explicit CQVQueryLockGuard(QVMutex* lock) QV_ACQUIRE(QVQueryLock) : lock_(lock) {
    if (lock_) lock_->lock();
  }
  explicit CQVQueryLockGuard(QVMutex& lock) QV_ACQUIRE(QVQueryLock) : CQVQueryLockGuard(&lock) {}
  ~CQVQueryLockGuard() QV_RELEASE() {
    if (lock_) lock_->unlock();
  }
  CQVQueryLockGuard(const CQVQueryLockGuard&) = delete;
  CQVQueryLockGuard& operator=(const CQVQueryLockGuard&) = delete;

 private:
  QVMutex* const lock_;
};

// For a callback that arrives through an interface that knows nothing of the scheduler lock: the
// caller holds `lock` (checked when assertions are on; null: nothing to check).
void QVAssertSchedulerLockHeld(const QVCriticalSection* lock) QV_ASSERT_CAPABILITY(QVSchedulerLock);
