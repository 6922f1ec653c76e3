#include "QVRampUpVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVRampUpVusersActionRunner.cpp");

CQVRampUpVusersActionRunner::~CQVRampUpVusersActionRunner() { QV_TRACE_SCOPE("CQVRampUpVusersActionRunner::~CQVRampUpVusersActionRunner"); }

std::string CQVRampUpVusersActionRunner::getDescription() const {
  return "RampUp @ total " + std::to_string(totalVusers) + ", " + std::to_string(batchSize) + " every " +
         std::to_string(batchIntervalSeconds) + " sec";
}

int CQVRampUpVusersActionRunner::operateOn(int count) {
  CQVVusersServicesWrapper* host = wrapper();
  return host ? host->runVusers(context, count) : CQVVusersServices::VUSERS_STATUS_FAILED;
}
