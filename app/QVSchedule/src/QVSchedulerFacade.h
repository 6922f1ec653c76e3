// The library's whole interface towards the host: static functions over one process-wide
// scheduler, callable from any host thread (the schedule runs on the library's timer thread and on
// events). The queries (isRunning, isPaused, the run times and run modes, getSchedulerStage)
// answer at once at any time, also while another thread is inside a host call or a load; the
// stage may ask the host's isInFinalStage. Loading, start, stop, pause, resume and
// setVusersServices wait while another thread is inside a host call (the scheduler makes host
// calls one at a time) or a load; from inside a host call they run at once. The host hears of the
// schedule's end, pause, resume and finished groups through its CQVVusersServices object.
#pragma once

#include "QVScheduleExport.h"
#include "QVSchedulerStage.h"
#include "QVVusersServices.h"

#include <string>

class QVSCHEDULE_EXPORT CQVSchedulerFacade {
 public:
  CQVSchedulerFacade& operator=(const CQVSchedulerFacade&) { return *this; }

  // The host's services (not owned; must outlive the scheduler's use). False for null.
  static bool setVusersServices(CQVVusersServices* services);
  // Load a definition (a file path or the XML text); replaces any loaded or running schedule.
  static bool setXMLFile(const char* path);
  static bool setXMLString(const char* xml);
  static bool start();
  // Stops and discards the schedule; load again before the next start.
  static bool stop();
  static bool pause();
  static bool resume();
  static bool isRunning();
  static bool isPaused();
  // Seconds the scenario (or group) has run, pauses excluded. False when there is no such runner.
  static bool getScenarioRunTime(long& seconds);
  static bool getGroupRunTime(const std::string& groupName, long& seconds);
  // Current and next stage of a schedule with exactly one scheduler runner.
  static bool getSchedulerStage(CQVSchedulerStage& stage);
  static bool GetScenarioRunMode(CQVVusersServices::RunMode& mode);
  static bool GetGroupRunMode(const std::string& groupName, CQVVusersServices::RunMode& mode);
};
