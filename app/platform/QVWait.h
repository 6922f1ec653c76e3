// Waitable objects and the wait for any of several, on the process-wide clock.
//
// QVEvent is an auto-reset event; QVWaitableTimer is an auto-reset timer armed with an absolute
// file time. QVWaitForAny blocks until one of the given objects is signalled and answers the
// lowest signalled index, consuming that object's signal.
//
// QVThread is a thread the manual clock knows about: it counts as busy from creation until it
// blocks in QVWaitForAny, so QVManualClock::settle() waits for it.
//
// All state lives under one internal mutex of the platform layer (waitMutex() below), a leaf lock
// that is never held while user code runs.
#pragma once

#include "QVMutex.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <thread>

namespace qvplatform_detail {
class WaitHub;
// The platform's wait mutex: guards every waitable object's state and the registry of waiters.
QVMutex& waitMutex();
// Consumes one thread start that QVFailNextThreadStarts asked to fail; false when none is left.
bool takeInjectedStartFailure();
}  // namespace qvplatform_detail

class QVWaitable {
 public:
  QVWaitable(const QVWaitable&) = delete;
  QVWaitable& operator=(const QVWaitable&) = delete;
  virtual ~QVWaitable() = default;

 protected:
  QVWaitable() = default;

 private:
  friend class qvplatform_detail::WaitHub;
  virtual bool signalledLocked(std::uint64_t now) const QV_REQUIRES(qvplatform_detail::waitMutex()) = 0;
  virtual void consumeLocked() QV_REQUIRES(qvplatform_detail::waitMutex()) = 0;
  // Due time of an armed timer; other objects answer false.
  virtual bool dueTimeLocked(std::uint64_t& due) const QV_REQUIRES(qvplatform_detail::waitMutex()) {
    (void)due;
    return false;
  }
};

// Auto-reset event, created non-signalled.
class QVEvent : public QVWaitable {
 public:
  QVEvent() = default;
  void set();
  void reset();

 private:
  bool signalledLocked(std::uint64_t) const override QV_REQUIRES(qvplatform_detail::waitMutex()) {
    return signalled_;
  }
  void consumeLocked() override QV_REQUIRES(qvplatform_detail::waitMutex()) { signalled_ = false; }
  bool signalled_ QV_GUARDED_BY(qvplatform_detail::waitMutex()) = false;
};

// Auto-reset (synchronization) timer. set() arms it for an absolute file time, replacing any
// earlier setting; a time already passed signals at once. A wait that returns it disarms it.
class QVWaitableTimer : public QVWaitable {
 public:
  QVWaitableTimer();
  ~QVWaitableTimer() override;
  void set(std::uint64_t dueFileTime);
  void cancel();
  bool isArmed() const;
  // Due time of the current setting (meaningful while armed).
  std::uint64_t dueTime() const;

 private:
  bool signalledLocked(std::uint64_t now) const override QV_REQUIRES(qvplatform_detail::waitMutex()) {
    return armed_ && due_ <= now;
  }
  void consumeLocked() override QV_REQUIRES(qvplatform_detail::waitMutex()) { armed_ = false; }
  bool dueTimeLocked(std::uint64_t& due) const override QV_REQUIRES(qvplatform_detail::waitMutex()) {
    if (armed_) due = due_;
    return armed_;
  }
  bool armed_ QV_GUARDED_BY(qvplatform_detail::waitMutex()) = false;
  std::uint64_t due_ QV_GUARDED_BY(qvplatform_detail::waitMutex()) = 0;
};

// Blocks until one of `objects` is signalled; returns the lowest signalled index.
std::size_t QVWaitForAny(QVWaitable* const* objects, std::size_t count);
inline std::size_t QVWaitForAny(std::initializer_list<QVWaitable*> objects) {
  return QVWaitForAny(objects.begin(), objects.size());
}

// Identifier of the calling thread (the kernel thread id).
long QVCurrentThreadId();

// Counts the calling thread as the manual clock counts a QVThread, for the scope's lifetime: busy
// unless it is blocked in QVWaitForAny, so that settle() waits until it is back in its wait. For a
// thread that serves its own wake-ups in a loop while another thread moves the manual clock; the
// thread that moves the clock must not hold one.
class QVCountedThreadScope {
 public:
  QVCountedThreadScope();
  ~QVCountedThreadScope();
  QVCountedThreadScope(const QVCountedThreadScope&) = delete;
  QVCountedThreadScope& operator=(const QVCountedThreadScope&) = delete;

 private:
  bool wasCounted_;
};

// Test support: the next `count` QVThread constructions in this process fail as a refused thread
// does (std::system_error); 0 ends it.
void QVFailNextThreadStarts(int count);

// A joinable thread counted by the manual clock (see above). The constructor throws
// std::system_error when the system refuses a thread.
class QVThread {
 public:
  explicit QVThread(std::function<void()> body);
  ~QVThread();
  QVThread(const QVThread&) = delete;
  QVThread& operator=(const QVThread&) = delete;

  void join();
  // Lets the thread run on its own; it must not use anything that dies before it ends.
  void detach();
  bool joinable() const { return thread_.joinable(); }
  bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  long id() const { return id_; }

 private:
  void start(std::function<void()> body);

  std::thread thread_;
  long id_ = 0;
};
