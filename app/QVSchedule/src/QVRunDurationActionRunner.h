// Action "Duration" (also the delay after initialization and a group's start delay): asks the host
// whether a duration may start, then waits durationSeconds and finishes. preRun marks a group's
// start delay, after which the group's run time is measured. Owns its time handler, which lives as
// long as the runner so that a stage query may ask the timer about it at any time.
#pragma once

#include "QVActionRunner.h"

#include <memory>

class CQVRunDurationActionRunner : public CQVActionRunner {
 public:
  explicit CQVRunDurationActionRunner(bool preRun);
  ~CQVRunDurationActionRunner() override;

  QVActionStage getActionStage() const override { return STAGE_DURATION; }
  std::string getDescription() const override { return "Duration @ " + std::to_string(durationSeconds) + " sec"; }
  bool isPreRunAction() const override { return preRun; }
  bool isStageAction() const override { return false; }
  bool hasNextBatch() const override { return false; }
  bool getNumberOfVusersInNextBatch(int&) const override { return false; }
  bool getSecondsToNextStage(long& seconds) override;
  bool run() override QV_REQUIRES(QVSchedulerLock);
  void onTimeArrived(CQVBaseRunnerTimeHandler* handler) override QV_REQUIRES(QVSchedulerLock);
  void unregisterOnEvents() override QV_REQUIRES(QVSchedulerLock);

  bool registerToDurationTime() QV_REQUIRES(QVSchedulerLock);
  void unregisterToDurationTime() QV_REQUIRES(QVSchedulerLock);

  void setDurationSeconds(int seconds) { durationSeconds = seconds; }
  int getDurationSeconds() const { return durationSeconds; }

 private:
  const std::unique_ptr<CQVBaseRunnerTimeHandler> durationTimeHandler;
  bool durationTimeInUse = false;  // registered since the last unregistration (or already served)
  int durationSeconds = 0;
  const bool preRun;
};
