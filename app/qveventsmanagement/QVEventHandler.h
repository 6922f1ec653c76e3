// CQVEventHandler: receives the events it registered for with an events manager.
//
// Ownership: managers never own handlers. A manager tells a handler, by setUnregisteredFromEvent,
// each time one of its registrations is dropped by unregisterOnEvent, with the number of
// registrations the handler still holds in that manager; when that number is 0 the handler may
// delete itself there, and the manager no longer touches it.
// Threads: onEvent runs on whichever thread executes the manager's queue, with no manager lock
// held; it may register, unregister and raise events. When a registration is dropped while one of
// the handler's onEvent calls runs (on any thread, this one included), the report waits until the
// last running call returns and is then made on that thread; so a report of 0 never overlaps an
// onEvent call. One manager makes its reports to one handler one at a time, in the order of the
// unregistrations, so a count of 0 comes last.
#pragma once

#include <string>

class CQVEventDef;

class CQVEventHandler {
 public:
  virtual ~CQVEventHandler();

  virtual void onEvent(const CQVEventDef& def) = 0;
  // One registration for `def` was dropped; `remainingRegistrations` are still held in the
  // manager that reports it.
  virtual void setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) = 0;
  // Text for logs.
  virtual std::string getName() const = 0;
};
