#include "QVGroupContext.h"

#include "QVGroupActionRunnerFailedEventDef.h"
#include "QVGroupActionRunnerFinishedEventDef.h"

CQVGroupContext::CQVGroupContext(const std::string& groupName)
    : groupName(groupName), allVusersInitEventDef(groupName) {}

CQVGroupContext::CQVGroupContext(const char* groupName)
    : groupName(groupName ? groupName : ""), allVusersInitEventDef(this->groupName) {}

CQVEventDef* CQVGroupContext::createActionFinishedEventDef(int actionId) const {
  return new CQVGroupActionRunnerFinishedEventDef(groupName, actionId);
}

CQVEventDef* CQVGroupContext::createActionFailedEventDef() const {
  return new CQVGroupActionRunnerFailedEventDef(groupName);
}

bool CQVGroupContext::equals(const CQVContext& other) const {
  const auto* that = dynamic_cast<const CQVGroupContext*>(&other);
  return that && that->groupName == groupName;
}
