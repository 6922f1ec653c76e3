#include "QVByGroupVusersServicesWrapper.h"

#include "QVGroupContext.h"

namespace {

// The group name of a group context; empty for any other context.
std::string groupOf(const CQVContext* context) {
  const auto* group = dynamic_cast<const CQVGroupContext*>(context);
  return group ? group->getGroupName() : std::string();
}

CQVVusersServices::RunMode modeOf(const CQVContext* context) {
  return context ? context->runMode : CQVVusersServices::RUN_INDEFINITELY;
}

}  // namespace

void CQVByGroupVusersServicesWrapper::notifyGroupFinished(CQVContext* context) {
  CQVVusersServices* host = getVusersServices();
  if (!host) return;
  const std::string name = groupOf(context);
  QVGuardHostCall("CQVVusersServices::onGroupFinished", [&] { host->onGroupFinished(name); return 0; }, 0);
}

int CQVByGroupVusersServicesWrapper::doInitAllVusers(CQVContext* context) {
  return getVusersServices()->initAllGroupVusers(groupOf(context), modeOf(context));
}
int CQVByGroupVusersServicesWrapper::doInitVusers(CQVContext* context, long count) {
  return getVusersServices()->initGroupVusers(groupOf(context), count, modeOf(context));
}
int CQVByGroupVusersServicesWrapper::doRunAllVusers(CQVContext* context) {
  return getVusersServices()->runAllGroupVusers(groupOf(context), modeOf(context));
}
int CQVByGroupVusersServicesWrapper::doRunVusers(CQVContext* context, long count) {
  return getVusersServices()->runGroupVusers(groupOf(context), modeOf(context), count);
}
int CQVByGroupVusersServicesWrapper::doStopAllVusers(CQVContext* context) {
  return getVusersServices()->stopAllGroupVusers(groupOf(context));
}
int CQVByGroupVusersServicesWrapper::doStopVusers(CQVContext* context, long count) {
  return getVusersServices()->stopGroupVusers(groupOf(context), count);
}
int CQVByGroupVusersServicesWrapper::doCanStartDuration(CQVContext* context) {
  return getVusersServices()->canStartGroupDuration(groupOf(context));
}
