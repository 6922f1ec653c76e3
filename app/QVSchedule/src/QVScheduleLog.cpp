#include "QVScheduleLog.h"

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
