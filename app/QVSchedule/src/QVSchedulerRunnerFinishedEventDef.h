// Event: a scheduler runner finished. Every definition of this class equals every other; none orders before another.
#pragma once

#include "QVEventDef.h"

class CQVSchedulerRunnerFinishedEventDef : public CQVEventDef {
 public:
  CQVSchedulerRunnerFinishedEventDef() = default;
  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;
};
