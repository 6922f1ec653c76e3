#include "QVClock.h"

#include "QVWaitHub.h"

#include <cmath>
#include <limits>

using qvplatform_detail::WaitHub;

namespace {

std::uint64_t systemNowFileTime() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const auto units = std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(sinceEpoch);
  return QV_UNIX_EPOCH_AS_FILE_TIME + static_cast<std::uint64_t>(units.count());
}

// The installed clock. Never destroyed: threads may read it while static objects are torn down.
struct InstalledClock {
  QVMutex mutex;
  std::shared_ptr<QVClock> clock QV_GUARDED_BY(mutex) = std::make_shared<QVSystemClock>();
};

InstalledClock& installed() {
  static InstalledClock* slot = new InstalledClock();
  return *slot;
}

// Largest span a real-time deadline is put ahead of or behind its base (about 95 years): far
// enough for any schedule, and small enough that adding it to a steady-clock reading never
// overflows.
constexpr double kMaxOffsetNanoseconds = 3e18;

// Steady-clock instant `units` (100 ns, possibly negative, possibly huge) from `base`, saturated.
std::chrono::steady_clock::time_point offset(std::chrono::steady_clock::time_point base, double units) {
  double nanoseconds = std::ceil(units * 100.0);
  if (!(nanoseconds < kMaxOffsetNanoseconds)) nanoseconds = kMaxOffsetNanoseconds;  // NaN too
  if (nanoseconds < -kMaxOffsetNanoseconds) nanoseconds = -kMaxOffsetNanoseconds;
  return base + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds)));
}

// `to - from` as a signed count, exact in sign for every pair of file times.
double signedDifference(std::uint64_t to, std::uint64_t from) {
  return to >= from ? static_cast<double>(to - from) : -static_cast<double>(from - to);
}

// `base + units`, saturated at the largest file time.
std::uint64_t addSaturated(std::uint64_t base, double units) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  if (!(units > 0)) return base;
  if (!(units < 1.8e19)) return kMax;  // below 2^64, so the conversion is defined
  const std::uint64_t add = static_cast<std::uint64_t>(units);
  return add > kMax - base ? kMax : base + add;
}

}  // namespace

std::int32_t QVClock::calendarSeconds() const {
  const std::uint64_t ft = now();
  const std::int64_t seconds = (static_cast<std::int64_t>(ft) - static_cast<std::int64_t>(QV_UNIX_EPOCH_AS_FILE_TIME)) /
                               static_cast<std::int64_t>(QV_FILE_TIME_UNITS_PER_SECOND);
  return static_cast<std::int32_t>(seconds);
}

std::uint64_t QVSystemClock::now() const { return systemNowFileTime(); }

std::optional<std::chrono::steady_clock::time_point> QVSystemClock::realTimeAt(std::uint64_t fileTime) const {
  return offset(std::chrono::steady_clock::now(), signedDifference(fileTime, now()));
}

QVScaledClock::QVScaledClock(double speed)
    : speed_(speed > 0 && std::isfinite(speed) ? speed : 1.0), startFileTime_(systemNowFileTime()), startReal_(std::chrono::steady_clock::now()) {}

std::uint64_t QVScaledClock::now() const {
  const auto elapsed = std::chrono::steady_clock::now() - startReal_;
  const double units = std::chrono::duration<double, std::ratio<1, 10000000>>(elapsed).count() * speed_;
  return addSaturated(startFileTime_, units);
}

std::optional<std::chrono::steady_clock::time_point> QVScaledClock::realTimeAt(std::uint64_t fileTime) const {
  return offset(startReal_, signedDifference(fileTime, startFileTime_) / speed_);
}

QVManualClock::QVManualClock(std::uint64_t startFileTime) : now_(startFileTime) {}

void QVManualClock::moveTo(std::uint64_t fileTime) {
  QVMutexLock lock(qvplatform_detail::waitMutex());
  now_.store(fileTime, std::memory_order_release);
  WaitHub::instance().wakeReadyLocked();
}

void QVManualClock::advance(std::chrono::milliseconds delta) {
  advanceUnits(static_cast<std::uint64_t>(delta.count()) * QV_FILE_TIME_UNITS_PER_MILLISECOND);
}

void QVManualClock::advanceUnits(std::uint64_t units) { runUntil(now() + units, true); }

void QVManualClock::settle() { WaitHub::instance().settle(settleTimeout_); }

bool QVManualClock::runUntil(std::uint64_t end, bool moveToEnd) {
  for (;;) {
    settle();
    std::uint64_t due = 0;
    bool armed = false;
    {
      QVMutexLock lock(qvplatform_detail::waitMutex());
      // Timers due at or before now were served by the settle, or have nobody waiting on them.
      armed = WaitHub::instance().earliestArmedDueAfterLocked(now(), due);
    }
    if (!armed || due > end) {
      if (moveToEnd || armed) {
        moveTo(end);
        settle();
      }
      return !armed;
    }
    moveTo(due);
  }
}

bool QVManualClock::runUntilIdle(std::chrono::milliseconds limit) {
  return runUntil(now() + static_cast<std::uint64_t>(limit.count()) * QV_FILE_TIME_UNITS_PER_MILLISECOND, false);
}

std::shared_ptr<QVClock> QVGetClock() {
  InstalledClock& slot = installed();
  QVMutexLock lock(slot.mutex);
  return slot.clock;
}

void QVSetClock(std::shared_ptr<QVClock> clock) {
  if (!clock) clock = std::make_shared<QVSystemClock>();
  {
    InstalledClock& slot = installed();
    QVMutexLock lock(slot.mutex);
    slot.clock.swap(clock);
  }
  clock.reset();  // the previous clock, released outside the lock
  QVMutexLock lock(qvplatform_detail::waitMutex());
  WaitHub::instance().wakeReadyLocked(true);  // blocked waiters recompute their deadlines on the new clock
}

std::uint64_t QVNowFileTime() { return QVGetClock()->now(); }

std::int32_t QVNowCalendarSeconds() { return QVGetClock()->calendarSeconds(); }
