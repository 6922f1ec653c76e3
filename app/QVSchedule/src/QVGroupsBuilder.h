// Builds a definition by groups (its "Groups" element): first checks the "StartAfterGroup"
// references of all groups together (every referenced group exists, no chain of references
// comes back to itself), then builds one group runner per "GroupScheduler", in document order,
// and hands each one to the root runner. The first group that fails to build ends the load; the
// groups attached before it stay.
#pragma once

#include "QVLoadTestSchedulerRunner.h"
#include "QVXmlDom.h"

#include <map>
#include <set>
#include <string>

class CQVScheduleServices;

class CQVGroupsBuilder {
 public:
  using GroupsReferences = std::map<std::string, std::string>;  // group name -> group it starts after
  using GroupNames = std::set<std::string>;

  explicit CQVGroupsBuilder(CQVScheduleServices* services) : services(services) {}

  bool buildSchedulerByGroups(CQVLoadTestSchedulerRunner& root, const QVXmlNode& groupsNode)
      QV_REQUIRES(QVSchedulerLock);
  bool buildSchedulerByGroup(CQVLoadTestSchedulerRunner& root, const QVXmlNode& groupSchedulerNode,
                             bool initAllBeforeStart) QV_REQUIRES(QVSchedulerLock);

  bool getGroupName(const QVXmlNode& groupSchedulerNode, std::string& name);
  // Empty when the group does not start after another group.
  bool getPreviousGroupName(const QVXmlNode& groupSchedulerNode, std::string& name);

  bool validateGroupsReferences(const QVXmlNode& groupsNode);
  bool buildGroupsData(const QVXmlNode& groupsNode, GroupsReferences& groupsReferences, GroupNames& groupNames);
  // Follows the chains from the smallest unexamined name on; stops at the first bad chain.
  bool validateGroups(GroupsReferences& groupsReferences, const GroupNames& groupNames);
  // Follows one chain from `position`, removing every examined group from `groupsReferences`.
  bool validateGroup(GroupsReferences& groupsReferences, const GroupNames& groupNames, GroupNames& visitedGroups,
                     GroupsReferences::iterator position);

 private:
  CQVScheduleServices* services;
};
