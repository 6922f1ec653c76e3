#include "QVEventsManager.h"

CQVEventsManager::CQVEventsManager() = default;

CQVEventsManager::~CQVEventsManager() = default;

CQVEventsManager* CQVEventsManager::instance() {
  // Intentionally never deleted (see the header).
  static CQVEventsManager* const manager = new CQVEventsManager();
  return manager;
}

bool CQVEventsManager::canExecuteRequests() { return true; }

// No lock here: handlers take their own locks inside onEvent and also raise events here while
// holding them, so a lock held across the queue would deadlock.
void CQVEventsManager::preExecuteEventRequests() {}

void CQVEventsManager::postExecuteEventRequests() {}
