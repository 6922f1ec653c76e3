#include "QVInitAllVusersActionRunner.h"

#include "QVScheduleLog.h"
#include "QVSchedulerEventsManager.h"

QV_SOURCE_FILE("QVInitAllVusersActionRunner.cpp");

CQVInitAllVusersActionRunner::CQVInitAllVusersActionRunner() {
  QV_TRACE_SCOPE("CQVInitAllVusersActionRunner::CQVInitAllVusersActionRunner");
}

CQVInitAllVusersActionRunner::~CQVInitAllVusersActionRunner() {
  QV_TRACE_SCOPE("CQVInitAllVusersActionRunner::~CQVInitAllVusersActionRunner");
  unregisterToVusersInitializedEvent();
}

bool CQVInitAllVusersActionRunner::beforeStartRunning() { return registerToVusersInitializedEvent(); }

bool CQVInitAllVusersActionRunner::registerToVusersInitializedEvent() {
  QV_TRACE_SCOPE("CQVInitAllVusersActionRunner::registerToVusersInitializedEvent");
  if (!context || !eventsManager()) return false;
  releaseEventHandler(vusersInitializedHandler);
  vusersInitializedHandler = createEventHandler(context->getAllVusersInitEventDef());
  return true;
}

void CQVInitAllVusersActionRunner::unregisterToVusersInitializedEvent() {
  QV_TRACE_SCOPE("CQVInitAllVusersActionRunner::unregisterToVusersInitializedEvent");
  releaseEventHandler(vusersInitializedHandler);
}

bool CQVInitAllVusersActionRunner::run() {
  QV_TRACE_SCOPE("CQVInitAllVusersActionRunner::run");
  CQVVusersServicesWrapper* host = wrapper();
  if (!host) return false;
  const int status = host->initAllVusers(context);
  return status == CQVVusersServices::VUSERS_STATUS_SUCCEEDED || status == CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS;
}

void CQVInitAllVusersActionRunner::onEventArrived(const CQVEventDef&, CQVBaseRunnerEventHandler* handler) {
  QV_TRACE_SCOPE("CQVInitAllVusersActionRunner::onEventArrived");
  if (!handler || handler != vusersInitializedHandler) return;
  if (QVScheduleTestLog().isEnabled()) {
    const std::string logName = context ? context->getLogName() : std::string();
    QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "%_1_s @ QVE event @ initialization finished", {logName});
  }
  setFinishedRunning();
}

void CQVInitAllVusersActionRunner::unregisterOnEvents() {
  QV_TRACE_SCOPE("CQVInitAllVusersActionRunner::unregisterOnEvents");
  unregisterToVusersInitializedEvent();
  CQVBaseRunner::unregisterOnEvents();
}
