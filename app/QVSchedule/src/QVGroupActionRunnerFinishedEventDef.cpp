#include "QVGroupActionRunnerFinishedEventDef.h"

CQVEventDef* CQVGroupActionRunnerFinishedEventDef::clone() const { return new CQVGroupActionRunnerFinishedEventDef(*this); }

std::string CQVGroupActionRunnerFinishedEventDef::toString() const {
  // Built as a string so that names of any length fit.
  return "CQVGroupActionRunnerFinishedEventDef: groupName = " + groupName + ", actionId = " + std::to_string(actionId);
}

bool CQVGroupActionRunnerFinishedEventDef::equals(const CQVEventDef& other) const {
  const auto* that = QVSameEventClass(*this, other);
  return that && that->groupName == groupName && that->actionId == actionId;
}

std::size_t CQVGroupActionRunnerFinishedEventDef::hash() const {
  return QVHashCombine(std::hash<std::string>()(groupName), static_cast<std::size_t>(actionId));
}

bool CQVGroupActionRunnerFinishedEventDef::lessThan(const CQVEventDef& other) const {
  const auto* that = QVSameEventClass(*this, other);
  if (!that) return false;
  const int byName = groupName.compare(that->groupName);
  return byName < 0 || (byName == 0 && actionId < that->actionId);
}
