// Action "RampUpAll": starts all vusers of its context in batches.
#pragma once

#include "QVBaseRampAllVusersActionRunner.h"

class CQVRampUpAllVusersActionRunner : public CQVBaseRampAllVusersActionRunner {
 public:
  CQVRampUpAllVusersActionRunner();
  ~CQVRampUpAllVusersActionRunner() override;
  QVActionStage getActionStage() const override { return STAGE_RAMP_UP_ALL; }
  std::string getDescription() const override;
  int operateOnAllVusers() override QV_REQUIRES(QVSchedulerLock);
};
