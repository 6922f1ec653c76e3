#include "QVScheduleLog.h"

#include "QVEventDef.h"

namespace {

// Taken at load, released at unload (static destruction of this library).
struct LibraryLoggers {
  QVObjectPtrT<ILogger> schedule = QVLogger::GetLogger("QVSchedule");
  QVObjectPtrT<ILogger> scheduleTest = QVLogger::GetLogger("QVScheduleTest");
};

LibraryLoggers& loggers() {
  static LibraryLoggers instance;
  return instance;
}

// Takes the handles when the library loads, not at first use.
const bool kLoggersTaken = (loggers(), true);

}  // namespace

ILogger& QVScheduleLog() { return *loggers().schedule; }
ILogger& QVScheduleTestLog() { return *loggers().scheduleTest; }

void QVLogUnregisteredFromEvent(const CQVEventDef& def, const std::string& handlerName, long remaining, const char* file,
                                int line) {
  if (!QVScheduleLog().isEnabled()) return;
  const std::string text = def.toString();
  QVScheduleLog().logFormatted(file, line,
                               "setUnregisteredFromEvent %_1_s, handler = %_2_s, remaining registrations = %_3_ld",
                               {text, handlerName, remaining});
}
