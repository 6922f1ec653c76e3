#include "QVActionRunner.h"

#include "QVScheduleLog.h"
#include "QVScheduleServices.h"

#include <memory>

QV_SOURCE_FILE("QVActionRunner.cpp");

CQVVusersServicesWrapper* CQVActionRunner::wrapper() const { return services ? services->getWrapper() : nullptr; }

bool CQVActionRunner::start() {
  if (QVScheduleTestLog().isEnabled()) {
    const std::string logName = context ? context->getLogName() : std::string();
    const std::string description = getDescription();
    QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "%_1_s @ %_2_s @ %_3_s", {logName, "Action started", description});
  }
  return run();
}

bool CQVActionRunner::setFinishedRunning() {
  QV_TRACE_SCOPE("CQVActionRunner::setFinishedRunning");
  if (!CQVBaseRunner::setFinishedRunning()) return false;
  return sendFinishedRunningEvent();
}

bool CQVActionRunner::sendFinishedRunningEvent() {
  QV_TRACE_SCOPE("CQVActionRunner::sendFinishedRunningEvent()");  // with "()": log readers match it
  if (!context) return true;
  const std::unique_ptr<CQVEventDef> def(context->createActionFinishedEventDef(actionId));
  if (def && eventsManager()) eventsManager()->notifyOnEvent(*def);
  return true;
}

void CQVActionRunner::setFailedRunning() {
  QV_TRACE_SCOPE("CQVActionRunner::setFailedRunning");
  CQVBaseRunner::setFailedRunning();
  if (!context) return;
  const std::unique_ptr<CQVEventDef> def(context->createActionFailedEventDef());
  if (def && eventsManager()) eventsManager()->notifyOnEvent(*def);
}
