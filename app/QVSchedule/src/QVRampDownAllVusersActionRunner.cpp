#include "QVRampDownAllVusersActionRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVRampDownAllVusersActionRunner.cpp");

CQVRampDownAllVusersActionRunner::CQVRampDownAllVusersActionRunner() { QV_TRACE_SCOPE("CQVRampDownAllVusersActionRunner::CQVRampDownAllVusersActionRunner"); }

CQVRampDownAllVusersActionRunner::~CQVRampDownAllVusersActionRunner() { QV_TRACE_SCOPE("CQVRampDownAllVusersActionRunner::~CQVRampDownAllVusersActionRunner"); }

std::string CQVRampDownAllVusersActionRunner::getDescription() const {
  return "RampDownAll @ " + std::to_string(batchSize) + " every " + std::to_string(batchIntervalSeconds) + " sec";
}

int CQVRampDownAllVusersActionRunner::operateOnAllVusers() {
  CQVVusersServicesWrapper* host = wrapper();
  return host ? host->stopVusers(context, batchSize) : CQVVusersServices::VUSERS_STATUS_FAILED;
}
