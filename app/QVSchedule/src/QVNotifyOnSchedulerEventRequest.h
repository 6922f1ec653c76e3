// A queued request to pass one scheduler event to the process-wide events manager. Owns its copy
// of the definition. Executed by the scheduler events manager with the scheduler lock held.
#pragma once

#include "QVEventDef.h"
#include "QVEventRequest.h"

#include <memory>

class CQVNotifyOnSchedulerEventRequest : public CQVEventRequest {
 public:
  explicit CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def);
  ~CQVNotifyOnSchedulerEventRequest() override;

  CQVEventRequest* clone() const override;
  bool execute() override;

  const CQVEventDef* getEventDef() const { return eventDef.get(); }

 private:
  std::unique_ptr<CQVEventDef> eventDef;
};
