#include "QVActionRunnerFinishedEventDef.h"

bool CQVActionRunnerFinishedEventDef::equals(const CQVEventDef& other) const {
  const auto* that = dynamic_cast<const CQVActionRunnerFinishedEventDef*>(&other);
  return that && that->actionId == actionId;
}

std::size_t CQVActionRunnerFinishedEventDef::hash() const { return static_cast<std::size_t>(actionId); }

bool CQVActionRunnerFinishedEventDef::lessThan(const CQVEventDef& other) const {
  const auto* that = dynamic_cast<const CQVActionRunnerFinishedEventDef*>(&other);
  return that && actionId < that->actionId;
}
