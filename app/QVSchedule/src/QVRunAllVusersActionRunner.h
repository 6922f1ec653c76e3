// Action "RunAll": one host call for all vusers; finishes when it succeeded (status 0 or 2).
#pragma once

#include "QVBaseSimultAllActionRunner.h"

class CQVRunAllVusersActionRunner : public CQVBaseSimultAllActionRunner {
 public:
  CQVRunAllVusersActionRunner();
  ~CQVRunAllVusersActionRunner() override;
  QVActionStage getActionStage() const override { return STAGE_RUN; }
  std::string getDescription() const override { return "RunAll @"; }
  bool run() override QV_REQUIRES(QVSchedulerLock);
};
