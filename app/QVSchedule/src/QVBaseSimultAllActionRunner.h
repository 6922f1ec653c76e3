// Simultaneous actions that concern all vusers of their context.
#pragma once

#include "QVBaseSimultActionRunner.h"
#include "QVSchedulerStage.h"

class CQVBaseSimultAllActionRunner : public CQVBaseSimultActionRunner {
 public:
  bool getNumberOfVusersInNextBatch(int& count) const override {
    count = CQVSchedulerStage::ALL_VUSERS;
    return true;
  }

 protected:
  // Calls the host through `call` and finishes on success (status 0 or 2); false otherwise.
  template <typename Call>
  bool runOnce(Call call) QV_REQUIRES(QVSchedulerLock);
};

template <typename Call>
bool CQVBaseSimultAllActionRunner::runOnce(Call call) {
  CQVVusersServicesWrapper* host = wrapper();
  if (!host) return false;
  const int status = call(*host);
  if (status != CQVVusersServices::VUSERS_STATUS_SUCCEEDED && status != CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS) {
    return false;
  }
  return setFinishedRunning();
}
