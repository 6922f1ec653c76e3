// Time handler map whose keys are absolute due times (now + relative time). Drives the timer
// while the schedule runs. Not thread-safe: used under the timer lock.
#pragma once

#include "QVBaseTimeHandlersMap.h"

class CQVAbsTimeHandlersMap : public CQVBaseTimeHandlersMap {
 public:
  CQVAbsTimeHandlersMap() = default;
  ~CQVAbsTimeHandlersMap() = default;

  void addTimeHandlerByRelTime(long relSeconds, CQVTimeHandler* handler, bool& isFirst) override;
  void addTimeHandlerByRelTime(const ULARGE_INTEGER& relTime, CQVTimeHandler* handler, bool& isFirst) override;
  void addTimeHandlersByRelTime(const ULARGE_INTEGER& relTime, std::unique_ptr<CQVTimeHandlerList> handlers) override;
  ULARGE_INTEGER getCurrRelTime() override;
  ULARGE_INTEGER getCurrAbsTime() override;
  bool getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) override;
};
