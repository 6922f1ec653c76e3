// Event: a scheduler runner failed. failedRunner names it (not owned; null in definitions made
// only to register or unregister). Every definition of this class equals every other, whatever
// the runner; none orders before another.
#pragma once

#include "QVEventDef.h"

class CQVSchedulerRunner;

class CQVSchedulerRunnerFailedEventDef : public CQVEventDef {
 public:
  explicit CQVSchedulerRunnerFailedEventDef(CQVSchedulerRunner* failedRunner = nullptr) : failedRunner(failedRunner) {}
  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;

  CQVSchedulerRunner* getFailedRunner() const { return failedRunner; }

 private:
  CQVSchedulerRunner* failedRunner;
};
