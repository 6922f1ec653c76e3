#include "QVScheduleLocks.h"

#include <cassert>

CQVLockName QVSchedulerLock;
CQVLockName QVQueryLock;

void QVAssertSchedulerLockHeld(const QVCriticalSection* lock) {
  assert(!lock || lock->isHeldByCurrentThread());
  (void)lock;
}
