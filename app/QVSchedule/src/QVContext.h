// Whose schedule a runner belongs to: the whole scenario or one vuser group. Carries the run
// mode, names the schedule in log lines, holds the host's all-vusers-initialized definition for
// it and makes the action-finished and action-failed definitions of that schedule.
// Owned by its scheduler runner; action runners only refer to it.
#pragma once

#include "QVEventDef.h"
#include "QVVusersServices.h"

#include <string>

class CQVContext {
 public:
  CQVContext() = default;
  CQVContext(const CQVContext&) = default;
  CQVContext& operator=(const CQVContext&) = default;
  virtual ~CQVContext() = default;

  // Opens log lines: "SCENARIO @ " or "GROUP @ <name>".
  virtual std::string getLogName() const = 0;
  virtual std::string getScheduleModeName() const = 0;
  // The host's all-vusers-initialized definition of this schedule (owned by the context).
  virtual const CQVEventDef& getAllVusersInitEventDef() const = 0;
  // New definitions, owned by the caller.
  virtual CQVEventDef* createActionFinishedEventDef(int actionId) const = 0;
  virtual CQVEventDef* createActionFailedEventDef() const = 0;
  // Same schedule; callers compare dynamic types first.
  virtual bool equals(const CQVContext& other) const = 0;

  CQVVusersServices::RunMode runMode = CQVVusersServices::RUN_INDEFINITELY;
};
