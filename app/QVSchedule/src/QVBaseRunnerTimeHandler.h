// Time handler of a runner: remembers that its time came and calls the runner back.
// Owned by the runner that created it; called on the timer thread under the scheduler lock.
#pragma once

#include "QVTimeHandler.h"

class CQVBaseRunner;

class CQVBaseRunnerTimeHandler final : public CQVTimeHandler {
 public:
  explicit CQVBaseRunnerTimeHandler(CQVBaseRunner* runner);
  ~CQVBaseRunnerTimeHandler();

  void onTime() override;
  bool hasTimeArrived() const { return timeArrived; }

 private:
  CQVBaseRunner* runner;
  bool timeArrived = false;
};
