// Action "InitAll": asks the host to initialize all vusers of its context and finishes only when
// the host reports, by the context's all-vusers-initialized event, that they are initialized.
// The event handler is registered just before the host call (an earlier event is not seen).
#pragma once

#include "QVBaseSimultAllActionRunner.h"

class CQVInitAllVusersActionRunner : public CQVBaseSimultAllActionRunner {
 public:
  CQVInitAllVusersActionRunner();
  ~CQVInitAllVusersActionRunner() override;

  QVActionStage getActionStage() const override { return STAGE_INIT_ALL; }
  std::string getDescription() const override { return "InitAll"; }
  bool isPreRunAction() const override { return true; }
  bool beforeStartRunning() override QV_REQUIRES(QVSchedulerLock);
  bool run() override QV_REQUIRES(QVSchedulerLock);
  void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) override QV_REQUIRES(QVSchedulerLock);
  void unregisterOnEvents() override QV_REQUIRES(QVSchedulerLock);

  bool registerToVusersInitializedEvent() QV_REQUIRES(QVSchedulerLock);
  void unregisterToVusersInitializedEvent() QV_REQUIRES(QVSchedulerLock);

 private:
  CQVBaseRunnerEventHandler* vusersInitializedHandler = nullptr;
};
