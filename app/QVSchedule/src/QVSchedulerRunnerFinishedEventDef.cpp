#include "QVSchedulerRunnerFinishedEventDef.h"

CQVEventDef* CQVSchedulerRunnerFinishedEventDef::clone() const { return new CQVSchedulerRunnerFinishedEventDef(*this); }
std::string CQVSchedulerRunnerFinishedEventDef::toString() const { return "CQVSchedulerRunnerFinishedEventDef"; }
bool CQVSchedulerRunnerFinishedEventDef::equals(const CQVEventDef&) const { return true; }
bool CQVSchedulerRunnerFinishedEventDef::lessThan(const CQVEventDef&) const { return false; }
