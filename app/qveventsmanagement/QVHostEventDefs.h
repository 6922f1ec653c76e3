// Event definitions raised by the host on the process-wide events manager:
// - CQVGroupFinishedRunningEventDef: the vusers of one group finished running;
// - CQVGroupAllVusersInitEventDef: all vusers of one group are initialized;
// - CQVScenarioAllVusersInitEventDef: all vusers of the scenario are initialized.
// The group ones match when of the same class with the same group name (exact, case-sensitive)
// and are ordered by group name; the scenario one carries no data and matches any other of its
// class. Plain values: copyable, no shared state.
#pragma once

#include "QVEventDef.h"

#include <string>

class CQVGroupFinishedRunningEventDef final : public CQVEventDef {
 public:
  explicit CQVGroupFinishedRunningEventDef(const std::string& groupName);

  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;
  std::size_t hash() const override;
  std::size_t cloneSize() const override { return sizeof(*this); }
  CQVEventDef* cloneAt(void* where) const override { return QVCloneAt(*this, where); }

  const std::string& getGroupName() const { return groupName_; }

 private:
  std::string groupName_;
};

class CQVGroupAllVusersInitEventDef final : public CQVEventDef {
 public:
  explicit CQVGroupAllVusersInitEventDef(const std::string& groupName);
  // A null name is taken as empty.
  explicit CQVGroupAllVusersInitEventDef(const char* groupName);

  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;
  bool lessThan(const CQVEventDef& other) const override;
  std::size_t hash() const override;
  std::size_t cloneSize() const override { return sizeof(*this); }
  CQVEventDef* cloneAt(void* where) const override { return QVCloneAt(*this, where); }

  const std::string& getGroupName() const { return groupName_; }

 private:
  std::string groupName_;
};

class CQVScenarioAllVusersInitEventDef : public CQVEventDef {
 public:
  CQVScenarioAllVusersInitEventDef() = default;

  CQVEventDef* clone() const override;
  std::string toString() const override;
  bool equals(const CQVEventDef& other) const override;    // always true
  bool lessThan(const CQVEventDef& other) const override;  // always false
};
