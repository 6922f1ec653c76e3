// Event: action actionId of the scenario schedule finished.
#pragma once

#include "QVActionRunnerFinishedEventDef.h"

class CQVScenarioActionRunnerFinishedEventDef : public CQVActionRunnerFinishedEventDef {
 public:
  explicit CQVScenarioActionRunnerFinishedEventDef(int actionId) : CQVActionRunnerFinishedEventDef(actionId) {}
  CQVEventDef* clone() const override;
  std::string toString() const override;
};
