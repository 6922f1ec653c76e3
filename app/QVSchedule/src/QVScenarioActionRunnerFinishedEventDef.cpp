#include "QVScenarioActionRunnerFinishedEventDef.h"

CQVEventDef* CQVScenarioActionRunnerFinishedEventDef::clone() const {
  return new CQVScenarioActionRunnerFinishedEventDef(*this);
}

std::string CQVScenarioActionRunnerFinishedEventDef::toString() const {
  return "CQVScenarioActionRunnerFinishedEventDef: actionId = " + std::to_string(actionId);
}
