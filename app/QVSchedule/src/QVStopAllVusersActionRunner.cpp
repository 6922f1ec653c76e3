#include "QVStopAllVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVStopAllVusersActionRunner.cpp");

CQVStopAllVusersActionRunner::CQVStopAllVusersActionRunner() { QV_TRACE_SCOPE("CQVStopAllVusersActionRunner::CQVStopAllVusersActionRunner"); }

CQVStopAllVusersActionRunner::~CQVStopAllVusersActionRunner() { QV_TRACE_SCOPE("CQVStopAllVusersActionRunner::~CQVStopAllVusersActionRunner"); }

bool CQVStopAllVusersActionRunner::run() {
  QV_TRACE_SCOPE("CQVStopAllVusersActionRunner::run");
  return runOnce([this](CQVVusersServicesWrapper& host) { return host.stopAllVusers(context); });
}
