#include "QVRunDurationActionRunner.h"

#include "QVScheduleLog.h"
#include "QVSchedulerEventsManager.h"

QV_SOURCE_FILE("QVRunDurationActionRunner.cpp");

CQVRunDurationActionRunner::CQVRunDurationActionRunner(bool preRun)
    : durationTimeHandler(std::make_unique<CQVBaseRunnerTimeHandler>(this)), preRun(preRun) {
  QV_TRACE_SCOPE("CQVRunDurationActionRunner::CQVRunDurationActionRunner");
}

CQVRunDurationActionRunner::~CQVRunDurationActionRunner() {
  QV_TRACE_SCOPE("CQVRunDurationActionRunner::~CQVRunDurationActionRunner");
  unregisterToDurationTime();
}

bool CQVRunDurationActionRunner::run() {
  QV_TRACE_SCOPE("CQVRunDurationActionRunner::run");
  CQVVusersServicesWrapper* host = wrapper();
  if (!host) return false;
  if (host->canStartDuration(context) != CQVVusersServices::VUSERS_STATUS_SUCCEEDED) return false;
  return registerToDurationTime();
}

bool CQVRunDurationActionRunner::registerToDurationTime() {
  QV_TRACE_SCOPE("CQVRunDurationActionRunner::registerToDurationTime()");
  unregisterToDurationTime();
  durationTimeInUse = true;
  return registerOnRelativeTime(durationSeconds, durationTimeHandler.get());
}

void CQVRunDurationActionRunner::unregisterToDurationTime() {
  QV_TRACE_SCOPE("CQVRunDurationActionRunner::unregisterToDurationTime");
  if (!durationTimeInUse) return;
  durationTimeInUse = false;
  unregisterTimeHandler(durationTimeHandler.get());
}

void CQVRunDurationActionRunner::onTimeArrived(CQVBaseRunnerTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVRunDurationActionRunner::onTimeArrived");
  if (handler && handler == durationTimeHandler.get()) setFinishedRunning();
}

void CQVRunDurationActionRunner::unregisterOnEvents() {
  QV_TRACE_SCOPE("CQVRunDurationActionRunner::unregisterOnEvents");
  unregisterToDurationTime();
  CQVBaseRunner::unregisterOnEvents();
}

bool CQVRunDurationActionRunner::getSecondsToNextStage(long& seconds) {
  CQVSchedulerEventsManager* manager = eventsManager();
  if (manager && manager->getRelativeTimeToNotifyHandler(durationTimeHandler.get(), seconds)) {
    return true;
  }
  switch (getRunState()) {
    case NOT_STARTED:
    case MAY_START:
    case START_CONDITION_MET:
      seconds = durationSeconds;
      return true;
    case FINISHED:
      seconds = 0;
      return true;
    default:
      return false;
  }
}
