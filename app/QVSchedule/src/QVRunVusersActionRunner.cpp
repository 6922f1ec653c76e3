#include "QVRunVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVRunVusersActionRunner.cpp");

std::string CQVRunVusersActionRunner::getDescription() const { return "Run @ " + std::to_string(vusersCount) + " vusers"; }

int CQVRunVusersActionRunner::run(CQVContext* runContext, int count) {
  QV_TRACE_SCOPE("CQVRunVusersActionRunner::run");
  CQVVusersServicesWrapper* host = wrapper();
  if (!host || count <= 0) return CQVVusersServices::VUSERS_STATUS_FAILED;
  return host->runVusers(runContext, count);
}
