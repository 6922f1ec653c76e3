// Action "RampDownAll": stops all vusers of its context in batches.
#pragma once

#include "QVBaseRampAllVusersActionRunner.h"

class CQVRampDownAllVusersActionRunner : public CQVBaseRampAllVusersActionRunner {
 public:
  CQVRampDownAllVusersActionRunner();
  ~CQVRampDownAllVusersActionRunner() override;
  QVActionStage getActionStage() const override { return STAGE_RAMP_DOWN_ALL; }
  std::string getDescription() const override;
  int operateOnAllVusers() override QV_REQUIRES(QVSchedulerLock);
};
