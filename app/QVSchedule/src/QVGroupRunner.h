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

  void registerOnStartCondition() override QV_REQUIRES(QVSchedulerLock);
  bool beforeStartRunning() override QV_REQUIRES(QVSchedulerLock);
  bool setFinishedRunning() override QV_REQUIRES(QVSchedulerLock);
  void unregisterOnEvents() override QV_REQUIRES(QVSchedulerLock);
  void onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) override QV_REQUIRES(QVSchedulerLock);

  void setPreviousGroupName(std::string name);
  const std::string& getPreviousGroupName() const { return previousGroupName; }
  std::string getGroupName() const;

  bool registerOnPrevGroupFailedEventHandler() QV_REQUIRES(QVSchedulerLock);
  void unregisterOnPrevGroupFailedEventHandler() QV_REQUIRES(QVSchedulerLock);
  void unregisterOnGroupFinishedEventHandler() QV_REQUIRES(QVSchedulerLock);

 private:
  CQVBaseRunnerEventHandler* groupFinishedHandler = nullptr;
  CQVBaseRunnerEventHandler* prevGroupFailedHandler = nullptr;
  std::string previousGroupName;
  bool finishReported QV_GUARDED_BY(QVSchedulerLock) = false;  // onGroupFinished was sent
};
