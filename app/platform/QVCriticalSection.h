// Recursive lock. Usable with std::lock_guard / std::unique_lock (lock, unlock, try_lock).
#pragma once

#include <mutex>

class QVCriticalSection {
 public:
  QVCriticalSection() = default;
  QVCriticalSection(const QVCriticalSection&) = delete;
  QVCriticalSection& operator=(const QVCriticalSection&) = delete;

  void enter() { mutex_.lock(); }
  void leave() { mutex_.unlock(); }
  bool tryEnter() { return mutex_.try_lock(); }

  void lock() { enter(); }
  void unlock() { leave(); }
  bool try_lock() { return tryEnter(); }

 private:
  std::recursive_mutex mutex_;
};
