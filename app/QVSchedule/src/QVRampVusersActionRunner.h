// Ramps over a given total: ceil(total / batch) batches, the last one partial. Host answers of
// VUSERS_STATUS_NO_MORE_VUSERS do not end the ramp early.
#pragma once

#include "QVBaseRampVusersActionRunner.h"

class CQVRampVusersActionRunner : public CQVBaseRampVusersActionRunner {
 public:
  CQVRampVusersActionRunner() = default;
  ~CQVRampVusersActionRunner() override;
  using CQVBaseRampVusersActionRunner::setBatchData;
  // Batch size and interval as setBatchData(2); the total is stored unchanged.
  virtual void setBatchData(int batchSize, int intervalSeconds, int totalVusers);
  bool operateOnVusers() override QV_REQUIRES(QVSchedulerLock);
  bool hasMoreBatches() const override { return vusersDone.load() < totalVusers && batchSize > 0; }
  bool getNumberOfVusersInNextBatch(int& count) const override;
  int getTotalVusers() const { return totalVusers; }

 protected:
  // One batch call to the host for `count` vusers; returns the host status.
  virtual int operateOn(int count) QV_REQUIRES(QVSchedulerLock) = 0;

  int totalVusers = 0;
};
