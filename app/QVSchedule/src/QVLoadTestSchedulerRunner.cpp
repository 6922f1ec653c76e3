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

std::unique_lock<std::mutex> CQVLoadTestSchedulerRunner::lockQueries() const {
  CQVScheduleServices* const shared = services.load();
  return shared ? std::unique_lock<std::mutex>(shared->getQueryLock()) : std::unique_lock<std::mutex>();
}

bool CQVLoadTestSchedulerRunner::addSchedulerRunner(CQVSchedulerRunner* runner) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunner::addSchedulerRunner");
  if (!runner) return false;
  const auto lock = lockQueries();
  schedulerRunners.emplace_front(runner);
  return true;
}

void CQVLoadTestSchedulerRunner::setLoading(bool value) {
  const auto lock = lockQueries();
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
  std::list<std::unique_ptr<CQVSchedulerRunner>> cleared;
  {
    const auto lock = lockQueries();
    cleared.swap(schedulerRunners);
  }
  cleared.clear();  // out of the queries' sight first, then deleted without the query lock
  if (services.load()) {
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
  CQVScheduleServices* const shared = services.load();
  if (!shared) return true;
  CQVSchedulerEventsManager* manager = shared->getEventsManager();
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
  CQVScheduleServices* const shared = services.load();
  CQVVusersServices* host = shared ? shared->getVusersServices() : nullptr;
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
  CQVScheduleServices* const shared = services.load();
  if (shared) {
    // Taken before the runners are marked stopped, so that no timer or event callback is under
    // way while their handlers are detached and deleted.
    schedulerLock = std::unique_lock<QVCriticalSection>(shared->getSchedulerLock());
  }
  for (const auto& runner : schedulerRunners) {
    runner->setRunState(CQVBaseRunner::STOPPED);
    runner->stopRunning();
    runner->unregisterOnEvents();
  }
  if (shared) secondLock = std::unique_lock<QVCriticalSection>(shared->getSecondLock());
  if (CQVHostCallScope::isActive()) {
    // Called back from inside a host call: the runners that made that call are still on this
    // thread's stack. They are stopped and hold no registration; they are deleted at the next
    // call from outside any host call.
    const auto lock = lockQueries();
    retiredRunners.splice(retiredRunners.end(), schedulerRunners);
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
  CQVScheduleServices* const shared = services.load();
  if (!shared) return;
  shared->getEventsManager()->pause();
  for (const auto& runner : schedulerRunners) runner->setPaused();
  if (CQVVusersServices* host = shared->getVusersServices()) {
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
  CQVScheduleServices* const shared = services.load();
  if (!shared) return;
  if (CQVVusersServices* host = shared->getVusersServices()) {
    try {
      const CQVHostCallScope scope;
      host->onSchedulerResumed();
    } catch (...) {
      QVScheduleLog().logErrorText("Host call onSchedulerResumed threw an exception", QV_LOG_ARGS);
    }
  }
  shared->getEventsManager()->resume();
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
  const std::int32_t now = QVNowCalendarSeconds();
  const auto lock = lockQueries();
  const CQVSchedulerRunner* runner = loading ? nullptr : find(context);
  if (!runner) return false;
  seconds = runner->runTimeAt(now);
  return true;
}

bool CQVLoadTestSchedulerRunner::getRunMode(const CQVContext& context, CQVVusersServices::RunMode& mode) const {
  const auto lock = lockQueries();
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
    const auto lock = lockQueries();
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
