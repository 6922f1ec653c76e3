// Host adapter for schedules by vuser group: calls the host's group operations with the group
// name of the runner's context.
#pragma once

#include "QVVusersServicesWrapper.h"

class CQVByGroupVusersServicesWrapper : public CQVVusersServicesWrapper {
 public:
  // The host's onGroupFinished with the group name; nothing without host services.
  void notifyGroupFinished(CQVContext* context) override;
  // A group schedule is never in the scenario's final stage: false, without asking the host.
  bool isInFinalStageOf(CQVContext*) override { return false; }

 protected:
  int doInitAllVusers(CQVContext* context) override;
  int doInitVusers(CQVContext* context, long count) override;
  int doRunAllVusers(CQVContext* context) override;
  int doRunVusers(CQVContext* context, long count) override;
  int doStopAllVusers(CQVContext* context) override;
  int doStopVusers(CQVContext* context, long count) override;
  int doCanStartDuration(CQVContext* context) override;
};
