#include "QVSchedulerRunnerFailedEventDef.h"

CQVEventDef* CQVSchedulerRunnerFailedEventDef::clone() const { return new CQVSchedulerRunnerFailedEventDef(*this); }
std::string CQVSchedulerRunnerFailedEventDef::toString() const { return "CQVSchedulerRunnerFailedEventDef"; }
bool CQVSchedulerRunnerFailedEventDef::equals(const CQVEventDef&) const { return true; }
bool CQVSchedulerRunnerFailedEventDef::lessThan(const CQVEventDef&) const { return false; }
