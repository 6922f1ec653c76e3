#include "QVBaseRunnerEventHandler.h"

#include "QVBaseRunner.h"
#include "QVScheduleLog.h"

#include <cstdio>

QV_SOURCE_FILE("QVBaseRunnerEventHandler.cpp");

CQVBaseRunnerEventHandler::CQVBaseRunnerEventHandler(const CQVEventDef& def, CQVBaseRunner* runner)
    : eventDef(def), runner(runner) {
  QV_TRACE_SCOPE("CQVBaseRunnerEventHandler::CQVBaseRunnerEventHandler");
}

CQVBaseRunnerEventHandler::~CQVBaseRunnerEventHandler() {
  QV_TRACE_SCOPE("CQVBaseRunnerEventHandler::~CQVBaseRunnerEventHandler");
}

void CQVBaseRunnerEventHandler::onEvent(const CQVEventDef& def) {
  QV_TRACE_SCOPE("CQVBaseRunnerEventHandler::onEvent");
  if (runner && eventDef.get() == def) {
    runner->assertSchedulerLockHeld();  // the scheduler events manager's delivery holds it
    eventArrived = true;
    runner->onEvent(def, this);
  }
}

void CQVBaseRunnerEventHandler::setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) {
  QV_TRACE_ENTER("CQVBaseRunnerEventHandler::setUnregisteredFromEvent");
  QVLogUnregisteredFromEvent(def, *this, remainingRegistrations, QV_LOG_ARGS);
  QV_TRACE_EXIT("CQVBaseRunnerEventHandler::setUnregisteredFromEvent");
  if (remainingRegistrations == 0) delete this;
}

std::string CQVBaseRunnerEventHandler::getName() const {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "CQVBaseRunnerEventHandler %p", static_cast<const void*>(this));
  return buffer;
}
