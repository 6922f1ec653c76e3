// What every runner of a schedule shares at run time: the host's services (not owned), the one
// host adapter (owned; by scenario or by group), the scheduler events manager (owned until
// released; it deletes itself afterwards) and two locks.
//
// Locks (lock order: scheduler lock, second lock, query lock, then the timer lock; the compiler
// knows the scheduler and query locks by the names of QVScheduleLocks.h):
// - scheduler lock: recursive; held by the timer thread for every notification pass, by the
//   events manager while it runs requests and deliveries, and by the controller around load,
//   start, stop, pause and resume. Shared with the events manager and its timer so that it
//   outlives a deferred deletion of the manager.
// - second lock: taken after the scheduler lock around deleting the runners.
// - query lock: guards what the host's queries read without the scheduler lock: the root runner's
//   list of scheduler runners (changed only with both locks held), each scheduler runner's
//   run-time figures and the adapter pointer. Held only briefly, never while calling out (the
//   host, handlers or the events library); a query asks the timer for a remaining time under it.
#pragma once

#include "QVCriticalSection.h"
#include "QVMutex.h"
#include "QVScheduleLocks.h"
#include "QVSchedulerEventsManager.h"
#include "QVVusersServices.h"
#include "QVVusersServicesWrapper.h"

#include <atomic>
#include <memory>

class CQVScheduleServices {
 public:
  CQVScheduleServices();
  ~CQVScheduleServices();
  CQVScheduleServices(const CQVScheduleServices&) = delete;
  CQVScheduleServices& operator=(const CQVScheduleServices&) = delete;

  // Install a new adapter of that kind, carrying over the host's services.
  void setScheduleByGroup() QV_REQUIRES(QVSchedulerLock) QV_EXCLUDES(QVQueryLock);
  void setScheduleByScenario() QV_REQUIRES(QVSchedulerLock) QV_EXCLUDES(QVQueryLock);
  bool isScheduleByGroup() const { return byGroup; }

  // Stores the host's services here and in the adapter; a null pointer changes nothing (false).
  bool setVusersServices(CQVVusersServices* services) QV_REQUIRES(QVSchedulerLock);
  CQVVusersServices* getVusersServices() const { return vusersServices.load(); }

  // For runners: the adapter changes only under both locks, so the scheduler lock is enough to
  // read it.
  CQVVusersServicesWrapper* getWrapper() const QV_REQUIRES(QVSchedulerLock) QV_NO_THREAD_SAFETY_ANALYSIS {
    return wrapper.get();
  }
  // For queries: keeps the adapter alive after a later load replaced it.
  std::shared_ptr<CQVVusersServicesWrapper> shareWrapper() const QV_REQUIRES(QVQueryLock) { return wrapper; }
  CQVSchedulerEventsManager* getEventsManager() const { return eventsManager; }
  QVCriticalSection& getSchedulerLock() { return *schedulerLock; }
  QVCriticalSection& getSecondLock() { return secondLock; }
  QVMutex& getQueryLock() const { return queryLock; }

 private:
  void installWrapper(std::unique_ptr<CQVVusersServicesWrapper> next) QV_REQUIRES(QVSchedulerLock)
      QV_EXCLUDES(QVQueryLock);

  std::atomic<CQVVusersServices*> vusersServices{nullptr};
  // Replaced only while loading, under the scheduler lock and the query lock.
  std::shared_ptr<CQVVusersServicesWrapper> wrapper QV_GUARDED_BY(QVQueryLock);
  bool byGroup = false;
  CQVSchedulerEventsManager* eventsManager = nullptr;
  std::shared_ptr<QVCriticalSection> schedulerLock;
  QVCriticalSection secondLock;
  mutable QVMutex queryLock;
};
