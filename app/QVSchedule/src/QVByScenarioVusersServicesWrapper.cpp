#include "QVByScenarioVusersServicesWrapper.h"

namespace {

CQVVusersServices::RunMode modeOf(const CQVContext* context) {
  return context ? context->runMode : CQVVusersServices::RUN_INDEFINITELY;
}

}  // namespace

bool CQVByScenarioVusersServicesWrapper::isInFinalStageOf(CQVContext*) {
  CQVVusersServices* host = getVusersServices();
  if (!host) return false;
  return QVGuardHostCall("CQVVusersServices::isInFinalStage", [host] { return host->isInFinalStage(); }, false);
}

int CQVByScenarioVusersServicesWrapper::doInitAllVusers(CQVContext* context) {
  return getVusersServices()->initAllVusers(modeOf(context));
}
int CQVByScenarioVusersServicesWrapper::doInitVusers(CQVContext* context, long count) {
  return getVusersServices()->initVusers(count, modeOf(context));
}
int CQVByScenarioVusersServicesWrapper::doRunAllVusers(CQVContext* context) {
  return getVusersServices()->runAllVusers(modeOf(context));
}
int CQVByScenarioVusersServicesWrapper::doRunVusers(CQVContext* context, long count) {
  return getVusersServices()->runVusers(modeOf(context), count);
}
int CQVByScenarioVusersServicesWrapper::doStopAllVusers(CQVContext*) { return getVusersServices()->stopAllVusers(); }
int CQVByScenarioVusersServicesWrapper::doStopVusers(CQVContext*, long count) {
  return getVusersServices()->stopVusers(count);
}
int CQVByScenarioVusersServicesWrapper::doCanStartDuration(CQVContext*) { return getVusersServices()->canStartDuration(); }
