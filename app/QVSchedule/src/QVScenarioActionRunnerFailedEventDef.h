// Event: an action of the scenario schedule failed. Every definition of this class equals every other; none orders before another.
#pragma once

#include "QVEventDef.h"

class CQVScenarioActionRunnerFailedEventDef : public CQVEventDef {
 public:
  CQVScenarioActionRunnerFailedEventDef() = default;
  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;
};
