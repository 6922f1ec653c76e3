#include "QVRampUpVusersActionRunner.h"

std::string CQVRampUpVusersActionRunner::getDescription() const {
  return "RampUp @ total " + std::to_string(totalVusers) + ", " + std::to_string(batchSize) + " every " +
         std::to_string(batchIntervalSeconds) + " sec";
}

int CQVRampUpVusersActionRunner::operateOn(int count) {
  CQVVusersServicesWrapper* host = wrapper();
  return host ? host->runVusers(context, count) : CQVVusersServices::VUSERS_STATUS_FAILED;
}
