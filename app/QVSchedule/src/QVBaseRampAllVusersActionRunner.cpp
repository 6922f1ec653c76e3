#include "QVBaseRampAllVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVBaseRampAllVusersActionRunner.cpp");

CQVBaseRampAllVusersActionRunner::CQVBaseRampAllVusersActionRunner() {
  QV_TRACE_SCOPE("CQVBaseRampAllVusersActionRunner::CQVBaseRampAllVusersActionRunner");
}

CQVBaseRampAllVusersActionRunner::~CQVBaseRampAllVusersActionRunner() {
  QV_TRACE_SCOPE("CQVBaseRampAllVusersActionRunner::~CQVBaseRampAllVusersActionRunner");
}

void CQVBaseRampAllVusersActionRunner::setBatchData(int size, int intervalSeconds) {
  CQVBaseRampVusersActionRunner::setBatchData(size, intervalSeconds);
  moreBatches = batchSize != 0;
}

bool CQVBaseRampAllVusersActionRunner::operateOnVusers() {
  QV_TRACE_SCOPE("CQVBaseRampAllVusersActionRunner::operateOnVusers");
  if (batchSize > 0) {
    const int status = operateOnAllVusers();
    if (status != CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS) {
      return status == CQVVusersServices::VUSERS_STATUS_SUCCEEDED;
    }
  }
  moreBatches = false;
  return true;
}

bool CQVBaseRampAllVusersActionRunner::getNumberOfVusersInNextBatch(int& count) const {
  const bool more = moreBatches.load();
  if (more) count = batchSize;
  return more;
}
