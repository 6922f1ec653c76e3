#include "QVInitRampUpAllVusersActionRunner.h"

#include "QVScheduleLog.h"
#include "QVSchedulerEventsManager.h"

QV_SOURCE_FILE("QVInitRampUpAllVusersActionRunner.cpp");

CQVInitRampUpAllVusersActionRunner::CQVInitRampUpAllVusersActionRunner() {
  QV_TRACE_SCOPE("CQVInitRampUpAllVusersActionRunner::CQVInitRampUpAllVusersActionRunner");
}

CQVInitRampUpAllVusersActionRunner::~CQVInitRampUpAllVusersActionRunner() {
  QV_TRACE_SCOPE("CQVInitRampUpAllVusersActionRunner::~CQVInitRampUpAllVusersActionRunner");
  unregisterToVusersInitializedEvent();
}

std::string CQVInitRampUpAllVusersActionRunner::getDescription() const {
  return "RampInitAll @ " + std::to_string(batchSize) + " every " + std::to_string(batchIntervalSeconds) + " sec";
}

bool CQVInitRampUpAllVusersActionRunner::beforeStartRunning() { return registerToVusersInitializedEvent(); }

bool CQVInitRampUpAllVusersActionRunner::registerToVusersInitializedEvent() {
  QV_TRACE_SCOPE("CQVInitRampUpAllVusersActionRunner::registerToVusersInitializedEvent");
  if (!context || !eventsManager()) return false;
  releaseEventHandler(vusersInitializedHandler);
  vusersInitializedHandler = createEventHandler(context->getAllVusersInitEventDef());
  return true;
}

void CQVInitRampUpAllVusersActionRunner::unregisterToVusersInitializedEvent() {
  QV_TRACE_SCOPE("CQVInitRampUpAllVusersActionRunner::unregisterToVusersInitializedEvent");
  releaseEventHandler(vusersInitializedHandler);
}

int CQVInitRampUpAllVusersActionRunner::operateOnAllVusers() {
  CQVVusersServicesWrapper* host = wrapper();
  return host ? host->initVusers(context, batchSize) : CQVVusersServices::VUSERS_STATUS_FAILED;
}

bool CQVInitRampUpAllVusersActionRunner::onRampFinished() {
  rampFinished = true;
  return true;
}

void CQVInitRampUpAllVusersActionRunner::onEventArrived(const CQVEventDef&, CQVBaseRunnerEventHandler* handler) {
  QV_TRACE_SCOPE("CQVInitRampUpAllVusersActionRunner::onEventArrived");
  if (!rampFinished && QVScheduleLog().isEnabled()) {
    QVScheduleLog().logFormatted(QV_LOG_ARGS,
                                 "ERROR: CQVInitRampUpAllVusersActionRunner got the event that initialization was "
                                 "finished, before ramp was finished.");
  }
  if (!handler || handler != vusersInitializedHandler) return;
  if (QVScheduleTestLog().isEnabled()) {
    const std::string logName = context ? context->getLogName() : std::string();
    QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "%_1_s @ QVE event @ initialization finished", {logName});
  }
  setFinishedRunning();
}

void CQVInitRampUpAllVusersActionRunner::unregisterOnEvents() {
  QV_TRACE_SCOPE("CQVInitRampUpAllVusersActionRunner::unregisterOnEvents");
  unregisterToVusersInitializedEvent();
  CQVBaseRampVusersActionRunner::unregisterOnEvents();
}
