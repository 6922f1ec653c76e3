#include "QVWait.h"

#include "QVWaitHub.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <sys/syscall.h>
#include <unistd.h>

namespace qvplatform_detail {

namespace {
// How long a waiter whose real-time deadline has passed waits for the clock to catch up.
constexpr std::chrono::milliseconds kCatchUp{1};
// True on threads created by QVThread: they are counted as busy from their creation.
thread_local bool tCountedThread = false;
// Thread starts that are to fail (QVFailNextThreadStarts).
std::atomic<int> gInjectedStartFailures{0};
}  // namespace

bool takeInjectedStartFailure() {
  int left = gInjectedStartFailures.load();
  while (left > 0 && !gInjectedStartFailures.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

WaitHub& WaitHub::instance() {
  // Never destroyed: threads may still wait while static objects are torn down.
  static WaitHub* hub = new WaitHub();
  return *hub;
}

QVMutex& waitMutex() { return WaitHub::instance().mutex_; }

bool WaitHub::anySignalledLocked(const Waiter& waiter, std::uint64_t now) const {
  for (std::size_t i = 0; i < waiter.count; ++i) {
    if (waiter.objects[i]->signalledLocked(now)) return true;
  }
  return false;
}

void WaitHub::becameIdleLocked() {
  if (--busy_ == 0) idleCv_.notify_all();
}

bool WaitHub::waitsOn(const Waiter& waiter, const QVWaitable* object) {
  for (std::size_t i = 0; i < waiter.count; ++i) {
    if (waiter.objects[i] == object) return true;
  }
  return false;
}

void WaitHub::wakeReadyLocked(bool wakeAll, const QVWaitable* rearmed) {
  const std::uint64_t now = QVGetClock()->now();
  for (Waiter* waiter : waiters_) {
    if (waiter->blocked &&
        (wakeAll || (rearmed && waitsOn(*waiter, rearmed)) || anySignalledLocked(*waiter, now))) {
      waiter->blocked = false;
      becameBusyLocked();
      waiter->cv.notify_one();
    }
  }
}

// The index of the first signalled object (its signal consumed), or `count` when none is.
std::size_t WaitHub::consumeFirstSignalled(QVWaitable* const* objects, std::size_t count, std::uint64_t now) {
  for (std::size_t i = 0; i < count; ++i) {
    if (objects[i]->signalledLocked(now)) {
      objects[i]->consumeLocked();
      return i;
    }
  }
  return count;
}

// The earliest due time among the armed timers of `objects`, if any.
std::optional<std::uint64_t> WaitHub::earliestDue(QVWaitable* const* objects, std::size_t count) {
  std::optional<std::uint64_t> earliest;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t due = 0;
    if (objects[i]->dueTimeLocked(due) && (!earliest || due < *earliest)) earliest = due;
  }
  return earliest;
}

void WaitHub::block(Waiter& self, QVMutexLock& lock,
                    const std::optional<std::chrono::steady_clock::time_point>& deadline) {
  if (!self.blocked) {
    self.blocked = true;
    becameIdleLocked();
  }
  if (deadline) {
    lock.waitUntil(self.cv, *deadline);
  } else {
    lock.wait(self.cv);
  }
  if (self.blocked) {  // woke by itself (time-out or spuriously): busy again
    self.blocked = false;
    becameBusyLocked();
  }
}

std::size_t WaitHub::waitForAny(QVWaitable* const* objects, std::size_t count) {
  QVMutexLock lock(waitMutex());
  const bool counted = tCountedThread;
  if (!counted) becameBusyLocked();
  Waiter self;
  self.objects = objects;
  self.count = count;
  waiters_.push_back(&self);
  std::size_t result = count;
  for (;;) {
    const std::shared_ptr<QVClock> clock = QVGetClock();
    result = consumeFirstSignalled(objects, count, clock->now());
    if (result != count) break;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (const std::optional<std::uint64_t> due = earliestDue(objects, count)) deadline = clock->realTimeAt(*due);
    // A deadline already passed while the clock has not yet reached the due time (rounding
    // between real and clock time): wait a moment rather than spin on the mutex.
    const auto realNow = std::chrono::steady_clock::now();
    if (deadline && *deadline <= realNow) deadline = realNow + kCatchUp;
    block(self, lock, deadline);
  }
  waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &self));
  if (!counted) becameIdleLocked();
  return result;
}

void WaitHub::threadEnded() {
  QVMutexLock lock(waitMutex());
  becameIdleLocked();
}

