// CQVEventHandler: receives the events it registered for with an events manager.
//
// Ownership: managers never own handlers. A manager tells a handler, by setUnregisteredFromEvent,
// each time one of its registrations is dropped by unregisterOnEvent, with the number of
// registrations the handler still holds in that manager; when that number is 0 the handler may
// delete itself there, and the manager no longer touches it.
// Threads: onEvent runs on whichever thread executes the manager's queue, with no manager lock
// held; it may register, unregister and raise events. A report is never made to a handler while
// one of its onEvent calls runs on any thread: it waits until the last such call returns and is
// then made on that thread. One manager never makes two reports to one handler at once.
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
