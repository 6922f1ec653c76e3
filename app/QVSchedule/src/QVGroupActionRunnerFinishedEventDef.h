// Event: action actionId of group groupName finished. Equal when group name (exact) and id are
// equal; ordered by group name, then id.
#pragma once

#include "QVActionRunnerFinishedEventDef.h"

#include <string>

class CQVGroupActionRunnerFinishedEventDef final : public CQVActionRunnerFinishedEventDef {
 public:
  CQVGroupActionRunnerFinishedEventDef(const std::string& groupName, int actionId)
      : CQVActionRunnerFinishedEventDef(actionId), groupName(groupName) {}
  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;
  std::size_t hash() const override;
  std::size_t cloneSize() const override { return sizeof(*this); }
  CQVEventDef* cloneAt(void* where) const override { return QVCloneAt(*this, where); }

  const std::string& getGroupName() const { return groupName; }

 private:
  std::string groupName;
};
