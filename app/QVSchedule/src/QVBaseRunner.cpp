#include "QVBaseRunner.h"

#include "QVScheduleLog.h"
#include "QVScheduleServices.h"

#include <algorithm>

QV_SOURCE_FILE("QVBaseRunner.cpp");

CQVBaseRunner::CQVBaseRunner() { QV_TRACE_SCOPE("CQVBaseRunner::CQVBaseRunner"); }

CQVBaseRunner::~CQVBaseRunner() {
  QV_TRACE_SCOPE("CQVBaseRunner::~CQVBaseRunner");
  unregisterStartConditionEventHandlers();
  unregisterStartConditionTimeHandler();
}

void CQVBaseRunner::assertSchedulerLockHeld() const {
  QVAssertSchedulerLockHeld(services ? &services->getSchedulerLock() : nullptr);
}

CQVSchedulerEventsManager* CQVBaseRunner::eventsManager() const {
  return services ? services->getEventsManager() : nullptr;
}

CQVBaseRunnerEventHandler* CQVBaseRunner::createEventHandler(const CQVEventDef& def) {
  auto* handler = new CQVBaseRunnerEventHandler(def, this);
  if (getRunState() != STOPPED && eventsManager()) eventsManager()->registerOnEvent(def, handler);
  return handler;
}

void CQVBaseRunner::releaseEventHandler(CQVBaseRunnerEventHandler*& handler) {
  if (!handler) return;
  CQVBaseRunnerEventHandler* h = handler;
  handler = nullptr;
  h->detach();
  CQVSchedulerEventsManager* manager = eventsManager();
  if (!manager || !manager->unregisterOnEvent(h->getEventDef(), h)) delete h;
}

void CQVBaseRunner::registerOnStartCondition() {
  QV_TRACE_SCOPE("CQVBaseRunner::registerOnStartCondition");
  registerStartConditionEventHandlers();
  if (startConditionEventHandlers.empty()) registerStartConditionTimeHandler();
}

bool CQVBaseRunner::beforeStartRunning() {
  QV_TRACE_SCOPE("CQVBaseRunner::beforeStartRunning");
  return true;
}

void CQVBaseRunner::stopRunning() { QV_TRACE_SCOPE("CQVBaseRunner::stopRunning"); }

bool CQVBaseRunner::setFinishedRunning() {
  QV_TRACE_SCOPE("CQVBaseRunner::setFinishedRunning");
  setRunState(FINISHED);
  return true;
}

void CQVBaseRunner::setFailedRunning() {
  QV_TRACE_SCOPE("CQVBaseRunner::setFailedRunning");
  setRunState(FAILED);
}

void CQVBaseRunner::unregisterOnEvents() {
  QV_TRACE_SCOPE("CQVBaseRunner::unregisterOnEvents");
  unregisterStartConditionEventHandlers();
  unregisterStartConditionTimeHandler();
}

void CQVBaseRunner::onTimeArrived(CQVBaseRunnerTimeHandler*) { QV_TRACE_SCOPE("CQVBaseRunner::onTimeArrived"); }

void CQVBaseRunner::onEventArrived(const CQVEventDef&, CQVBaseRunnerEventHandler*) {
  QV_TRACE_SCOPE("CQVBaseRunner::onEventArrived");
}

void CQVBaseRunner::addStartConditionEvent(const CQVEventDef& def) {
  QV_TRACE_SCOPE("CQVBaseRunner::addStartConditionEvent");
  startConditionEventHandlers.push_back(new CQVBaseRunnerEventHandler(def, this));
}

void CQVBaseRunner::mayStart() {
  QV_TRACE_SCOPE("CQVBaseRunner::mayStart");
  const RunState state = getRunState();
  if (state == START_CONDITION_MET) {
    startToRun();
  } else if (state == NOT_STARTED) {
    setRunState(MAY_START);
  }
}

void CQVBaseRunner::onTime(CQVBaseRunnerTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseRunner::onTime");
  if (handler == startConditionTimeHandler.get()) {
    checkStartCondition();
  } else {
    onTimeArrived(handler);
  }
}

void CQVBaseRunner::onEvent(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseRunner::onEvent");
  const bool isStartCondition = std::find(startConditionEventHandlers.begin(), startConditionEventHandlers.end(),
                                          handler) != startConditionEventHandlers.end();
  if (isStartCondition) {
    checkStartCondition();
  } else {
    onEventArrived(def, handler);
  }
}

void CQVBaseRunner::checkStartCondition() {
  QV_TRACE_SCOPE("CQVBaseRunner::checkStartCondition");
  if (startConditionTimeHandler && !startConditionTimeHandler->hasTimeArrived()) return;
  for (const CQVBaseRunnerEventHandler* handler : startConditionEventHandlers) {
    if (!handler->hasEventArrived()) return;
  }
  onStartConditionMet();
}

void CQVBaseRunner::onStartConditionMet() {
  QV_TRACE_SCOPE("CQVBaseRunner::onStartConditionMet");
  const RunState state = getRunState();
  if (state == MAY_START) {
    startToRun();
  } else if (state == NOT_STARTED) {
    setRunState(START_CONDITION_MET);
  }
}

bool CQVBaseRunner::startToRun() {
  QV_TRACE_SCOPE("CQVBaseRunner::startToRun");
  setRunState(RUNNING);
  if (beforeStartRunning() && start()) return true;
  setFailedRunning();
  return false;
}

void CQVBaseRunner::registerStartConditionEventHandlers() {
  QV_TRACE_SCOPE("CQVBaseRunner::registerStartConditionEventHandlers");
  CQVSchedulerEventsManager* manager = eventsManager();
  for (CQVBaseRunnerEventHandler* handler : startConditionEventHandlers) {
    if (getRunState() != STOPPED && manager) manager->registerOnEvent(handler->getEventDef(), handler);
  }
}

void CQVBaseRunner::unregisterStartConditionEventHandlers() {
  QV_TRACE_SCOPE("CQVBaseRunner::unregisterStartConditionEventHandlers");
  std::list<CQVBaseRunnerEventHandler*> handlers;
  handlers.swap(startConditionEventHandlers);
  for (CQVBaseRunnerEventHandler* handler : handlers) releaseEventHandler(handler);
}

void CQVBaseRunner::registerStartConditionTimeHandler() {
  QV_TRACE_SCOPE("CQVBaseRunner::registerStartConditionTimeHandler");
  unregisterStartConditionTimeHandler();  // never leave an old registration behind
  startConditionTimeHandler = std::make_unique<CQVBaseRunnerTimeHandler>(this);
  registerOnRelativeTime(0, startConditionTimeHandler.get());
}

void CQVBaseRunner::unregisterStartConditionTimeHandler() {
  QV_TRACE_SCOPE("CQVBaseRunner::unregisterStartConditionTimeHandler");
  if (!startConditionTimeHandler) return;
  unregisterTimeHandler(startConditionTimeHandler.get());
  startConditionTimeHandler.reset();
}

bool CQVBaseRunner::registerOnRelativeTime(long seconds, CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseRunner::registerOnRelativeTime");
  if (getRunState() == STOPPED) return true;
  CQVSchedulerEventsManager* manager = eventsManager();
  return manager ? manager->registerOnRelativeTime(seconds, handler) : false;
}

void CQVBaseRunner::unregisterTimeHandler(CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseRunner::unregisterTimeHandler");
  if (CQVSchedulerEventsManager* manager = eventsManager()) manager->unregisterTimeHandler(handler);
}
