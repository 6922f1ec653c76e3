// Action "Stop": stops a given number of vusers at once and finishes when the host call succeeded.
#pragma once

#include "QVBaseSimultVusersActionRunner.h"

class CQVStopVusersActionRunner : public CQVBaseSimultVusersActionRunner {
 public:
  using CQVBaseSimultVusersActionRunner::run;
  QVActionStage getActionStage() const override { return STAGE_STOP; }
  std::string getDescription() const override;
  int run(CQVContext* context, int count) override QV_REQUIRES(QVSchedulerLock);
};
