// Action "StopAll": one host call for all vusers; finishes when it succeeded (status 0 or 2).
#pragma once

#include "QVBaseSimultAllActionRunner.h"

class CQVStopAllVusersActionRunner : public CQVBaseSimultAllActionRunner {
 public:
  CQVStopAllVusersActionRunner();
  ~CQVStopAllVusersActionRunner() override;
  QVActionStage getActionStage() const override { return STAGE_STOP; }
  std::string getDescription() const override { return "StopAll"; }
  bool run() override QV_REQUIRES(QVSchedulerLock);
};
