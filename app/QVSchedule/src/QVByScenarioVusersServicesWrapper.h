// Host adapter for a schedule of the whole scenario: calls the host's scenario operations.
#pragma once

#include "QVVusersServicesWrapper.h"

class CQVByScenarioVusersServicesWrapper : public CQVVusersServicesWrapper {
 public:
  // A scenario has no groups: nothing to tell.
  void notifyGroupFinished(CQVContext*) override {}
  // The host's isInFinalStage; false without host services.
  bool isInFinalStageOf(CQVContext* context) override;

 protected:
  int doInitAllVusers(CQVContext* context) override;
  int doInitVusers(CQVContext* context, long count) override;
  int doRunAllVusers(CQVContext* context) override;
  int doRunVusers(CQVContext* context, long count) override;
  int doStopAllVusers(CQVContext* context) override;
  int doStopVusers(CQVContext* context, long count) override;
  int doCanStartDuration(CQVContext* context) override;
};
