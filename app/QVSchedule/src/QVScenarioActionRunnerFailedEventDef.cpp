#include "QVScenarioActionRunnerFailedEventDef.h"

CQVEventDef* CQVScenarioActionRunnerFailedEventDef::clone() const { return new CQVScenarioActionRunnerFailedEventDef(*this); }
std::string CQVScenarioActionRunnerFailedEventDef::toString() const { return "CQVScenarioActionRunnerFailedEventDef"; }
bool CQVScenarioActionRunnerFailedEventDef::equals(const CQVEventDef&) const { return true; }
bool CQVScenarioActionRunnerFailedEventDef::lessThan(const CQVEventDef&) const { return false; }
