// Time handler map whose keys are remaining durations. Holds every registration while the
// schedule is paused. Not thread-safe: used under the timer lock.
#pragma once

#include "QVBaseTimeHandlersMap.h"

class CQVRelTimeHandlersMap : public CQVBaseTimeHandlersMap {
 public:
  CQVRelTimeHandlersMap() = default;
  ~CQVRelTimeHandlersMap() = default;

  void addTimeHandlerByRelTime(long relSeconds, CQVTimeHandler* handler, bool& isFirst) override;
  void addTimeHandlerByRelTime(const ULARGE_INTEGER& relTime, CQVTimeHandler* handler, bool& isFirst) override;
  void addTimeHandlersByRelTime(const ULARGE_INTEGER& relTime, std::unique_ptr<CQVTimeHandlerList> handlers) override;
  ULARGE_INTEGER getCurrRelTime() override;
  ULARGE_INTEGER getCurrAbsTime() override;
  // A registration that was overdue when it was moved here (negative remaining time) answers 0.
  bool getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) override;
};
