#include "QVRampDownVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVRampDownVusersActionRunner.cpp");

CQVRampDownVusersActionRunner::~CQVRampDownVusersActionRunner() { QV_TRACE_SCOPE("CQVRampDownVusersActionRunner::~CQVRampDownVusersActionRunner"); }

std::string CQVRampDownVusersActionRunner::getDescription() const {
  return "RampDown @ total " + std::to_string(totalVusers) + ", " + std::to_string(batchSize) + " every " +
         std::to_string(batchIntervalSeconds) + " sec";
}

int CQVRampDownVusersActionRunner::operateOn(int count) {
  CQVVusersServicesWrapper* host = wrapper();
  return host ? host->stopVusers(context, count) : CQVVusersServices::VUSERS_STATUS_FAILED;
}
