// The stage record a host reads with CQVSchedulerFacade::getSchedulerStage: the current and next
// action stage, seconds to the next stage, vusers in the next batch (ALL_VUSERS for all), and
// whether a next stage exists. A plain value.
#pragma once

#include "QVActionStage.h"
#include "QVScheduleExport.h"

class QVSCHEDULE_EXPORT CQVSchedulerStage {
 public:
  static const int ALL_VUSERS = -999;

  CQVSchedulerStage();
  CQVSchedulerStage(const CQVSchedulerStage& other);
  CQVSchedulerStage& operator=(const CQVSchedulerStage& other);
  ~CQVSchedulerStage();

  bool operator==(const CQVSchedulerStage& other) const;

  QVActionStage getCurrActionStage() const { return currActionStage; }
  void setCurrActionStage(QVActionStage stage) { currActionStage = stage; }
  QVActionStage getNextActionStage() const { return nextActionStage; }
  void setNextActionStage(QVActionStage stage) { nextActionStage = stage; }
  long getSecondsToNextStage() const { return secondsToNextStage; }
  void setSecondsToNextStage(long seconds) { secondsToNextStage = static_cast<int>(seconds); }
  int getNumberOfVusersInNextBatch() const { return numberOfVusersInNextBatch; }
  void setNumberOfVusersInNextBatch(int number) { numberOfVusersInNextBatch = number; }
  bool hasNextStage() const { return nextStage; }
  void setHasNextStage(bool has) { nextStage = has; }

 private:
  void copy(const CQVSchedulerStage& other);

  QVActionStage currActionStage;
  QVActionStage nextActionStage;
  int secondsToNextStage;  // signed 32-bit
  int numberOfVusersInNextBatch;
  bool nextStage;
};
