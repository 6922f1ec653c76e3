// Ramps over all vusers of the context: batches of batchSize until the host answers
// VUSERS_STATUS_NO_MORE_VUSERS (that batch counts as successful and ends the ramp).
#pragma once

#include "QVBaseRampVusersActionRunner.h"

#include <atomic>

class CQVBaseRampAllVusersActionRunner : public CQVBaseRampVusersActionRunner {
 public:
  CQVBaseRampAllVusersActionRunner();
  ~CQVBaseRampAllVusersActionRunner() override;
  void setBatchData(int batchSize, int intervalSeconds) override;
  bool operateOnVusers() override QV_REQUIRES(QVSchedulerLock);
  bool hasMoreBatches() const override { return moreBatches.load(); }
  bool getNumberOfVusersInNextBatch(int& count) const override;
  // One batch call to the host; returns the host status.
  virtual int operateOnAllVusers() QV_REQUIRES(QVSchedulerLock) = 0;

 protected:
  std::atomic<bool> moreBatches{false};
};
