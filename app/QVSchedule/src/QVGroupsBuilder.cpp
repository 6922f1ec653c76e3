#include "QVGroupsBuilder.h"

#include "QVGroupBuilder.h"
#include "QVGroupContext.h"
#include "QVGroupRunner.h"
#include "QVSchedBaseBuilder.h"
#include "QVScheduleLog.h"
#include "QVScheduleServices.h"

#include <memory>
#include <vector>

QV_SOURCE_FILE("QVGroupsBuilder.cpp");

namespace {

// "occured" as these messages always read: hosts and log readers match the texts.
const char* const kMissingNode = "Error occured while parsing scheduler's XML - Missing node: %_1_s";

}  // namespace

bool CQVGroupsBuilder::buildSchedulerByGroups(CQVLoadTestSchedulerRunner& root, const QVXmlNode& groupsNode) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::buildSchedulerByGroups");
  if (!validateGroupsReferences(groupsNode)) {
    return false;
  }
  QVXmlNode initAllNode;
  if (!QVSelectDefinitionNode(groupsNode, "InitAllBeforeStart", initAllNode)) {
    QVScheduleLog().logErrorFormatted(kMissingNode, __LINE__, qvSourceFile, {"InitAllBeforeStart"});
    return false;
  }
  const bool initAllBeforeStart = initAllNode.text() == "true";
  for (const QVXmlNode& groupSchedulerNode : groupsNode.selectNodes("GroupScheduler")) {
    if (!buildSchedulerByGroup(root, groupSchedulerNode, initAllBeforeStart)) {
      return false;
    }
  }
  return true;
}

bool CQVGroupsBuilder::buildSchedulerByGroup(CQVLoadTestSchedulerRunner& root, const QVXmlNode& groupSchedulerNode,
                                             bool initAllBeforeStart) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::buildSchedulerByGroup");
  std::string groupName;
  if (!getGroupName(groupSchedulerNode, groupName)) {
    return false;
  }
  auto context = std::make_unique<CQVGroupContext>(groupName);
  if (services) {
    services->setScheduleByGroup();
  }
  // The runner owns its context; it is deleted here unless the root runner takes it.
  auto runner = std::make_unique<CQVGroupRunner>();
  runner->setServices(services);
  runner->setContext(context.release());
  CQVGroupBuilder builder(services, runner->getContext());
  const bool ok = builder.build(*runner, groupSchedulerNode, initAllBeforeStart);
  if (ok) {
    root.addSchedulerRunner(runner.release());
  }
  return ok;
}

bool CQVGroupsBuilder::getGroupName(const QVXmlNode& groupSchedulerNode, std::string& name) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::getGroupName");
  QVXmlNode nameNode;
  if (!QVSelectDefinitionNode(groupSchedulerNode, "GroupName", nameNode)) {
    QVScheduleLog().logErrorFormatted(kMissingNode, __LINE__, qvSourceFile, {"GroupName"});
    return false;
  }
  name = nameNode.text();
  return true;
}

bool CQVGroupsBuilder::getPreviousGroupName(const QVXmlNode& groupSchedulerNode, std::string& name) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::getPreviousGroupName");
  QVXmlNode startupMode;
  if (!QVSelectDefinitionNode(groupSchedulerNode, "StartupMode", startupMode)) {
    QVScheduleLog().logErrorFormatted(kMissingNode, __LINE__, qvSourceFile, {"StartupMode"});
    return false;
  }
  QVXmlNode startAfterGroup;
  name =
      QVSelectDefinitionNode(startupMode, "StartAfterGroup", startAfterGroup) ? startAfterGroup.text() : std::string();
  return true;
}

bool CQVGroupsBuilder::validateGroupsReferences(const QVXmlNode& groupsNode) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::validateGroupsReferences");
  GroupsReferences groupsReferences;
  GroupNames groupNames;
  return buildGroupsData(groupsNode, groupsReferences, groupNames) && validateGroups(groupsReferences, groupNames);
}

bool CQVGroupsBuilder::buildGroupsData(const QVXmlNode& groupsNode, GroupsReferences& groupsReferences,
                                       GroupNames& groupNames) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::buildGroupsData");
  const std::vector<QVXmlNode> groupSchedulers = groupsNode.selectNodes("GroupScheduler");
  if (groupSchedulers.empty()) {
    QVScheduleLog().logErrorFormatted("Error occured while parsing scheduler's XML - No GroupScheduler node is found",
                                      __LINE__, qvSourceFile);
    return false;
  }
  for (const QVXmlNode& groupSchedulerNode : groupSchedulers) {
    std::string name;
    std::string previous;
    if (!getGroupName(groupSchedulerNode, name) || !getPreviousGroupName(groupSchedulerNode, previous)) {
      return false;
    }
    // With several groups of one name, the first one's reference counts.
    groupsReferences.emplace(name, std::move(previous));
    groupNames.insert(std::move(name));
  }
  return true;
}

bool CQVGroupsBuilder::validateGroups(GroupsReferences& groupsReferences, const GroupNames& groupNames) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::validateGroups");
  bool valid = true;
  GroupNames visitedGroups;
  while (!groupsReferences.empty()) {
    visitedGroups.clear();
    valid = validateGroup(groupsReferences, groupNames, visitedGroups, groupsReferences.begin());
    if (!valid) {
      break;
    }
  }
  return valid;
}

bool CQVGroupsBuilder::validateGroup(GroupsReferences& groupsReferences, const GroupNames& groupNames,
                                     GroupNames& visitedGroups, GroupsReferences::iterator position) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::validateGroup");
  // Walks the chain of references one group at a time, so its length costs no stack.
  for (;;) {
    const std::string name = position->first;
    const std::string previous = std::move(position->second);
    groupsReferences.erase(position);
    visitedGroups.insert(name);
    if (previous.empty()) {
      return true;
    }
    if (visitedGroups.count(previous) != 0) {
      QVScheduleLog().logErrorFormatted(
          "Error occured while parsing scheduler's XML - loop of references between group schedulers.", __LINE__,
          qvSourceFile);
      return false;
    }
    const auto next = groupsReferences.find(previous);
    if (next == groupsReferences.end()) {
      // Examined in an earlier chain, or never defined.
      if (groupNames.count(previous) != 0) {
        return true;
      }
      QVScheduleLog().logErrorFormatted(
          "Error occured while parsing scheduler's XML - group scheduler %_1_s starts after non existing group %_2_s",
          __LINE__, qvSourceFile, {name, previous});
      return false;
    }
    position = next;
  }
}
