#include "QVScheduleLog.h"

#include "QVEventDef.h"
#include "QVEventHandler.h"

#include <atomic>

namespace {

// The two handles are taken when the library loads and released when it unloads. The loggers
// themselves live for the whole process, so threads that outlive the unload (the process-wide
// scheduler's timer thread) keep writing through the raw pointers below without a race.
struct LibraryLoggers {
  QVObjectPtrT<ILogger> schedule = QVLogger::GetLogger("QVSchedule");
  QVObjectPtrT<ILogger> scheduleTest = QVLogger::GetLogger("QVScheduleTest");
  std::atomic<ILogger*> scheduleLogger{schedule.get()};
  std::atomic<ILogger*> scheduleTestLogger{scheduleTest.get()};
};

LibraryLoggers& loggers() {
  static LibraryLoggers instance;
  return instance;
}

// Takes the handles when the library loads, not at first use.
const bool kLoggersTaken = (loggers(), true);

}  // namespace

ILogger& QVScheduleLog() { return *loggers().scheduleLogger.load(std::memory_order_relaxed); }
ILogger& QVScheduleTestLog() { return *loggers().scheduleTestLogger.load(std::memory_order_relaxed); }

void QVLogUnregisteredFromEvent(const CQVEventDef& def, const CQVEventHandler& handler, long remaining,
                                const char* file, int line) {
  if (!QVScheduleLog().isEnabled()) return;
  const std::string text = def.toString();
  const std::string handlerName = handler.getName();
  QVScheduleLog().logFormatted(file, line,
                               "setUnregisteredFromEvent %_1_s, handler = %_2_s, remaining registrations = %_3_ld",
                               {text, handlerName, remaining});
}
