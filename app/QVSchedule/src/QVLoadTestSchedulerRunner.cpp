#include "QVLoadTestSchedulerRunner.h"

#include "QVClock.h"
#include "QVHostCallScope.h"
#include "QVScheduleLog.h"
#include "QVScheduleServices.h"
#include "QVSchedulerRunnerFailedEventDef.h"
#include "QVSchedulerRunnerFinishedEventDef.h"

#include <mutex>
#include <typeinfo>

QV_SOURCE_FILE("QVLoadTestSchedulerRunner.cpp");

CQVLoadTestSchedulerRunner::CQVLoadTestSchedulerRunner() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::CQVLoadTestSchedulerRunner");
}

CQVLoadTestSchedulerRunner::~CQVLoadTestSchedulerRunner() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::~CQVLoadTestSchedulerRunner");
  clear(true);
}

bool CQVLoadTestSchedulerRunner::addSchedulerRunner(CQVSchedulerRunner* runner) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::addSchedulerRunner");
  if (!runner) return false;
  schedulerRunners.emplace_front(runner);
  return true;
}

void CQVLoadTestSchedulerRunner::unregisterSelf() {
  if (!registered || !services) return;
  registered = false;
  CQVSchedulerEventsManager* manager = services->getEventsManager();
  manager->unregisterOnEvent(CQVSchedulerRunnerFinishedEventDef(), this);
  manager->unregisterOnEvent(CQVSchedulerRunnerFailedEventDef(), this);
}

void CQVLoadTestSchedulerRunner::clear(bool fromDestructor) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::clear");
  schedulerRunners.clear();
  if (services) {
    if (fromDestructor) {
      QVScheduleLog().logErrorFormatted("CQVEventHandler::clear called from dtor, and is about to unregister self !!!",
                                        __LINE__, qvSourceFile);
    }
    unregisterSelf();
  }
  running = false;
  paused = false;
}

bool CQVLoadTestSchedulerRunner::start() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::start");
  // A running schedule is left alone: a reset would drop the registrations its runners hold.
  if (running.exchange(true)) return true;
  paused = false;
  // Nothing was ever loaded: an empty schedule that touches no events manager.
  if (!services) return true;
  CQVSchedulerEventsManager* manager = services->getEventsManager();
  manager->reset();
  registered = false;
  if (!schedulerRunners.empty()) {
    manager->registerOnEvent(CQVSchedulerRunnerFinishedEventDef(), this);
    manager->registerOnEvent(CQVSchedulerRunnerFailedEventDef(), this);
    registered = true;
  }
  doneRunners = 0;
  for (const auto& runner : schedulerRunners) runner->setDoneCount(&doneRunners);
  for (const auto& runner : schedulerRunners) runner->registerOnStartCondition();
  for (const auto& runner : schedulerRunners) runner->mayStart();
  return true;
}

void CQVLoadTestSchedulerRunner::onEvent(const CQVEventDef&) {
  if (doneRunners < schedulerRunners.size()) return;
  paused = false;
  // Only the first event that finds every runner done tells the host.
  if (!running.exchange(false)) return;
  CQVVusersServices* host = services ? services->getVusersServices() : nullptr;
  if (!host) return;
  try {
    const CQVHostCallScope scope;
    host->onSchedulerFinished();
  } catch (...) {
    QVScheduleLog().logErrorText("Host call onSchedulerFinished threw an exception", QV_LOG_ARGS);
  }
}

void CQVLoadTestSchedulerRunner::stop() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::stop");
  std::unique_lock<QVCriticalSection> schedulerLock;
  std::unique_lock<QVCriticalSection> secondLock;
  if (services) {
    // Taken before the runners are marked stopped, so that no timer or event callback is under
    // way while their handlers are detached and deleted.
    schedulerLock = std::unique_lock<QVCriticalSection>(services->getSchedulerLock());
  }
  for (const auto& runner : schedulerRunners) {
    runner->setRunState(CQVBaseRunner::STOPPED);
    runner->stopRunning();
    runner->unregisterOnEvents();
  }
  if (services) secondLock = std::unique_lock<QVCriticalSection>(services->getSecondLock());
  if (CQVHostCallScope::isActive()) {
    // Called back from inside a host call: the runners that made that call are still on this
    // thread's stack. They are stopped and hold no registration; they are deleted at the next
    // call from outside any host call.
    for (auto& runner : schedulerRunners) retiredRunners.push_back(std::move(runner));
  }
  clear(false);
}

void CQVLoadTestSchedulerRunner::deleteRetiredRunners() {
  if (!CQVHostCallScope::isActive()) retiredRunners.clear();
}

void CQVLoadTestSchedulerRunner::pause() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::pause");
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Paused");
  paused = true;
  if (!services) return;
  services->getEventsManager()->pause();
  for (const auto& runner : schedulerRunners) runner->setPaused();
  if (CQVVusersServices* host = services->getVusersServices()) {
    try {
      const CQVHostCallScope scope;
      host->onSchedulerPaused();
    } catch (...) {
      QVScheduleLog().logErrorText("Host call onSchedulerPaused threw an exception", QV_LOG_ARGS);
    }
  }
}

void CQVLoadTestSchedulerRunner::resume() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::resume");
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Resumed");
  paused = false;
  if (!services) return;
  if (CQVVusersServices* host = services->getVusersServices()) {
    try {
      const CQVHostCallScope scope;
      host->onSchedulerResumed();
    } catch (...) {
      QVScheduleLog().logErrorText("Host call onSchedulerResumed threw an exception", QV_LOG_ARGS);
    }
  }
  services->getEventsManager()->resume();
  for (const auto& runner : schedulerRunners) runner->setResumed();
}

const CQVSchedulerRunner* CQVLoadTestSchedulerRunner::find(const CQVContext& context) const {
  for (const auto& runner : schedulerRunners) {
    const CQVContext* own = runner->getContext();
    if (own && typeid(*own) == typeid(context) && own->equals(context)) return runner.get();
  }
  return nullptr;
}

bool CQVLoadTestSchedulerRunner::getRunTime(const CQVContext& context, long& seconds) const {
  const CQVSchedulerRunner* runner = find(context);
  if (!runner) return false;
  seconds = runner->runTimeAt(QVNowCalendarSeconds());
  return true;
}

bool CQVLoadTestSchedulerRunner::getRunMode(const CQVContext& context, CQVVusersServices::RunMode& mode) const {
  const CQVSchedulerRunner* runner = find(context);
  if (!runner) return false;
  mode = runner->getContext()->runMode;
  return true;
}

void CQVLoadTestSchedulerRunner::setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::setUnregisteredFromEvent");
  QVLogUnregisteredFromEvent(def, *this, remainingRegistrations, QV_LOG_ARGS);
}
