// Event: a scheduler runner failed. failedRunner names it (not owned; null in definitions made
// only to register or unregister). Every definition of this class equals every other, whatever
// the runner; none orders before another.
//
// A failed group's runner also gives its group name, read while the runner is alive: the event
// may wait in a queue while another thread's stop or load deletes that runner, and a group that
// starts after it then reads the name, never the runner.
#pragma once

#include "QVEventDef.h"

#include <string>

class CQVSchedulerRunner;

class CQVSchedulerRunnerFailedEventDef : public CQVEventDef {
 public:
  explicit CQVSchedulerRunnerFailedEventDef(CQVSchedulerRunner* failedRunner = nullptr) : failedRunner(failedRunner) {}
  CQVSchedulerRunnerFailedEventDef(CQVSchedulerRunner* failedRunner, const std::string& failedGroupName)
      : failedRunner(failedRunner), groupName(failedGroupName), hasGroupName(true) {}
  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;

  CQVSchedulerRunner* getFailedRunner() const { return failedRunner; }
  // The failed group's name when the definition carries it, else null.
  const std::string* getFailedGroupName() const { return hasGroupName ? &groupName : nullptr; }

 private:
  CQVSchedulerRunner* failedRunner;
  std::string groupName;
  bool hasGroupName = false;
};
