// The process-wide controller behind the facade: the root runner and the schedule services.
// Created by the first facade call, never destroyed. Every operation runs on the calling host
// thread and holds the scheduler lock, so host calls never interleave with timer or event
// callbacks (the lock is recursive: a host may call back into the facade from a callback).
#pragma once

#include "QVLoadTestSchedulerRunner.h"
#include "QVScheduleServices.h"
#include "QVSchedulerStage.h"

#include <mutex>
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
  // Takes the scheduler lock and deletes runners a host stopped from inside one of its callbacks.
  std::unique_lock<QVCriticalSection> lockSchedule();

  CQVLoadTestSchedulerRunner root;
  CQVScheduleServices services;
};
