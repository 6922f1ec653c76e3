#include "QVSchedulerRunner.h"

#include "QVClock.h"
#include "QVGroupContext.h"
#include "QVScheduleLog.h"
#include "QVScheduleServices.h"
#include "QVSchedulerRunnerFailedEventDef.h"
#include "QVSchedulerRunnerFinishedEventDef.h"

QV_SOURCE_FILE("QVSchedulerRunner.cpp");

CQVSchedulerRunner::CQVSchedulerRunner() = default;

CQVSchedulerRunner::~CQVSchedulerRunner() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::~CQVSchedulerRunner");
  CQVSchedulerRunner::unregisterOnEvents();
  actionRunners.clear();  // in order: each action unregisters what it still holds
  delete context;
  context = nullptr;
}

bool CQVSchedulerRunner::appendActionRunner(CQVActionRunner* actionRunner) {
  QV_TRACE_SCOPE("CQVSchedulerRunner::appendActionRunner");
  if (!actionRunner) return false;
  // A schedule has up to four actions as a rule (initialize, start, hold, stop): one allocation.
  constexpr std::size_t kUsualActions = 4;
  if (actionRunners.empty()) actionRunners.reserve(kUsualActions);
  actionRunners.emplace_back(actionRunner);
  return true;
}

bool CQVSchedulerRunner::beforeStartRunning() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::beforeStartRunning");
  registerOnLastActionRunnerFinished();
  registerOnActionRunnerFailed();
  initRunTimeParams();
  return true;
}

void CQVSchedulerRunner::registerOnLastActionRunnerFinished() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::registerOnLastActionRunnerFinished");
  if (actionRunners.empty() || lastActionHandler || !context) return;
  const std::unique_ptr<CQVEventDef> def(context->createActionFinishedEventDef(actionRunners.back()->getActionId()));
  if (def) lastActionHandler = createEventHandler(*def);
}

void CQVSchedulerRunner::registerOnActionRunnerFailed() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::registerOnActionRunnerFailed");
  if (actionRunners.empty() || failedHandler || !context) return;
  const std::unique_ptr<CQVEventDef> def(context->createActionFailedEventDef());
  if (def) failedHandler = createEventHandler(*def);
}

void CQVSchedulerRunner::initRunTimeParams() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::initRunTimeParams");
  int preRunActionId = 0;
  for (const auto& action : actionRunners) {
    if (action->isPreRunAction()) preRunActionId = action->getActionId();
  }
  if (preRunActionId == 0) {
    const CQVQueryLockGuard lock(queryLock());
    runStart = QVNowCalendarSeconds();
  } else {
    registerOnPreRunFinished(preRunActionId);
  }
}

void CQVSchedulerRunner::registerOnPreRunFinished(int actionId) {
  QV_TRACE_SCOPE("CQVSchedulerRunner::registerOnPreRunFinished");
  if (preRunHandler || !context) return;
  const std::unique_ptr<CQVEventDef> def(context->createActionFinishedEventDef(actionId));
  if (def) preRunHandler = createEventHandler(*def);
}

bool CQVSchedulerRunner::start() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::start");
  for (const auto& action : actionRunners) action->registerOnStartCondition();
  for (const auto& action : actionRunners) action->mayStart();
  return true;
}

void CQVSchedulerRunner::onEventArrived(const CQVEventDef&, CQVBaseRunnerEventHandler* handler) {
  QV_TRACE_SCOPE("CQVSchedulerRunner::onEventArrived");
  if (!handler) return;
  if (handler == lastActionHandler) {
    setFinishedRunning();
  } else if (handler == failedHandler) {
    setFailedRunning();
  } else if (handler == preRunHandler) {
    // The run begins once: a repeated finished event of the pre-run part (an initialization the
    // host reports twice) must not restart it after pauses were counted.
    const CQVQueryLockGuard lock(queryLock());
    if (runStart == 0) runStart = QVNowCalendarSeconds();
  }
}

void CQVSchedulerRunner::setDoneCount(std::size_t* count) {
  doneCount = count;
  countedDone = false;
  const RunState state = getRunState();
  if (state == FINISHED || state == FAILED) countDone();
}

void CQVSchedulerRunner::countDone() {
  if (countedDone || !doneCount) return;
  countedDone = true;
  ++*doneCount;
}

bool CQVSchedulerRunner::setFinishedRunning() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::setFinishedRunning");
  const bool result = CQVBaseRunner::setFinishedRunning();
  countDone();  // before the event: the root runner may be told at once
  if (eventsManager()) eventsManager()->notifyOnEvent(CQVSchedulerRunnerFinishedEventDef());
  return result;
}

void CQVSchedulerRunner::setFailedRunning() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::setFailedRunning");
  CQVBaseRunner::setFailedRunning();
  countDone();
  if (!eventsManager()) return;
  const auto* group = dynamic_cast<const CQVGroupContext*>(getContext());
  eventsManager()->notifyOnEvent(group ? CQVSchedulerRunnerFailedEventDef(this, group->getGroupName())
                                       : CQVSchedulerRunnerFailedEventDef(this));
}

void CQVSchedulerRunner::stopRunning() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::stopRunning");
  for (const auto& action : actionRunners) {
    action->setRunState(STOPPED);
    action->stopRunning();
    action->unregisterOnEvents();
  }
}

