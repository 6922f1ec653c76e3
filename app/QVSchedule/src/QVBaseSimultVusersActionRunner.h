// Simultaneous actions that concern a given number of vusers (never negative).
#pragma once

#include "QVBaseSimultActionRunner.h"

class CQVBaseSimultVusersActionRunner : public CQVBaseSimultActionRunner {
 public:
  void setData(int count);
  int getVusersCount() const { return vusersCount; }

  bool getNumberOfVusersInNextBatch(int& count) const override {
    count = vusersCount;
    return true;
  }
  // A count of 0 finishes without calling the host.
  bool run() override QV_REQUIRES(QVSchedulerLock);
  // The host call for `count` vusers; VUSERS_STATUS_FAILED without services or for count <= 0.
  virtual int run(CQVContext* context, int count) QV_REQUIRES(QVSchedulerLock) = 0;

 protected:
  int vusersCount = 0;
};
