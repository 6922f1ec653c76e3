// Runs one schedule: its ordered action runners (owned), one after another. Finishes on its last
// action's finished event, fails on any action-failed event of its context, and announces either
// by event to the root runner. Measures its run time from the end of its pre-run part (calendar
// seconds, minus paused seconds) and computes the stage record for the host.
// Owns its context and its actions. Threads: callbacks under the scheduler lock; the host's
// queries and pause/resume come under the same lock through the controller.
#pragma once

#include "QVActionRunner.h"
#include "QVBaseRunner.h"
#include "QVSchedulerStage.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CQVSchedulerRunner : public CQVBaseRunner {
 public:
  CQVSchedulerRunner();
  ~CQVSchedulerRunner() override;

  bool beforeStartRunning() override;
  bool start() override;
  void stopRunning() override;
  bool setFinishedRunning() override;
  void setFailedRunning() override;
  void unregisterOnEvents() override;
  void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) override;

  // Takes ownership; false for null.
  bool appendActionRunner(CQVActionRunner* actionRunner);
  // The owner's count of its scheduler runners that are done (finished or failed): this runner
  // adds itself once, when it first becomes done (at once if it already is). Not owned.
  void setDoneCount(std::size_t* count);
  bool computeSchedulerStage(CQVSchedulerStage& stage);
  void setPaused();
  void setResumed();

  std::int32_t getRunStart() const { return runStart.load(); }
  std::int32_t getPauseStart() const { return pauseStart.load(); }
  long getPausedSeconds() const { return pausedSeconds.load(); }
  // Whole seconds the schedule has run at calendar time `now` (0 before its run began).
  long runTimeAt(std::int32_t now) const;

  const std::vector<std::unique_ptr<CQVActionRunner>>& getActionRunners() const { return actionRunners; }

  void registerOnLastActionRunnerFinished();
  void unregisterOnLastActionRunnerFinished();
  void registerOnActionRunnerFailed();
  void unregisterOnActionRunnerFailed();
  void registerOnPreRunFinished(int actionId);
  void initRunTimeParams();

 private:
  bool findCurrentAndNextStage(CQVActionRunner*& current, CQVActionRunner*& next, long& seconds);
  bool getStageWhenIdle(CQVSchedulerStage& stage);
  void setFinalStage(CQVSchedulerStage& stage);
  void countDone();

  std::vector<std::unique_ptr<CQVActionRunner>> actionRunners;
  CQVBaseRunnerEventHandler* lastActionHandler = nullptr;
  CQVBaseRunnerEventHandler* preRunHandler = nullptr;
  CQVBaseRunnerEventHandler* failedHandler = nullptr;
  std::size_t* doneCount = nullptr;  // the owner's; both under the scheduler lock
  bool countedDone = false;
  // Written under the scheduler lock; read by run-time queries.
  std::atomic<std::int32_t> runStart{0};
  std::atomic<std::int32_t> pauseStart{0};
  std::atomic<long> pausedSeconds{0};
};
