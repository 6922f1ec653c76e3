// Action "RampUp": starts a given total of vusers in batches.
#pragma once

#include "QVRampVusersActionRunner.h"

class CQVRampUpVusersActionRunner : public CQVRampVusersActionRunner {
 public:
  CQVRampUpVusersActionRunner() = default;
  ~CQVRampUpVusersActionRunner() override;
  QVActionStage getActionStage() const override { return STAGE_RAMP_UP; }
  std::string getDescription() const override;

 protected:
  int operateOn(int count) override QV_REQUIRES(QVSchedulerLock);
};
