#include "QVScheduleServices.h"

#include "QVByGroupVusersServicesWrapper.h"
#include "QVByScenarioVusersServicesWrapper.h"
#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVScheduleServices.cpp");

CQVScheduleServices::CQVScheduleServices() {
  QV_TRACE_SCOPE("CQVScheduleServices::CQVScheduleServices");
  schedulerLock = std::make_shared<QVCriticalSection>();
  setScheduleByScenario();
  eventsManager = new CQVSchedulerEventsManager();
  eventsManager->setSchedulerLock(schedulerLock);
}

CQVScheduleServices::~CQVScheduleServices() {
  QV_TRACE_SCOPE("CQVScheduleServices::~CQVScheduleServices");
  // The manager keeps its own share of the scheduler lock until it deletes itself.
  eventsManager->setCanBeDeleted();
  eventsManager = nullptr;
  if (wrapper) wrapper->setVusersServices(nullptr);
}

void CQVScheduleServices::installWrapper(std::unique_ptr<CQVVusersServicesWrapper> next) {
  next->setVusersServices(vusersServices.load());
  std::shared_ptr<CQVVusersServicesWrapper> previous(std::move(next));
  {
    const CQVQueryLockGuard lock(queryLock);
    wrapper.swap(previous);
  }
  // A query may still hold the old adapter: without host services it answers without a call.
  if (previous) previous->setVusersServices(nullptr);
}

// Both traced under the controller's name, as they always were (log readers match it).
void CQVScheduleServices::setScheduleByScenario() {
  QV_TRACE_SCOPE("CQVScheduler::setScheduleByScenario");
  installWrapper(std::make_unique<CQVByScenarioVusersServicesWrapper>());
  byGroup = false;
}

void CQVScheduleServices::setScheduleByGroup() {
  QV_TRACE_SCOPE("CQVScheduler::setScheduleByGroup");
  installWrapper(std::make_unique<CQVByGroupVusersServicesWrapper>());
  byGroup = true;
}

bool CQVScheduleServices::setVusersServices(CQVVusersServices* services) {
  if (!services) return false;
  vusersServices.store(services);
  getWrapper()->setVusersServices(services);
  return true;
}
