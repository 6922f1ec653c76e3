#include "QVWait.h"

#include "QVWaitHub.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace qvplatform_detail {

namespace {
// How long a waiter whose real-time deadline has passed waits for the clock to catch up.
constexpr std::chrono::milliseconds kCatchUp{1};
// True on threads created by QVThread: they are counted as busy from their creation.
thread_local bool tCountedThread = false;
}  // namespace

WaitHub& WaitHub::instance() {
  // Never destroyed: threads may still wait while static objects are torn down.
  static WaitHub* hub = new WaitHub();
  return *hub;
}

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

std::size_t WaitHub::waitForAny(QVWaitable* const* objects, std::size_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool counted = tCountedThread;
  if (!counted) becameBusyLocked();
  Waiter self;
  self.objects = objects;
  self.count = count;
  waiters_.push_back(&self);
  std::size_t result = count;
  for (;;) {
    const std::shared_ptr<QVClock> clock = QVGetClock();
    const std::uint64_t now = clock->now();
    for (std::size_t i = 0; i < count; ++i) {
      if (objects[i]->signalledLocked(now)) {
        objects[i]->consumeLocked();
        result = i;
        break;
      }
    }
    if (result != count) break;
    std::uint64_t earliest = 0;
    bool timed = false;
    for (std::size_t i = 0; i < count; ++i) {
      std::uint64_t due = 0;
      if (objects[i]->dueTimeLocked(due) && (!timed || due < earliest)) {
        earliest = due;
        timed = true;
      }
    }
    if (!self.blocked) {
      self.blocked = true;
      becameIdleLocked();
    }
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (timed) deadline = clock->realTimeAt(earliest);
    // A deadline already passed while the clock has not yet reached the due time (rounding
    // between real and clock time): wait a moment rather than spin on the mutex.
    const auto realNow = std::chrono::steady_clock::now();
    if (deadline && *deadline <= realNow) deadline = realNow + kCatchUp;
    if (deadline) {
      self.cv.wait_until(lock, *deadline);
    } else {
      self.cv.wait(lock);
    }
    if (self.blocked) {  // woke by itself (time-out or spuriously): busy again
      self.blocked = false;
      becameBusyLocked();
    }
  }
  for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
    if (*it == &self) {
      waiters_.erase(it);
      break;
    }
  }
  if (!counted) becameIdleLocked();
  return result;
}

void WaitHub::threadEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
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
  std::unique_lock<std::mutex> lock(mutex_);
  if (!idleCv_.wait_for(lock, timeout, [this] { return busy_ == 0; })) {
    throw std::runtime_error("QVManualClock: " + std::to_string(busy_) +
                             " waiting thread(s) did not settle; is a lock they need held by the caller?");
  }
}

}  // namespace qvplatform_detail

using qvplatform_detail::WaitHub;

void QVEvent::set() {
  WaitHub& hub = WaitHub::instance();
  std::lock_guard<std::mutex> lock(hub.mutex());
  signalled_ = true;
  hub.wakeReadyLocked();
}

void QVEvent::reset() {
  std::lock_guard<std::mutex> lock(WaitHub::instance().mutex());
  signalled_ = false;
}

QVWaitableTimer::QVWaitableTimer() {
  WaitHub& hub = WaitHub::instance();
  std::lock_guard<std::mutex> lock(hub.mutex());
  hub.addTimerLocked(this);
}

QVWaitableTimer::~QVWaitableTimer() {
  WaitHub& hub = WaitHub::instance();
  std::lock_guard<std::mutex> lock(hub.mutex());
  hub.removeTimerLocked(this);
}

void QVWaitableTimer::set(std::uint64_t dueFileTime) {
  WaitHub& hub = WaitHub::instance();
  std::lock_guard<std::mutex> lock(hub.mutex());
  armed_ = true;
  due_ = dueFileTime;
  // A waiter blocked on this timer recomputes its deadline.
  hub.wakeReadyLocked(false, this);
}

void QVWaitableTimer::cancel() {
  std::lock_guard<std::mutex> lock(WaitHub::instance().mutex());
  armed_ = false;
}

bool QVWaitableTimer::isArmed() const {
  std::lock_guard<std::mutex> lock(WaitHub::instance().mutex());
  return armed_;
}

std::uint64_t QVWaitableTimer::dueTime() const {
  std::lock_guard<std::mutex> lock(WaitHub::instance().mutex());
  return due_;
}

std::size_t QVWaitForAny(QVWaitable* const* objects, std::size_t count) {
  return WaitHub::instance().waitForAny(objects, count);
}

long QVCurrentThreadId() {
  // Asked on every lock of the timer; the kernel is asked once per thread.
  thread_local const long id = static_cast<long>(::syscall(SYS_gettid));
  return id;
}

QVThread::QVThread(std::function<void()> body) {
  WaitHub& hub = WaitHub::instance();
  {
    std::lock_guard<std::mutex> lock(hub.mutex());
    hub.threadStartedLocked();
  }
  // Shared with the new thread, which runs `body` only once thread_ and id_ are set here.
  struct Startup {
    std::mutex mutex;
    std::condition_variable cv;
    long id = 0;
    bool idKnown = false;
    bool assigned = false;
  };
  auto startup = std::make_shared<Startup>();
  thread_ = std::thread([startup, body = std::move(body)] {
    qvplatform_detail::tCountedThread = true;
    {
      std::unique_lock<std::mutex> lock(startup->mutex);
      startup->id = QVCurrentThreadId();
      startup->idKnown = true;
      startup->cv.notify_all();
      startup->cv.wait(lock, [&] { return startup->assigned; });
    }
    body();
    WaitHub::instance().threadEnded();
  });
  std::unique_lock<std::mutex> lock(startup->mutex);
  startup->cv.wait(lock, [&] { return startup->idKnown; });
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
