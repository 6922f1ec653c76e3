// The interface a host implements so the scheduler can initialize, run and stop its virtual
// users. The scheduler never owns the host object. Every call is made from the scheduler's timer
// thread or an event-delivery thread with the scheduler lock held, or from the host's own thread
// inside start, pause, resume and stop; the host decides whether it must be thread-safe beyond that.
#pragma once

#include "QVScheduleExport.h"

#include <string>

class QVSCHEDULE_EXPORT CQVVusersServices {
 public:
  enum RunMode : int { RUN_UNTIL_COMPLETE = 0, RUN_INDEFINITELY = 1 };

  // Status codes of the vusers operations.
  static const int VUSERS_STATUS_SUCCEEDED = 0;
  static const int VUSERS_STATUS_FAILED = 1;
  static const int VUSERS_STATUS_NO_MORE_VUSERS = 2;
  static const int VUSERS_STATUS_ABANDONED = 3;

  CQVVusersServices();
  CQVVusersServices(const CQVVusersServices& other);
  CQVVusersServices& operator=(const CQVVusersServices& other);
  virtual ~CQVVusersServices();

  virtual void onSchedulerFinished() = 0;
  virtual void onSchedulerPaused() = 0;
  virtual void onSchedulerResumed() = 0;
  virtual void onGroupFinished(const std::string& groupName) = 0;

  // Whole scenario.
  virtual int initAllVusers(RunMode runMode) = 0;
  virtual int initVusers(long count, RunMode runMode) = 0;
  virtual int runAllVusers(RunMode runMode) = 0;
  virtual int runVusers(RunMode runMode, long count) = 0;
  virtual int stopAllVusers() = 0;
  virtual int stopVusers(long count) = 0;
  virtual int canStartDuration() = 0;
  virtual bool isInFinalStage() = 0;

  // One vuser group.
  virtual int initAllGroupVusers(const std::string& groupName, RunMode runMode) = 0;
  virtual int initGroupVusers(const std::string& groupName, long count, RunMode runMode) = 0;
  virtual int runAllGroupVusers(const std::string& groupName, RunMode runMode) = 0;
  virtual int runGroupVusers(const std::string& groupName, RunMode runMode, long count) = 0;
  virtual int stopAllGroupVusers(const std::string& groupName) = 0;
  virtual int stopGroupVusers(const std::string& groupName, long count) = 0;
  virtual int canStartGroupDuration(const std::string& groupName) = 0;
};
