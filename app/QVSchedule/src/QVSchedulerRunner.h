// Runs one schedule: its ordered action runners (owned), one after another. Finishes on its last
// action's finished event, fails on any action-failed event of its context, and announces either
// by event to the root runner. Measures its run time from the end of its pre-run part (calendar
// seconds, minus paused seconds) and computes the stage record for the host.
// Owns its context and its actions. Threads: callbacks, pause and resume under the scheduler lock.
// The host's queries come from any thread with only the services' query lock held (through the
// root runner): the run-time figures are written under that lock too, and what the stage reads
// of the actions is atomic or fixed once the schedule is built.
#pragma once

#include "QVActionRunner.h"
#include "QVBaseRunner.h"
#include "QVSchedulerStage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CQVSchedulerRunner : public CQVBaseRunner {
 public:
  CQVSchedulerRunner();
  ~CQVSchedulerRunner() override;

  bool beforeStartRunning() override QV_REQUIRES(QVSchedulerLock);
  bool start() override QV_REQUIRES(QVSchedulerLock);
  void stopRunning() override QV_REQUIRES(QVSchedulerLock);
  bool setFinishedRunning() override QV_REQUIRES(QVSchedulerLock);
  void setFailedRunning() override QV_REQUIRES(QVSchedulerLock);
  void unregisterOnEvents() override QV_REQUIRES(QVSchedulerLock);
  void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) override QV_REQUIRES(QVSchedulerLock);

  // Takes ownership; false for null.
  bool appendActionRunner(CQVActionRunner* actionRunner);
  // The owner's count of its scheduler runners that are done (finished or failed): this runner
  // adds itself once, when it first becomes done (at once if it already is). Not owned.
  void setDoneCount(std::size_t* count) QV_REQUIRES(QVSchedulerLock);
  // The stage as far as the actions tell it. AskHost: the rest depends on the host's
  // isInFinalStage; `stage` then holds the fields set so far and finishStage completes it.
  struct StageDraft {
    enum Outcome { Unknown, Known, AskHost } outcome = Unknown;
    QVActionStage finalStage = STAGE_NONE;  // the stage of this schedule's run mode, for AskHost
  };
  StageDraft draftSchedulerStage(CQVSchedulerStage& stage);
  // Completes an AskHost draft with the host's answer; false when not in the final stage.
  static bool finishStage(CQVSchedulerStage& stage, const StageDraft& draft, bool inFinalStage);
  void setPaused() QV_REQUIRES(QVSchedulerLock);
  void setResumed() QV_REQUIRES(QVSchedulerLock);

  // Whole seconds the schedule has run at calendar time `now` (0 before its run began), for the
  // root runner's run-time query.
  long runTimeAt(std::int32_t now) const QV_REQUIRES(QVQueryLock);

  const std::vector<std::unique_ptr<CQVActionRunner>>& getActionRunners() const { return actionRunners; }

  void registerOnLastActionRunnerFinished() QV_REQUIRES(QVSchedulerLock);
  void unregisterOnLastActionRunnerFinished() QV_REQUIRES(QVSchedulerLock);
  void registerOnActionRunnerFailed() QV_REQUIRES(QVSchedulerLock);
  void unregisterOnActionRunnerFailed() QV_REQUIRES(QVSchedulerLock);
  void registerOnPreRunFinished(int actionId) QV_REQUIRES(QVSchedulerLock);
  void initRunTimeParams() QV_REQUIRES(QVSchedulerLock);

 private:
  bool findCurrentAndNextStage(CQVActionRunner*& current, CQVActionRunner*& next, long& seconds);
  StageDraft draftStageWhenIdle(CQVSchedulerStage& stage);
  StageDraft askHost() const;
  void countDone() QV_REQUIRES(QVSchedulerLock);
  // The services' query lock, around the run-time figures; none without services.
  QVMutex* queryLock() const;

  std::vector<std::unique_ptr<CQVActionRunner>> actionRunners;
  CQVBaseRunnerEventHandler* lastActionHandler = nullptr;
  CQVBaseRunnerEventHandler* preRunHandler = nullptr;
  CQVBaseRunnerEventHandler* failedHandler = nullptr;
  std::size_t* doneCount QV_GUARDED_BY(QVSchedulerLock) = nullptr;  // the owner's
  bool countedDone QV_GUARDED_BY(QVSchedulerLock) = false;
  // Run-time figures: written by operations that hold the scheduler lock too.
  std::int32_t runStart QV_GUARDED_BY(QVQueryLock) = 0;
  std::int32_t pauseStart QV_GUARDED_BY(QVQueryLock) = 0;
  long pausedSeconds QV_GUARDED_BY(QVQueryLock) = 0;
};
