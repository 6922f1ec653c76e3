// Test helpers: a manual clock installed for one test, log capture in memory, and a probe of a lock.
#pragma once

#include "QVPlatform.h"
#include "qvcpplogger.h"

#include <memory>
#include <string>

// Whether the calling thread can take `lock` now (it is free, or this thread holds it); leaves it
// as it was.
inline bool isFree(QVCriticalSection& lock) {
  if (!lock.tryEnter()) return false;
  lock.leave();
  return true;
}

// Installs a fresh manual clock (2026-01-01 00:00:00 UTC) and restores the system clock after.
class ScopedManualClock {
 public:
  ScopedManualClock() : clock_(std::make_shared<QVManualClock>()) { QVSetClock(clock_); }
  ~ScopedManualClock() { QVSetClock(nullptr); }
  QVManualClock& operator*() const { return *clock_; }
  QVManualClock* operator->() const { return clock_.get(); }
  const std::shared_ptr<QVManualClock>& get() const { return clock_; }

 private:
  std::shared_ptr<QVManualClock> clock_;
};

// Sends every log record to memory and enables both library loggers (unless told otherwise);
// restores the default sink and disables them after.
class ScopedMemoryLog {
 public:
  explicit ScopedMemoryLog(bool enableSchedule = true, bool enableScheduleTest = true)
      : sink_(std::make_shared<QVMemoryLogSink>()) {
    QVLogger::SetSink(sink_);
    QVLogger::SetEnabled("QVSchedule", enableSchedule);
    QVLogger::SetEnabled("QVScheduleTest", enableScheduleTest);
  }
  ~ScopedMemoryLog() {
    QVLogger::SetEnabled("QVSchedule", false);
    QVLogger::SetEnabled("QVScheduleTest", false);
    QVLogger::SetSink(nullptr);
  }
  QVMemoryLogSink& operator*() const { return *sink_; }
  QVMemoryLogSink* operator->() const { return sink_.get(); }

 private:
  std::shared_ptr<QVMemoryLogSink> sink_;
};
