// What every runner of a schedule shares at run time: the host's services (not owned), the one
// host adapter (owned; by scenario or by group), the scheduler events manager (owned until
// released; it deletes itself afterwards) and two locks.
//
// Locks (lock order: scheduler lock, second lock, then the timer lock):
// - scheduler lock: recursive; held by the timer thread for every notification pass, by the
//   events manager while it runs requests and deliveries, and by the controller around every host
//   call into the schedule (load, start, stop, pause, resume, queries). Shared with the events
//   manager and its timer so that it outlives a deferred deletion of the manager.
// - second lock: taken after the scheduler lock around deleting the runners.
#pragma once

#include "QVCriticalSection.h"
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
  void setScheduleByGroup();
  void setScheduleByScenario();
  bool isScheduleByGroup() const { return byGroup; }

  // Stores the host's services here and in the adapter; a null pointer changes nothing (false).
  bool setVusersServices(CQVVusersServices* services);
  CQVVusersServices* getVusersServices() const { return vusersServices.load(); }

  CQVVusersServicesWrapper* getWrapper() const { return wrapper.get(); }
  CQVSchedulerEventsManager* getEventsManager() const { return eventsManager; }
  QVCriticalSection& getSchedulerLock() { return *schedulerLock; }
  QVCriticalSection& getSecondLock() { return secondLock; }

 private:
  void installWrapper(std::unique_ptr<CQVVusersServicesWrapper> next);

  std::atomic<CQVVusersServices*> vusersServices{nullptr};
  std::unique_ptr<CQVVusersServicesWrapper> wrapper;  // replaced only while loading, under the scheduler lock
  bool byGroup = false;
  CQVSchedulerEventsManager* eventsManager = nullptr;
  std::shared_ptr<QVCriticalSection> schedulerLock;
  QVCriticalSection secondLock;
};
