// Event: an action of group groupName failed. Equal when the group names are equal (exact);
// ordered by group name.
#pragma once

#include "QVEventDef.h"

#include <string>

class CQVGroupActionRunnerFailedEventDef final : public CQVEventDef {
 public:
  explicit CQVGroupActionRunnerFailedEventDef(const std::string& groupName) : groupName(groupName) {}
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
