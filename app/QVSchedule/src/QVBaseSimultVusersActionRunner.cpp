#include "QVBaseSimultVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVBaseSimultVusersActionRunner.cpp");

void CQVBaseSimultVusersActionRunner::setData(int count) {
  QV_TRACE_SCOPE("CQVBaseSimultVusersActionRunner::setData");
  vusersCount = count < 0 ? 0 : count;
}

bool CQVBaseSimultVusersActionRunner::run() {
  QV_TRACE_SCOPE("CQVBaseSimultVusersActionRunner::run");
  if (vusersCount <= 0) return setFinishedRunning();
  const int status = run(context, vusersCount);
  if (status != CQVVusersServices::VUSERS_STATUS_SUCCEEDED && status != CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS) {
    return false;
  }
  return setFinishedRunning();
}
