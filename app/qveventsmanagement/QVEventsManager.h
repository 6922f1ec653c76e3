// CQVEventsManager: the host's process-wide events manager. Any component registers its handlers
// here and raises events with CQVEventsManager::instance()->notifyOnEvent(def) from any thread;
// each event reaches every handler registered for a matching definition.
//
// Ownership: created on the first call of instance() and never destroyed, so that threads may
// still use it while static objects are being destroyed.
// Threads and locks: requests and events always run (canExecuteRequests() is true) and no lock of
// this manager is held while handlers run: callers may hold locks of their own both when they
// raise events here and inside the onEvent calls made from here.
#pragma once

#include "QVBaseEventsManager.h"

class CQVEventsManager : public CQVBaseEventsManager {
 public:
  static CQVEventsManager* instance();

 protected:
  bool canExecuteRequests() final;
  void preExecuteEventRequests() final;
  void postExecuteEventRequests() final;

 private:
  CQVEventsManager();
  ~CQVEventsManager() override;
};
