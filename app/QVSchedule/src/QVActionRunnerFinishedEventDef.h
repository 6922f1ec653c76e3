// Event: the action with actionId (its 1-based place in its schedule) finished. Abstract: the
// scenario and group definitions derive from it. Equal to any such definition with the same id.
#pragma once

#include "QVEventDef.h"

class CQVActionRunnerFinishedEventDef : public CQVEventDef {
 public:
  explicit CQVActionRunnerFinishedEventDef(int actionId) : actionId(actionId) {}
  CQVEventDef* clone() const override = 0;
  std::string toString() const override = 0;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;
  std::size_t hash() const override;

  int getActionId() const { return actionId; }

 protected:
  int actionId;
};
