// Context of the scenario schedule. Every scenario context equals every other.
#pragma once

#include "QVContext.h"
#include "QVHostEventDefs.h"

class CQVScenarioContext : public CQVContext {
 public:
  CQVScenarioContext() = default;

  std::string getLogName() const override { return "SCENARIO @ "; }
  std::string getScheduleModeName() const override { return "by scenario"; }
  const CQVEventDef& getAllVusersInitEventDef() const override { return allVusersInitEventDef; }
  CQVEventDef* createActionFinishedEventDef(int actionId) const override;
  CQVEventDef* createActionFailedEventDef() const override;
  bool equals(const CQVContext& other) const override;

 private:
  CQVScenarioAllVusersInitEventDef allVusersInitEventDef;
};
