// The one process-wide clock. Every reading of "now" and every timed wait of the platform layer
// (and so of the whole library) goes through the clock installed here.
//
// Times are file times: 100-nanosecond units since 1601-01-01 00:00:00 UTC.
// Thread safety: QVGetClock/QVSetClock and every clock method may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

// File time of 1970-01-01 00:00:00 UTC.
constexpr std::uint64_t QV_UNIX_EPOCH_AS_FILE_TIME = 116444736000000000ULL;
constexpr std::uint64_t QV_FILE_TIME_UNITS_PER_SECOND = 10000000ULL;
constexpr std::uint64_t QV_FILE_TIME_UNITS_PER_MILLISECOND = 10000ULL;

class QVClock {
 public:
  virtual ~QVClock() = default;

  // Current time as a file time.
  virtual std::uint64_t now() const = 0;

  // The steady-clock instant at which this clock will read `fileTime`, or nullopt when time
  // only moves when somebody moves it (then waits block until they are woken).
  virtual std::optional<std::chrono::steady_clock::time_point> realTimeAt(std::uint64_t fileTime) const = 0;

  // Calendar time in whole seconds since 1970-01-01 UTC, as a 32-bit value.
  std::int32_t calendarSeconds() const;
};

// The real clock (the default).
class QVSystemClock : public QVClock {
 public:
  std::uint64_t now() const override;
  std::optional<std::chrono::steady_clock::time_point> realTimeAt(std::uint64_t fileTime) const override;
};

// Real time passing `speed` times faster, starting from the real time of construction. A speed
// that is not a positive finite number means 1. Readings saturate at the largest file time, and
// deadlines far ahead (or far behind) saturate at about 95 years from the start, so no speed and no
// due time makes a conversion overflow.
class QVScaledClock : public QVClock {
 public:
  explicit QVScaledClock(double speed);
  std::uint64_t now() const override;
  std::optional<std::chrono::steady_clock::time_point> realTimeAt(std::uint64_t fileTime) const override;
  double speed() const { return speed_; }

 private:
  double speed_;
  std::uint64_t startFileTime_;
  std::chrono::steady_clock::time_point startReal_;
};

// Time that moves only by hand. For tests and for previews in virtual time.
//
// advance(), settle() and runUntilIdle() return only once every thread that waits through the
// platform's waits (QVWaitForAny) has served what became due and is blocked again. They must not
// be called while holding a lock that such a thread needs; if the threads do not settle within
// settleTimeout of real time, they throw std::runtime_error instead of hanging.
class QVManualClock : public QVClock {
 public:
  // 2026-01-01 00:00:00 UTC.
  static constexpr std::uint64_t DEFAULT_START = QV_UNIX_EPOCH_AS_FILE_TIME + 1767225600ULL * QV_FILE_TIME_UNITS_PER_SECOND;

  explicit QVManualClock(std::uint64_t startFileTime = DEFAULT_START);

  std::uint64_t now() const override { return now_.load(std::memory_order_acquire); }
  std::optional<std::chrono::steady_clock::time_point> realTimeAt(std::uint64_t) const override { return std::nullopt; }

  // Moves time forward by `delta`, stopping at every armed waitable-timer due time on the way and
  // settling there, so that everything due in between is served at its own time.
  void advance(std::chrono::milliseconds delta);
  // The same for a number of 100-ns units.
  void advanceUnits(std::uint64_t units);
  // Waits until every platform waiter is blocked with nothing to serve.
  void settle();
  // Repeatedly jumps to the earliest armed waitable-timer due time and settles, until no timer is
  // armed for a later time or `limit` from now is reached (time then stands at that limit).
  // Returns true when it stopped because nothing was armed any more.
  bool runUntilIdle(std::chrono::milliseconds limit);

  void setSettleTimeout(std::chrono::milliseconds timeout) { settleTimeout_ = timeout; }

 private:
  void moveTo(std::uint64_t fileTime);
  // Steps through armed due times up to `end`; ends at `end` when `moveToEnd` or when a timer is
  // still armed beyond it. True when nothing is armed any more.
  bool runUntil(std::uint64_t end, bool moveToEnd);

  std::atomic<std::uint64_t> now_;
  std::chrono::milliseconds settleTimeout_{std::chrono::seconds(60)};
};

// The installed clock (the system clock unless another one was installed).
std::shared_ptr<QVClock> QVGetClock();
// Installs a clock for the whole process; null restores the system clock.
void QVSetClock(std::shared_ptr<QVClock> clock);

// Shorthands through the installed clock.
std::uint64_t QVNowFileTime();
std::int32_t QVNowCalendarSeconds();
