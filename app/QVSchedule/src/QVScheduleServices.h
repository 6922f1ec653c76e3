// What every runner of a schedule shares at run time: the host's services (not owned), the one
// host adapter (owned; by scenario or by group), the scheduler events manager (owned until
// released; it deletes itself afterwards) and two locks.
//
// Locks (lock order: scheduler lock, second lock, query lock, then the timer lock):
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
#include "QVSchedulerEventsManager.h"
#include "QVVusersServices.h"
#include "QVVusersServicesWrapper.h"

#include <atomic>
#include <memory>
#include <mutex>

class CQVScheduleServices {
 public:
  CQVScheduleServices();
  ~CQVScheduleServices();
  CQVScheduleServices(const CQVScheduleServices&) = delete;
  CQVScheduleServices& operator=(const CQVScheduleServices&) = delete;

  // Install a new adapter of that kind, carrying over the host's services.
  void setScheduleByGroup();
  void setScheduleByScenario();
  bool isScheduleByGroup() const { return byGroup; }

  // Stores the host's services here and in the adapter; a null pointer changes nothing (false).
  bool setVusersServices(CQVVusersServices* services);
  CQVVusersServices* getVusersServices() const { return vusersServices.load(); }

  // For runners, under the scheduler lock (the adapter changes only while loading).
  CQVVusersServicesWrapper* getWrapper() const { return wrapper.get(); }
  // For queries, under the query lock: keeps the adapter alive after a later load replaced it.
  std::shared_ptr<CQVVusersServicesWrapper> shareWrapper() const { return wrapper; }
  CQVSchedulerEventsManager* getEventsManager() const { return eventsManager; }
  QVCriticalSection& getSchedulerLock() { return *schedulerLock; }
  QVCriticalSection& getSecondLock() { return secondLock; }
  std::mutex& getQueryLock() const { return queryLock; }

 private:
  void installWrapper(std::unique_ptr<CQVVusersServicesWrapper> next);

  std::atomic<CQVVusersServices*> vusersServices{nullptr};
  // Replaced only while loading, under the scheduler lock and the query lock.
  std::shared_ptr<CQVVusersServicesWrapper> wrapper;
  bool byGroup = false;
  CQVSchedulerEventsManager* eventsManager = nullptr;
  std::shared_ptr<QVCriticalSection> schedulerLock;
  QVCriticalSection secondLock;
  mutable std::mutex queryLock;
};
