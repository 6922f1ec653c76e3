#include "QVStopVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVStopVusersActionRunner.cpp");

std::string CQVStopVusersActionRunner::getDescription() const { return "Stop @ " + std::to_string(vusersCount) + " vusers"; }

int CQVStopVusersActionRunner::run(CQVContext* runContext, int count) {
  QV_TRACE_SCOPE("CQVStopVusersActionRunner::run");
  CQVVusersServicesWrapper* host = wrapper();
  if (!host || count <= 0) return CQVVusersServices::VUSERS_STATUS_FAILED;
  return host->stopVusers(runContext, count);
}
