// Base of every action runner: one action of a schedule (initialize, run, ramp, stop, wait),
// numbered by actionId (1-based place in its schedule). An action reports its end by the
// action-finished event of its context (the next action's start condition) and its failure by the
// context's action-failed event. Also answers the stage queries of the scheduler runner.
// Owned by its scheduler runner; shares its context. Threads: as CQVBaseRunner.
#pragma once

#include "QVActionStage.h"
#include "QVBaseRunner.h"
#include "QVVusersServicesWrapper.h"

#include <string>

class CQVActionRunner : public CQVBaseRunner {
 public:
  CQVActionRunner() = default;

  // Writes the "Action started" line, then runs the action.
  bool start() override QV_REQUIRES(QVSchedulerLock);
  bool setFinishedRunning() override QV_REQUIRES(QVSchedulerLock);
  void setFailedRunning() override QV_REQUIRES(QVSchedulerLock);

  virtual bool isPreRunAction() const { return false; }
  virtual QVActionStage getActionStage() const = 0;
  virtual bool getSecondsToNextStage(long& seconds) = 0;
  virtual bool hasNextBatch() const = 0;
  virtual bool getNumberOfVusersInNextBatch(int& count) const = 0;
  virtual bool isStageAction() const { return true; }
  virtual bool run() QV_REQUIRES(QVSchedulerLock) = 0;
  virtual std::string getDescription() const = 0;

  bool sendFinishedRunningEvent() QV_REQUIRES(QVSchedulerLock);

  int getActionId() const { return actionId; }
  void setActionId(int id) { actionId = id; }

 protected:
  // The host adapter of the services object, or null.
  CQVVusersServicesWrapper* wrapper() const QV_REQUIRES(QVSchedulerLock);

  int actionId = 0;
};
