#include "QVLoadTestSchedulerRunner.h"

#include "QVClock.h"
#include "QVGroupContext.h"
#include "QVHostCallScope.h"
#include "QVScheduleLog.h"
#include "QVScheduleServices.h"
#include "QVSchedulerRunnerFailedEventDef.h"
#include "QVSchedulerRunnerFinishedEventDef.h"

#include <typeinfo>

QV_SOURCE_FILE("QVLoadTestSchedulerRunner.cpp");

CQVLoadTestSchedulerRunner::CQVLoadTestSchedulerRunner() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::CQVLoadTestSchedulerRunner");
}

CQVLoadTestSchedulerRunner::~CQVLoadTestSchedulerRunner() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::~CQVLoadTestSchedulerRunner");
  clear(true);
}

QVCriticalSection* CQVLoadTestSchedulerRunner::schedulerLock() const {
  CQVScheduleServices* const shared = services.load();
  return shared ? &shared->getSchedulerLock() : nullptr;
}

QVMutex* CQVLoadTestSchedulerRunner::queryLock() const {
  CQVScheduleServices* const shared = services.load();
  return shared ? &shared->getQueryLock() : nullptr;
}

bool CQVLoadTestSchedulerRunner::addSchedulerRunner(CQVSchedulerRunner* runner) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::addSchedulerRunner");
  if (!runner) return false;
  const CQVQueryLockGuard lock(queryLock());
  schedulerRunners.emplace_front(runner);
  forgetGroupRunners();
  return true;
}

void CQVLoadTestSchedulerRunner::setLoading(bool value) {
  const CQVQueryLockGuard lock(queryLock());
  loading = value;
}

void CQVLoadTestSchedulerRunner::unregisterSelf() {
  CQVScheduleServices* const shared = services.load();
  if (!registered || !shared) return;
  registered = false;
  CQVSchedulerEventsManager* manager = shared->getEventsManager();
  manager->unregisterOnEvent(CQVSchedulerRunnerFinishedEventDef(), this);
  manager->unregisterOnEvent(CQVSchedulerRunnerFailedEventDef(), this);
}

void CQVLoadTestSchedulerRunner::clear(bool fromDestructor) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::clear");
  RunnerList cleared;
  {
    const CQVQueryLockGuard lock(queryLock());
    cleared.swap(schedulerRunners);
    forgetGroupRunners();
  }
  cleared.clear();  // out of the queries' sight first, then deleted without the query lock
  if (services.load()) {
    if (fromDestructor) {
      // Named after the handler base and logged as an error, as it always was (log readers match it).
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
  if (running) return true;
  // Nothing was ever loaded: an empty schedule that touches no events manager.
  CQVScheduleServices* const shared = services.load();
  if (!shared) {
    running = true;
    paused = false;
    return true;
  }
  CQVSchedulerEventsManager* manager = shared->getEventsManager();
  if (!manager->getTimer().startThread()) {
    QVScheduleLog().logErrorText("CQVLoadTestSchedulerRunner::start - no timer thread runs; the schedule is not started",
                                 QV_LOG_ARGS);
    return false;
  }
  running = true;
  paused = false;
  manager->reset();
  registered = false;
  const RunnerList& runners = getSchedulerRunners();
  if (!runners.empty()) {
    manager->registerOnEvent(CQVSchedulerRunnerFinishedEventDef(), this);
    manager->registerOnEvent(CQVSchedulerRunnerFailedEventDef(), this);
    registered = true;
  }
  doneRunners = 0;
  for (const auto& runner : runners) {
    runner->setDoneCount(&doneRunners);
    runner->registerOnStartCondition();
  }
  for (const auto& runner : runners) runner->mayStart();
  return true;
}

void CQVLoadTestSchedulerRunner::onEvent(const CQVEventDef&) {
  // Delivered by the scheduler events manager, which holds the scheduler lock.
  QVAssertSchedulerLockHeld(schedulerLock());
  if (doneRunners < getSchedulerRunners().size()) return;
  finish();
}

void CQVLoadTestSchedulerRunner::finish() {
  paused = false;
  // Only the first event that finds every runner done tells the host.
  if (!running.exchange(false)) return;
  CQVScheduleServices* const shared = services.load();
  CQVVusersServices* host = shared ? shared->getVusersServices() : nullptr;
  if (!host) return;
  QVGuardHostCall("CQVVusersServices::onSchedulerFinished", [host] { host->onSchedulerFinished(); return 0; }, 0);
}

void CQVLoadTestSchedulerRunner::stop() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::stop");
  // Taken before the runners are marked stopped, so that no timer or event callback is under way
  // while their handlers are detached and deleted.
  const CQVSchedulerLockGuard lock(schedulerLock());
  for (const auto& runner : getSchedulerRunners()) {
    runner->setRunState(CQVBaseRunner::STOPPED);
    runner->stopRunning();
    runner->unregisterOnEvents();
  }
  CQVScheduleServices* const shared = services.load();
  if (!shared) {
    discardRunners();
    return;
  }
  const QVCriticalSectionLock secondLock(shared->getSecondLock());
  discardRunners();
}

