// Builds a definition by groups (its "Groups" element): first checks the "StartAfterGroup"
// references of all groups together (every referenced group exists, no chain of references
// comes back to itself), then builds one group runner per "GroupScheduler", in document order,
// and hands each one to the root runner. The first group that fails to build ends the load; the
// groups attached before it stay. Once all are built, warns about groups that can never start.
#pragma once

#include "QVLoadTestSchedulerRunner.h"
#include "QVXmlDom.h"

#include <map>
#include <set>
#include <string>
#include <vector>

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
  // What a built group tells about its start, for the groups that can never start.
  struct BuiltGroup {
    std::string name;
    std::string previous;      // the group it starts after; empty when it starts otherwise
    bool leavesVusersRunning;  // so it never finishes running
    QVXmlNode node;            // its GroupScheduler
  };

  // The StartAfterGroup element of the first group named `name` (its GroupScheduler when it has
  // none; a null node when the name is unknown), for the message of a refused reference.
  QVXmlNode referenceNode(const std::string& name) const;
  // A group waiting for a group that does not exist, never finishes running or never starts.
  void warnGroupsThatNeverStart();

  CQVScheduleServices* services;
  QVXmlNode validatedGroups;    // the Groups element buildGroupsData read last
  bool repeatedNames = false;  // two of its groups have the same name
  std::vector<BuiltGroup> builtGroups;
};
