#include "QVRampUpAllVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVRampUpAllVusersActionRunner.cpp");

CQVRampUpAllVusersActionRunner::CQVRampUpAllVusersActionRunner() { QV_TRACE_SCOPE("CQVRampUpAllVusersActionRunner::CQVRampUpAllVusersActionRunner"); }

CQVRampUpAllVusersActionRunner::~CQVRampUpAllVusersActionRunner() { QV_TRACE_SCOPE("CQVRampUpAllVusersActionRunner::~CQVRampUpAllVusersActionRunner"); }

std::string CQVRampUpAllVusersActionRunner::getDescription() const {
  return "RampUpAll @ " + std::to_string(batchSize) + " every " + std::to_string(batchIntervalSeconds) + " sec";
}

int CQVRampUpAllVusersActionRunner::operateOnAllVusers() {
  CQVVusersServicesWrapper* host = wrapper();
  return host ? host->runVusers(context, batchSize) : CQVVusersServices::VUSERS_STATUS_FAILED;
}
