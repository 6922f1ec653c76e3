#include "QVScenarioContext.h"

#include "QVScenarioActionRunnerFailedEventDef.h"
#include "QVScenarioActionRunnerFinishedEventDef.h"

CQVEventDef* CQVScenarioContext::createActionFinishedEventDef(int actionId) const {
  return new CQVScenarioActionRunnerFinishedEventDef(actionId);
}

CQVEventDef* CQVScenarioContext::createActionFailedEventDef() const { return new CQVScenarioActionRunnerFailedEventDef(); }

bool CQVScenarioContext::equals(const CQVContext&) const { return true; }
