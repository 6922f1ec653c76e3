#include "QVRunAllVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVRunAllVusersActionRunner.cpp");

CQVRunAllVusersActionRunner::CQVRunAllVusersActionRunner() { QV_TRACE_SCOPE("CQVRunAllVusersActionRunner::CQVRunAllVusersActionRunner"); }

CQVRunAllVusersActionRunner::~CQVRunAllVusersActionRunner() { QV_TRACE_SCOPE("CQVRunAllVusersActionRunner::~CQVRunAllVusersActionRunner"); }

bool CQVRunAllVusersActionRunner::run() {
  QV_TRACE_SCOPE("CQVRunAllVusersActionRunner::run");
  return runOnce([this](CQVVusersServicesWrapper& host) { return host.runAllVusers(context); });
}
