// The process-wide controller behind the facade: the root runner and the schedule services.
// Created by the first facade call, never destroyed. Every operation runs on the calling host
// thread. Loading, start, stop, pause and resume hold the scheduler lock, so they never interleave
// with timer or event callbacks (the lock is recursive: a host may call back into the facade from
// a callback); they wait while another thread is inside a host call. The queries take no
// scheduler lock: they answer at once from the running and paused flags (atomic) or under the
// services' query lock (the root runner's queries).
#pragma once

#include "QVLoadTestSchedulerRunner.h"
#include "QVScheduleLocks.h"
#include "QVScheduleServices.h"
#include "QVSchedulerStage.h"

#include <string>

class CQVScheduler {
 public:
  static CQVScheduler* getInstance();

  CQVScheduler();
  CQVScheduler(const CQVScheduler&) = delete;
  CQVScheduler& operator=(const CQVScheduler&) = delete;

  bool setVusersServices(CQVVusersServices* services);
  bool setXMLFile(const char* path);
  bool setXMLString(const char* xml);
  bool start();
  bool stop();
  bool pause();
  bool resume();
  bool isRunning();
  bool isPaused();
  bool getScenarioRunTime(long& seconds);
  bool getGroupRunTime(const std::string& groupName, long& seconds);
  bool getSchedulerStage(CQVSchedulerStage& stage);
  bool getScenarioRunMode(CQVVusersServices::RunMode& mode);
  bool getGroupRunMode(const std::string& groupName, CQVVusersServices::RunMode& mode);

  CQVLoadTestSchedulerRunner& getRoot() { return root; }
  CQVScheduleServices& getServices() { return services; }

 private:
  class ScheduleLock;

  enum class Source { File, Text };
  // Stops the schedule and builds the definition of `source` (a path or the text) with the
  // queries kept away from the half-built schedule.
  bool load(const char* source, Source kind);

  CQVLoadTestSchedulerRunner root;
  CQVScheduleServices services;
};