bool WaitHub::earliestArmedDueAfterLocked(std::uint64_t after, std::uint64_t& due) const {
  bool found = false;
  for (const QVWaitableTimer* timer : timers_) {
    std::uint64_t d = 0;
    if (static_cast<const QVWaitable*>(timer)->dueTimeLocked(d) && d > after && (!found || d < due)) {
      due = d;
      found = true;
    }
  }
  return found;
}

void WaitHub::settle(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  QVMutexLock lock(waitMutex());
  while (busy_ != 0) {
    if (!lock.waitUntil(idleCv_, deadline) && busy_ != 0) {
      throw std::runtime_error("QVManualClock: " + std::to_string(busy_) +
                               " waiting thread(s) did not settle; is a lock they need held by the caller?");
    }
  }
}

}  // namespace qvplatform_detail

using qvplatform_detail::WaitHub;

void QVEvent::set() {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  signalled_ = true;
  WaitHub::instance().wakeReadyLocked();
}

void QVEvent::reset() {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  signalled_ = false;
}

QVWaitableTimer::QVWaitableTimer() {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  WaitHub::instance().addTimerLocked(this);
}

QVWaitableTimer::~QVWaitableTimer() {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  WaitHub::instance().removeTimerLocked(this);
}

void QVWaitableTimer::set(std::uint64_t dueFileTime) {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  armed_ = true;
  due_ = dueFileTime;
  // A waiter blocked on this timer recomputes its deadline.
  WaitHub::instance().wakeReadyLocked(false, this);
}

void QVWaitableTimer::cancel() {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  armed_ = false;
}

bool QVWaitableTimer::isArmed() const {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  return armed_;
}

std::uint64_t QVWaitableTimer::dueTime() const {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  return due_;
}

std::size_t QVWaitForAny(QVWaitable* const* objects, std::size_t count) {
  return WaitHub::instance().waitForAny(objects, count);
}

QVCountedThreadScope::QVCountedThreadScope() : wasCounted_(qvplatform_detail::tCountedThread) {
  if (wasCounted_) return;
  {
    QVMutexLock lock(qvplatform_detail::waitMutex());
    WaitHub::instance().threadStartedLocked();
  }
  qvplatform_detail::tCountedThread = true;
}

QVCountedThreadScope::~QVCountedThreadScope() {
  if (wasCounted_) return;
  qvplatform_detail::tCountedThread = false;
  WaitHub::instance().threadEnded();
}

void QVFailNextThreadStarts(int count) { qvplatform_detail::gInjectedStartFailures.store(count); }

long QVCurrentThreadId() {
  // Asked on every lock of the timer; the kernel is asked once per thread.
  thread_local const long id = static_cast<long>(::syscall(SYS_gettid));
  return id;
}

QVThread::QVThread(std::function<void()> body) {
  {
    QVMutexLock lock(qvplatform_detail::waitMutex());
    WaitHub::instance().threadStartedLocked();
  }
  try {
    start(std::move(body));
  } catch (...) {
    WaitHub::instance().threadEnded();  // never started: not busy
    throw;
  }
}

void QVThread::start(std::function<void()> body) {
  if (qvplatform_detail::takeInjectedStartFailure()) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "QVThread");
  }
  // Shared with the new thread, which runs `body` only once thread_ and id_ are set here.
  struct Startup {
    QVMutex mutex;
    std::condition_variable cv;
    long id QV_GUARDED_BY(mutex) = 0;
    bool idKnown QV_GUARDED_BY(mutex) = false;
    bool assigned QV_GUARDED_BY(mutex) = false;
  };
  auto startup = std::make_shared<Startup>();
  thread_ = std::thread([startup, body = std::move(body)] {
    qvplatform_detail::tCountedThread = true;
    {
      QVMutexLock lock(startup->mutex);
      startup->id = QVCurrentThreadId();
      startup->idKnown = true;
      startup->cv.notify_all();
      while (!startup->assigned) lock.wait(startup->cv);
    }
    body();
    WaitHub::instance().threadEnded();
  });
  QVMutexLock lock(startup->mutex);
  while (!startup->idKnown) lock.wait(startup->cv);
  id_ = startup->id;
  startup->assigned = true;
  startup->cv.notify_all();
}

QVThread::~QVThread() {
  if (thread_.joinable()) thread_.join();
}

void QVThread::join() {
  if (thread_.joinable()) thread_.join();
}

void QVThread::detach() {
  if (thread_.joinable()) thread_.detach();
}
