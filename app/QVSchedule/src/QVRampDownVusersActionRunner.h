// Action "RampDown": stops a given total of vusers in batches.
#pragma once

#include "QVRampVusersActionRunner.h"

class CQVRampDownVusersActionRunner : public CQVRampVusersActionRunner {
 public:
  CQVRampDownVusersActionRunner() = default;
  ~CQVRampDownVusersActionRunner() override;
  QVActionStage getActionStage() const override { return STAGE_RAMP_DOWN; }
  std::string getDescription() const override;

 protected:
  int operateOn(int count) override QV_REQUIRES(QVSchedulerLock);
};
