// The scheduler runner of one vuser group (context: CQVGroupContext). Adds to the scheduler
// runner: failing when the group it starts after fails, telling the host when the group has
// finished (onGroupFinished, once, only on success), and the group's Started/Finished test-log
// lines. Threads: as CQVSchedulerRunner.
#pragma once

#include "QVSchedulerRunner.h"

#include <string>

class CQVGroupRunner : public CQVSchedulerRunner {
 public:
  CQVGroupRunner() = default;
  ~CQVGroupRunner() override;

  void registerOnStartCondition() override;
  bool beforeStartRunning() override;
  bool setFinishedRunning() override;
  void unregisterOnEvents() override;
  void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) override;

  void setPreviousGroupName(std::string name);
  const std::string& getPreviousGroupName() const { return previousGroupName; }
  std::string getGroupName() const;

  bool registerOnPrevGroupFailedEventHandler();
  void unregisterOnPrevGroupFailedEventHandler();
  void unregisterOnGroupFinishedEventHandler();

 private:
  CQVBaseRunnerEventHandler* groupFinishedHandler = nullptr;
  CQVBaseRunnerEventHandler* prevGroupFailedHandler = nullptr;
  std::string previousGroupName;
  bool finishReported = false;  // onGroupFinished was sent; under the scheduler lock
};
