#include "QVRampVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVRampVusersActionRunner.cpp");

CQVRampVusersActionRunner::~CQVRampVusersActionRunner() {
  QV_TRACE_SCOPE("CQVRampVusersActionRunner::~CQVRampVusersActionRunner");
}

void CQVRampVusersActionRunner::setBatchData(int size, int intervalSeconds, int total) {
  CQVBaseRampVusersActionRunner::setBatchData(size, intervalSeconds);
  totalVusers = total;
}

bool CQVRampVusersActionRunner::getNumberOfVusersInNextBatch(int& count) const {
  const int done = vusersDone.load();
  if (done >= totalVusers || batchSize <= 0) return false;
  const int left = totalVusers - done;
  count = left < batchSize ? left : batchSize;
  return true;
}

bool CQVRampVusersActionRunner::operateOnVusers() {
  QV_TRACE_SCOPE("CQVRampVusersActionRunner::operateOnVusers");
  int n = 0;
  getNumberOfVusersInNextBatch(n);
  int status = CQVVusersServices::VUSERS_STATUS_SUCCEEDED;
  if (n > 0) {
    status = operateOn(n);
    vusersDone += n;
  }
  return succeeded(status);
}
