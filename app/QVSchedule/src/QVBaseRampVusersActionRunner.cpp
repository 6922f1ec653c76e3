#include "QVBaseRampVusersActionRunner.h"

#include "QVScheduleLog.h"
#include "QVSchedulerEventsManager.h"

QV_SOURCE_FILE("QVBaseRampVusersActionRunner.cpp");

CQVBaseRampVusersActionRunner::CQVBaseRampVusersActionRunner()
    : batchTimeHandler(std::make_unique<CQVBaseRunnerTimeHandler>(this)) {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::CQVBaseRampVusersActionRunner");
}

CQVBaseRampVusersActionRunner::~CQVBaseRampVusersActionRunner() {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::~CQVBaseRampVusersActionRunner");
  unregisterToRampBatchTime();
}

void CQVBaseRampVusersActionRunner::setBatchData(int size, int intervalSeconds) {
  batchSize = size < 0 ? 0 : size;
  batchIntervalSeconds = intervalSeconds < 0 ? 0 : intervalSeconds;
}

bool CQVBaseRampVusersActionRunner::registerToRampBatchTime(long seconds) {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::registerToRampBatchTime()");
  batchTimeInUse = true;
  return registerOnRelativeTime(seconds, batchTimeHandler.get());
}

void CQVBaseRampVusersActionRunner::unregisterToRampBatchTime() {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::unregisterToRampBatchTime");
  if (!batchTimeInUse) return;
  batchTimeInUse = false;
  unregisterTimeHandler(batchTimeHandler.get());
}

void CQVBaseRampVusersActionRunner::unregisterOnEvents() {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::unregisterOnEvents");
  unregisterToRampBatchTime();
  CQVBaseRunner::unregisterOnEvents();
}

void CQVBaseRampVusersActionRunner::onTimeArrived(CQVBaseRunnerTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::onTimeArrived");
  if (handler && handler == batchTimeHandler.get()) handleNextBatch();
}

bool CQVBaseRampVusersActionRunner::getSecondsToNextStage(long& seconds) {
  if (!hasMoreBatches()) {
    seconds = 0;
    return true;
  }
  CQVSchedulerEventsManager* manager = eventsManager();
  return manager && manager->getRelativeTimeToNotifyHandler(batchTimeHandler.get(), seconds);
}

bool CQVBaseRampVusersActionRunner::run() {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::run");
  if (!wrapper()) return false;
  return handleNextBatch();
}

bool CQVBaseRampVusersActionRunner::handleNextBatch() {
  QV_TRACE_SCOPE("CQVBaseRampVusersActionRunner::handleNextBatch");
  if (operateOnVusers()) {
    if (hasMoreBatches()) return registerToRampBatchTime(batchIntervalSeconds);
    return onRampFinished();
  }
  setFinishedRunning();
  return false;
}
