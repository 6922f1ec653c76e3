// Context of one vuser group's schedule. Equal to another group context of the same name.
#pragma once

#include "QVContext.h"
#include "QVHostEventDefs.h"

#include <string>

class CQVGroupContext : public CQVContext {
 public:
  explicit CQVGroupContext(const std::string& groupName);
  explicit CQVGroupContext(const char* groupName);

  std::string getLogName() const override { return "GROUP @ " + groupName; }
  std::string getScheduleModeName() const override { return "by group " + groupName; }
  const CQVEventDef& getAllVusersInitEventDef() const override { return allVusersInitEventDef; }
  CQVEventDef* createActionFinishedEventDef(int actionId) const override;
  CQVEventDef* createActionFailedEventDef() const override;
  bool equals(const CQVContext& other) const override;

  const std::string& getGroupName() const { return groupName; }

 private:
  std::string groupName;
  CQVGroupAllVusersInitEventDef allVusersInitEventDef;
};
