// CQVEventRequest: a unit of work queued on an events manager and run by execute() in arrival
// order with the events queued there.
//
// Ownership: clone() returns a new copy owned by the caller; addRequest keeps a clone, so callers
// may pass temporaries.
// Threads: execute() runs on whichever thread executes the manager's queue, with no manager lock
// held; it may raise further events and requests (they run after it).
#pragma once

class CQVEventRequest {
 public:
  virtual ~CQVEventRequest();

  virtual CQVEventRequest* clone() const = 0;
  // The result is informative only; the manager ignores it.
  virtual bool execute() = 0;

 protected:
  CQVEventRequest() = default;
  CQVEventRequest(const CQVEventRequest&) = default;
  CQVEventRequest& operator=(const CQVEventRequest&) = default;
};
