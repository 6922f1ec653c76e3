#include "QVSchedulerEventsManager.h"

#include "QVEventsManager.h"
#include "QVNotifyOnSchedulerEventRequest.h"
#include "QVScheduleLog.h"

#include <thread>

QV_SOURCE_FILE("QVSchedulerEventsManager.cpp");

CQVSchedulerEventsManager::CQVSchedulerEventsManager() = default;

CQVSchedulerEventsManager::~CQVSchedulerEventsManager() {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::~CQVSchedulerEventsManager");
  // The timer thread may be inside this manager (a delivery on a timer pass): end it before any
  // member or base goes away.
  timer.stopThread();
}

void CQVSchedulerEventsManager::setSchedulerLock(std::shared_ptr<QVCriticalSection> lock) {
  schedulerLockKeeper = std::move(lock);
  schedulerLock.store(schedulerLockKeeper.get());
  timer.setSchedulerLock(schedulerLockKeeper.get());
}

void CQVSchedulerEventsManager::reset() {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::reset");
  unregisterAllHandlers();
  // Requests and events held by a pause of the previous run would reach the new one's runners.
  discardPending();
  paused = false;
  timer.reset();
}

void CQVSchedulerEventsManager::notifyOnEvent(const CQVEventDef& def) {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::notifyOnEvent");
  // Run in place (no copy) when the queue is idle; a queued clone owns its copy of `def`.
  CQVNotifyOnSchedulerEventRequest request(def, CQVNotifyOnSchedulerEventRequest::Borrow{}, this);
  addRequestInPlace(request);
}

bool CQVSchedulerEventsManager::registerOnRelativeTime(long relSeconds, CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::registerOnRelativeTime");
  return timer.registerOnRelativeTime(relSeconds, handler);
}

void CQVSchedulerEventsManager::unregisterTimeHandler(CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::unregisterTimeHandler");
  timer.unregisterTimeHandler(handler);
}

bool CQVSchedulerEventsManager::getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::getRelativeTimeToNotifyHandler");
  return timer.getRelativeTimeToNotifyHandler(handler, seconds);
}

void CQVSchedulerEventsManager::pause() {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::pause");
  paused = true;
  timer.pause();
}

void CQVSchedulerEventsManager::resume() {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::resume");
  paused = false;
  notifyOnEventsNow();  // held requests and events first, in arrival order
  timer.resume();
}

void CQVSchedulerEventsManager::registeredFirstHandlerForEvent(const CQVEventDef& def) {
  QV_TRACE_SCOPE("QVSchedulerEventsManager::registeredFirstHandlerForEvent");  // no leading C: readers match it
  {
    // Counted before registering so that a report racing with this registration cannot find 0.
    QVMutexLock lock(deleteMutex);
    ++remainingRegistrations;
  }
  CQVEventsManager::instance()->registerOnEvent(def, this);
}

void CQVSchedulerEventsManager::unregisteredLastHandlerForEvent(const CQVEventDef& def) {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::unregisterOnEvent");  // named after the public call: readers match it
  CQVEventsManager::instance()->unregisterOnEvent(def, this);
}

bool CQVSchedulerEventsManager::canExecuteRequests() { return !paused; }

void CQVSchedulerEventsManager::preExecuteEventRequests() {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::preExecuteEventRequests");
  if (QVCriticalSection* lock = schedulerLock.load()) lock->enter();
}

void CQVSchedulerEventsManager::postExecuteEventRequests() {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::postExecuteEventRequests");
  if (QVCriticalSection* lock = schedulerLock.load()) lock->leave();
}

void CQVSchedulerEventsManager::onEvent(const CQVEventDef& def) {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::onEvent");
  if (QVScheduleLog().isEnabled()) {
    const std::string text = def.toString();
    QVScheduleLog().logFormatted(QV_LOG_ARGS, "onEvent @ (%_1_s)", {text});
  }
  // The event of the request this thread runs now (under the scheduler lock): delivered in its
  // place. Anything else (a host event, or one that came back on another thread) is queued.
  if (canExecuteRequests() && ReturningEvent::take(this, def)) {
    deliverNow(def);
  } else {
    addEventToNotifyOn(def);
  }
}

thread_local CQVSchedulerEventsManager::ReturningEvent* CQVSchedulerEventsManager::ReturningEvent::innermost = nullptr;

CQVSchedulerEventsManager::ReturningEvent::ReturningEvent(const CQVSchedulerEventsManager* manager,
                                                          const CQVEventDef& def)
    : manager_(manager), def_(def), outer_(innermost) {
  innermost = this;
}

CQVSchedulerEventsManager::ReturningEvent::~ReturningEvent() { innermost = outer_; }

bool CQVSchedulerEventsManager::ReturningEvent::take(const CQVSchedulerEventsManager* manager, const CQVEventDef& def) {
  ReturningEvent* scope = innermost;
  if (!scope || scope->taken_ || !manager || scope->manager_ != manager || !(scope->def_ == def)) return false;
  scope->taken_ = true;
  return true;
}

std::string CQVSchedulerEventsManager::getName() const { return "CQVSchedulerEventsManager"; }

long CQVSchedulerEventsManager::getRemainingRegistrations() {
  QVMutexLock lock(deleteMutex);
  return remainingRegistrations;
}

void CQVSchedulerEventsManager::setUnregisteredFromEvent(const CQVEventDef& def, long remaining) {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::setUnregisteredFromEvent");
  QVLogUnregisteredFromEvent(def, *this, remaining, QV_LOG_ARGS);
  {
    QVMutexLock lock(deleteMutex);
    remainingRegistrations = remaining;
  }
  checkDelete();
}

void CQVSchedulerEventsManager::setCanBeDeleted() {
  QV_TRACE_SCOPE("CQVSchedulerEventsManager::setCanBeDeleted");
  {
    QVMutexLock lock(deleteMutex);
    canBeDeleted = true;
  }
  checkDelete();
}

void CQVSchedulerEventsManager::checkDelete() {
  {
    QVMutexLock lock(deleteMutex);
    if (deleting || !canBeDeleted || remainingRegistrations != 0) return;
    deleting = true;
  }
  if (timer.isTimerThread()) {
    // The timer thread cannot join itself: another thread deletes the manager, which stops the
    // timer thread once its current pass has returned.
    std::thread([this] { delete this; }).detach();
    return;
  }
  delete this;
}
