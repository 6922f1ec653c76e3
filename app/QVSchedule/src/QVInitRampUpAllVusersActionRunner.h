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
  bool beforeStartRunning() override QV_REQUIRES(QVSchedulerLock);
  int operateOnAllVusers() override QV_REQUIRES(QVSchedulerLock);
  bool onRampFinished() override QV_REQUIRES(QVSchedulerLock);
  void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) override QV_REQUIRES(QVSchedulerLock);
  void unregisterOnEvents() override QV_REQUIRES(QVSchedulerLock);

  bool registerToVusersInitializedEvent() QV_REQUIRES(QVSchedulerLock);
  void unregisterToVusersInitializedEvent() QV_REQUIRES(QVSchedulerLock);
  bool isRampFinished() const { return rampFinished; }

 private:
  CQVBaseRunnerEventHandler* vusersInitializedHandler = nullptr;
  bool rampFinished = false;
};
