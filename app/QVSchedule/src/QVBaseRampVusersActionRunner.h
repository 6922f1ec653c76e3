// Base of the ramps: a batch of vusers at once, the next batch batchIntervalSeconds after the
// previous host call returned, until the ramp has no more batches. The first batch is issued when
// the action starts. A batch that fails ends the ramp (finished event; in the first batch the start
// also fails). Owns its batch time handler, which lives as long as the runner (registered or not)
// so that a stage query may ask the timer about it at any time. Threads: as CQVBaseRunner; what
// the stage queries read (vusers done, more batches) is atomic.
#pragma once

#include "QVActionRunner.h"

#include <atomic>
#include <memory>

class CQVBaseRampVusersActionRunner : public CQVActionRunner {
 public:
  CQVBaseRampVusersActionRunner();
  ~CQVBaseRampVusersActionRunner() override;

  // Stores both; negative values as 0.
  virtual void setBatchData(int batchSize, int intervalSeconds);
  virtual bool operateOnVusers() QV_REQUIRES(QVSchedulerLock) = 0;
  virtual bool hasMoreBatches() const = 0;
  virtual bool onRampFinished() QV_REQUIRES(QVSchedulerLock) { return setFinishedRunning(); }

  void unregisterOnEvents() override QV_REQUIRES(QVSchedulerLock);
  void onTimeArrived(CQVBaseRunnerTimeHandler* handler) override QV_REQUIRES(QVSchedulerLock);
  bool getSecondsToNextStage(long& seconds) override;
  bool hasNextBatch() const override { return hasMoreBatches(); }
  bool run() override QV_REQUIRES(QVSchedulerLock);

  bool registerToRampBatchTime(long seconds) QV_REQUIRES(QVSchedulerLock);
  void unregisterToRampBatchTime() QV_REQUIRES(QVSchedulerLock);
  bool handleNextBatch() QV_REQUIRES(QVSchedulerLock);

  int getBatchSize() const { return batchSize; }
  int getBatchIntervalSeconds() const { return batchIntervalSeconds; }
  int getVusersDone() const { return vusersDone.load(); }

 protected:
  static bool succeeded(int status) {
    return status == CQVVusersServices::VUSERS_STATUS_SUCCEEDED || status == CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS;
  }

  const std::unique_ptr<CQVBaseRunnerTimeHandler> batchTimeHandler;
  bool batchTimeInUse = false;  // registered since the last unregistration (or already served)
  std::atomic<int> vusersDone{0};
  int batchSize = 0;
  int batchIntervalSeconds = 0;
};