void CQVLoadTestSchedulerRunner::discardRunners() {
  if (CQVHostCallScope::isActive()) {
    // Called back from inside a host call: the runners that made that call are still on this
    // thread's stack. They are stopped and hold no registration; they are deleted at the next
    // call from outside any host call.
    const CQVQueryLockGuard queries(queryLock());
    retiredRunners.splice(retiredRunners.end(), schedulerRunners);
    forgetGroupRunners();
  }
  clear(false);
}

void CQVLoadTestSchedulerRunner::deleteRetiredRunners() {
  if (!CQVHostCallScope::isActive()) retiredRunners.clear();
}

void CQVLoadTestSchedulerRunner::pause() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::pause");
  // The controller wrote the same line already: a pause shows twice, as it always did.
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Paused");
  paused = true;
  CQVScheduleServices* const shared = services.load();
  if (!shared) return;
  shared->getEventsManager()->pause();
  for (const auto& runner : getSchedulerRunners()) runner->setPaused();
  if (CQVVusersServices* host = shared->getVusersServices()) {
    QVGuardHostCall("CQVVusersServices::onSchedulerPaused", [host] { host->onSchedulerPaused(); return 0; }, 0);
  }
}

void CQVLoadTestSchedulerRunner::resume() {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::resume");
  // Twice, as the pause line.
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Resumed");
  paused = false;
  CQVScheduleServices* const shared = services.load();
  if (!shared) return;
  if (CQVVusersServices* host = shared->getVusersServices()) {
    QVGuardHostCall("CQVVusersServices::onSchedulerResumed", [host] { host->onSchedulerResumed(); return 0; }, 0);
  }
  shared->getEventsManager()->resume();
  for (const auto& runner : getSchedulerRunners()) runner->setResumed();
}

namespace {

bool matches(const CQVSchedulerRunner& runner, const CQVContext& context) {
  const CQVContext* own = runner.getContext();
  return own && typeid(*own) == typeid(context) && own->equals(context);
}

}  // namespace

void CQVLoadTestSchedulerRunner::buildGroupRunners() const {
  // In list order, so the first runner of each name stays. Built aside and moved in, so that the
  // index is whole or empty even when the build throws.
  decltype(groupRunners) built;
  built.reserve(schedulerRunners.size());
  for (const auto& runner : schedulerRunners) {
    const CQVContext* context = runner->getContext();
    if (context && typeid(*context) == typeid(CQVGroupContext)) {
      built.emplace(static_cast<const CQVGroupContext*>(context)->getGroupName(), runner.get());
    }
  }
  groupRunners = std::move(built);
}

void CQVLoadTestSchedulerRunner::forgetGroupRunners() {
  if (!groupRunners.empty()) groupRunners = {};  // its memory too
}

const CQVSchedulerRunner* CQVLoadTestSchedulerRunner::find(const CQVContext& context) const {
  if (typeid(context) == typeid(CQVGroupContext)) {
    // A group context matches by name alone, so a name the whole index lacks has no runner: a
    // host asking for an unknown group does not make every query walk the list.
    if (groupRunners.empty()) buildGroupRunners();
    const auto found = groupRunners.find(static_cast<const CQVGroupContext&>(context).getGroupName());
    return found == groupRunners.end() ? nullptr : found->second;
  }
  for (const auto& runner : schedulerRunners) {
    if (matches(*runner, context)) return runner.get();
  }
  return nullptr;
}

bool CQVLoadTestSchedulerRunner::getRunTime(const CQVContext& context, long& seconds) const {
  const std::int32_t now = QVNowCalendarSeconds();
  const CQVQueryLockGuard lock(queryLock());
  const CQVSchedulerRunner* runner = loading ? nullptr : find(context);
  if (!runner) return false;
  seconds = runner->runTimeAt(now);
  return true;
}

bool CQVLoadTestSchedulerRunner::getRunMode(const CQVContext& context, CQVVusersServices::RunMode& mode) const {
  const CQVQueryLockGuard lock(queryLock());
  const CQVSchedulerRunner* runner = loading ? nullptr : find(context);
  if (!runner) return false;
  mode = runner->getContext()->runMode;
  return true;
}

bool CQVLoadTestSchedulerRunner::getSchedulerStage(CQVSchedulerStage& stage) const {
  CQVSchedulerStage result = stage;
  CQVSchedulerRunner::StageDraft draft;
  std::shared_ptr<CQVVusersServicesWrapper> adapter;
  {
    const CQVQueryLockGuard lock(queryLock());
    if (loading || schedulerRunners.size() != 1) return false;
    CQVSchedulerRunner& runner = *schedulerRunners.front();
    draft = runner.draftSchedulerStage(result);
    if (draft.outcome == CQVSchedulerRunner::StageDraft::AskHost && runner.getServices()) {
      adapter = runner.getServices()->shareWrapper();
    }
  }
  bool known = draft.outcome == CQVSchedulerRunner::StageDraft::Known;
  if (draft.outcome == CQVSchedulerRunner::StageDraft::AskHost) {
    // Without the query lock: the host may take its time, or call back into the scheduler. The
    // adapters answer for the whole scenario, whatever the context.
    known = CQVSchedulerRunner::finishStage(result, draft, adapter && adapter->isInFinalStageOf(nullptr));
  }
  stage = result;
  return known;
}

void CQVLoadTestSchedulerRunner::setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::setUnregisteredFromEvent");
  QVLogUnregisteredFromEvent(def, *this, remainingRegistrations, QV_LOG_ARGS);
}
