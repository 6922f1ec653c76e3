// A request to pass one scheduler event to the process-wide events manager. Owns its copy of the
// definition, except a borrowing request, which refers to the caller's definition: it is made for
// an in-place run while that definition lives, and its clones (the queued ones) own a copy.
// `origin` (not owned) is the scheduler events manager that queued it: the event coming straight
// back to that manager is delivered in the request's place (CQVSchedulerEventsManager::ReturningEvent).
// Executed by the scheduler events manager with the scheduler lock held.
#pragma once

#include "QVEventDef.h"
#include "QVEventRequest.h"

class CQVSchedulerEventsManager;

#include <memory>

class CQVNotifyOnSchedulerEventRequest : public CQVEventRequest {
 public:
  struct Borrow {};

  explicit CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def, const CQVSchedulerEventsManager* origin = nullptr);
  CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def, Borrow, const CQVSchedulerEventsManager* origin);
  ~CQVNotifyOnSchedulerEventRequest() override;

  CQVEventRequest* clone() const override;
  bool execute() override;

  const CQVEventDef* getEventDef() const { return eventDef; }

 private:
  std::unique_ptr<CQVEventDef> ownedDef;  // null for a borrowing request
  const CQVEventDef* eventDef;
  const CQVSchedulerEventsManager* origin;
};
