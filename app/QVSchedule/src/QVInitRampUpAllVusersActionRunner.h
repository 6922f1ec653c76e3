// Action "RampInitAll": initializes all vusers of its context in batches, like an all-vusers
// ramp, and finishes when the host reports by event that all vusers are initialized (possibly
// long after the last batch). An event before the last batch is reported as an error line but
// still finishes the action; later batches are still issued when due.
#pragma once

#include "QVBaseRampAllVusersActionRunner.h"

class CQVInitRampUpAllVusersActionRunner : public CQVBaseRampAllVusersActionRunner {
 public:
  CQVInitRampUpAllVusersActionRunner();
  ~CQVInitRampUpAllVusersActionRunner() override;

  QVActionStage getActionStage() const override { return STAGE_RAMP_INIT_ALL; }
  std::string getDescription() const override;
  bool isPreRunAction() const override { return true; }
  bool beforeStartRunning() override;
  int operateOnAllVusers() override;
  bool onRampFinished() override;
  void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) override;
  void unregisterOnEvents() override;

  bool registerToVusersInitializedEvent();
  void unregisterToVusersInitializedEvent();
  bool isRampFinished() const { return rampFinished; }

 private:
  CQVBaseRunnerEventHandler* vusersInitializedHandler = nullptr;
  bool rampFinished = false;
};
