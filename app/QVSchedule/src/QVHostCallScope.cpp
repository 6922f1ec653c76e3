#include "QVHostCallScope.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVHostCallScope.cpp");

thread_local int CQVHostCallScope::depth = 0;

void QVLogHostException(const char* operation, const char* what) {
  QVScheduleLog().logErrorFormatted("Host call %_1_s threw an exception: %_2_s; treated as failed", __LINE__,
                                    qvSourceFile, {operation, what});
}
