#include "QVHostEventDefs.h"

CQVGroupFinishedRunningEventDef::CQVGroupFinishedRunningEventDef(const std::string& groupName)
    : groupName_(groupName) {}

CQVEventDef* CQVGroupFinishedRunningEventDef::clone() const {
  return new CQVGroupFinishedRunningEventDef(*this);
}

std::string CQVGroupFinishedRunningEventDef::toString() const {
  return "CQVGroupFinishedRunningEventDef: groupName = " + groupName_;
}

bool CQVGroupFinishedRunningEventDef::equals(const CQVEventDef& other) const {
  const auto* same = QVSameEventClass(*this, other);
  return same != nullptr && same->groupName_ == groupName_;
}

std::size_t CQVGroupFinishedRunningEventDef::hash() const { return std::hash<std::string>()(groupName_); }

bool CQVGroupFinishedRunningEventDef::lessThan(const CQVEventDef& other) const {
  const auto* same = QVSameEventClass(*this, other);
  return same != nullptr && groupName_ < same->groupName_;
}

CQVGroupAllVusersInitEventDef::CQVGroupAllVusersInitEventDef(const std::string& groupName)
    : groupName_(groupName) {}

CQVGroupAllVusersInitEventDef::CQVGroupAllVusersInitEventDef(const char* groupName)
    : groupName_(groupName != nullptr ? groupName : "") {}

CQVEventDef* CQVGroupAllVusersInitEventDef::clone() const {
  return new CQVGroupAllVusersInitEventDef(*this);
}

std::string CQVGroupAllVusersInitEventDef::toString() const {
  return "CQVGroupAllVusersInitEventDef: groupName = " + groupName_;
}

bool CQVGroupAllVusersInitEventDef::equals(const CQVEventDef& other) const {
  const auto* same = QVSameEventClass(*this, other);
  return same != nullptr && same->groupName_ == groupName_;
}

std::size_t CQVGroupAllVusersInitEventDef::hash() const { return std::hash<std::string>()(groupName_); }

bool CQVGroupAllVusersInitEventDef::lessThan(const CQVEventDef& other) const {
  const auto* same = QVSameEventClass(*this, other);
  return same != nullptr && groupName_ < same->groupName_;
}

CQVEventDef* CQVScenarioAllVusersInitEventDef::clone() const {
  return new CQVScenarioAllVusersInitEventDef(*this);
}

std::string CQVScenarioAllVusersInitEventDef::toString() const {
  return "CQVScenarioAllVusersInitEventDef";
}

bool CQVScenarioAllVusersInitEventDef::equals(const CQVEventDef&) const { return true; }

bool CQVScenarioAllVusersInitEventDef::lessThan(const CQVEventDef&) const { return false; }
