// A request to pass one scheduler event to the process-wide events manager. Owns its copy of the
// definition, except a borrowing request, which refers to the caller's definition: it is made for
// an in-place run while that definition lives, and its clones (the queued ones) own a copy.
// Executed by the scheduler events manager with the scheduler lock held.
#pragma once

#include "QVEventDef.h"
#include "QVEventRequest.h"

#include <memory>

class CQVNotifyOnSchedulerEventRequest : public CQVEventRequest {
 public:
  struct Borrow {};

  explicit CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def);
  CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def, Borrow);
  ~CQVNotifyOnSchedulerEventRequest() override;

  CQVEventRequest* clone() const override;
  bool execute() override;

  const CQVEventDef* getEventDef() const { return eventDef; }

 private:
  std::unique_ptr<CQVEventDef> ownedDef;  // null for a borrowing request
  const CQVEventDef* eventDef;
};
