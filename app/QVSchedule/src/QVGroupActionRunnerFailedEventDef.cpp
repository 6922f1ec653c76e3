#include "QVGroupActionRunnerFailedEventDef.h"

CQVEventDef* CQVGroupActionRunnerFailedEventDef::clone() const { return new CQVGroupActionRunnerFailedEventDef(*this); }

std::string CQVGroupActionRunnerFailedEventDef::toString() const {
  return "CQVGroupActionRunnerFailedEventDef: groupName = " + groupName;
}

bool CQVGroupActionRunnerFailedEventDef::equals(const CQVEventDef& other) const {
  const auto* that = QVSameEventClass(*this, other);
  return that && that->groupName == groupName;
}

std::size_t CQVGroupActionRunnerFailedEventDef::hash() const { return std::hash<std::string>()(groupName); }

bool CQVGroupActionRunnerFailedEventDef::lessThan(const CQVEventDef& other) const {
  const auto* that = QVSameEventClass(*this, other);
  return that && groupName < that->groupName;
}