void CQVSchedulerRunner::unregisterOnEvents() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::unregisterOnEvents");
  unregisterOnLastActionRunnerFinished();
  unregisterOnActionRunnerFailed();
  // The pre-run handler goes too, so that no late delivery reaches a deleted runner.
  releaseEventHandler(preRunHandler);
  CQVBaseRunner::unregisterOnEvents();
}

void CQVSchedulerRunner::unregisterOnLastActionRunnerFinished() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::unregisterOnLastActionRunnerFinished");
  releaseEventHandler(lastActionHandler);
}

void CQVSchedulerRunner::unregisterOnActionRunnerFailed() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::unregisterOnActionRunnerFailed");
  releaseEventHandler(failedHandler);
}

QVMutex* CQVSchedulerRunner::queryLock() const { return services ? &services->getQueryLock() : nullptr; }

void CQVSchedulerRunner::setPaused() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::setPaused");
  const CQVQueryLockGuard lock(queryLock());
  if (runStart > 0) pauseStart = QVNowCalendarSeconds();
}

void CQVSchedulerRunner::setResumed() {
  QV_TRACE_SCOPE("CQVSchedulerRunner::setResumed");
  const CQVQueryLockGuard lock(queryLock());
  // Only a pause that was recorded ends here (the run may have begun during the pause).
  if (runStart > 0 && pauseStart > 0) {
    pausedSeconds += QVNowCalendarSeconds() - pauseStart;
    pauseStart = 0;
  }
}

long CQVSchedulerRunner::runTimeAt(std::int32_t now) const {
  if (runStart < 1) return 0;
  long seconds = static_cast<long>(now) - runStart - pausedSeconds;
  if (pauseStart > 0) seconds -= static_cast<long>(now) - pauseStart;
  return seconds;
}

bool CQVSchedulerRunner::findCurrentAndNextStage(CQVActionRunner*& current, CQVActionRunner*& next, long& seconds) {
  current = nullptr;
  next = nullptr;
  seconds = 0;
  auto it = actionRunners.begin();
  for (; it != actionRunners.end(); ++it) {
    if ((*it)->getRunState() == RUNNING) {
      current = it->get();
      break;
    }
  }
  if (!current) return true;
  if (!current->getSecondsToNextStage(seconds)) return false;
  if (current->hasNextBatch()) return true;
  for (++it; it != actionRunners.end(); ++it) {
    if ((*it)->isStageAction()) {
      next = it->get();
      break;
    }
    long more = 0;
    if (!(*it)->getSecondsToNextStage(more)) return false;
    seconds += more;
  }
  return true;
}

CQVSchedulerRunner::StageDraft CQVSchedulerRunner::askHost() const {
  StageDraft draft;
  draft.outcome = StageDraft::AskHost;
  draft.finalStage = context && context->runMode != CQVVusersServices::RUN_UNTIL_COMPLETE ? STAGE_RUN_INDEFINITELY
                                                                                          : STAGE_RUN_UNTIL_COMPLETE;
  return draft;
}

bool CQVSchedulerRunner::finishStage(CQVSchedulerStage& stage, const StageDraft& draft, bool inFinalStage) {
  if (!inFinalStage) return false;
  stage.setHasNextStage(false);
  stage.setCurrActionStage(draft.finalStage);
  return true;
}

CQVSchedulerRunner::StageDraft CQVSchedulerRunner::draftStageWhenIdle(CQVSchedulerStage& stage) {
  bool allNotStarted = true;
  bool allPast = true;
  for (const auto& action : actionRunners) {
    const RunState state = action->getRunState();
    const bool notStarted = state == NOT_STARTED || state == MAY_START || state == START_CONDITION_MET;
    allNotStarted = allNotStarted && notStarted;
    allPast = allPast && !notStarted;
    // Between two actions: the stage is left as it was.
    if (!allNotStarted && !allPast) return StageDraft{StageDraft::Known};
  }
  if (allNotStarted) return StageDraft{};
  stage.setCurrActionStage(STAGE_NONE);
  return askHost();
}

CQVSchedulerRunner::StageDraft CQVSchedulerRunner::draftSchedulerStage(CQVSchedulerStage& stage) {
  if (actionRunners.empty()) return StageDraft{};
  CQVActionRunner* current = nullptr;
  CQVActionRunner* next = nullptr;
  long seconds = 0;
  if (!findCurrentAndNextStage(current, next, seconds)) return StageDraft{};
  if (!current) return draftStageWhenIdle(stage);

  stage.setCurrActionStage(current->getActionStage());
  stage.setSecondsToNextStage(seconds);
  stage.setHasNextStage(true);
  CQVActionRunner* batchSource = nullptr;
  if (current->hasNextBatch()) {
    stage.setNextActionStage(current->getActionStage());
    batchSource = current;
  } else if (!next) {
    return askHost();
  } else {
    stage.setNextActionStage(next->getActionStage());
    batchSource = next;
  }
  int count = 0;
  if (batchSource->getNumberOfVusersInNextBatch(count)) stage.setNumberOfVusersInNextBatch(count);
  return StageDraft{StageDraft::Known};
}
