#include "QVBaseRunnerTimeHandler.h"

#include "QVBaseRunner.h"
#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVBaseRunnerTimeHandler.cpp");

CQVBaseRunnerTimeHandler::CQVBaseRunnerTimeHandler(CQVBaseRunner* runner) : runner(runner) {
  QV_TRACE_SCOPE("CQVBaseRunnerTimeHandler::CQVBaseRunnerTimeHandler");
}

CQVBaseRunnerTimeHandler::~CQVBaseRunnerTimeHandler() {
  QV_TRACE_SCOPE("CQVBaseRunnerTimeHandler::~CQVBaseRunnerTimeHandler");
}

void CQVBaseRunnerTimeHandler::onTime() {
  QV_TRACE_SCOPE("CQVBaseRunnerTimeHandler::onTime");
  runner->assertSchedulerLockHeld();  // the timer's notification pass holds it
  timeArrived = true;
  runner->onTime(this);
}
