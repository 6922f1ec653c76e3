#include "QVGroupsBuilder.h"

#include "QVDefinitionReport.h"
#include "QVDefinitionVocabulary.h"
#include "QVGroupBuilder.h"
#include "QVGroupContext.h"
#include "QVGroupRunner.h"
#include "QVSchedBaseBuilder.h"
#include "QVScheduleLog.h"
#include "QVScheduleServices.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

QV_SOURCE_FILE("QVGroupsBuilder.cpp");

namespace {

// "occured" as these messages always read: hosts and log readers match the texts.
const char* const kMissingNode = "Error occured while parsing scheduler's XML - Missing node: %_1_s";

// "a -> b -> a".
std::string chainText(const std::vector<std::string>& chain) {
  std::string text;
  for (const std::string& name : chain) text += (text.empty() ? "" : " -> ") + name;
  return text;
}

// A group name of the definition, with the names there are (the first ten) and a near one.
std::string expectedGroupName(const CQVGroupsBuilder::GroupNames& groupNames, const std::string& found) {
  std::vector<std::string> names(groupNames.begin(), groupNames.end());
  const std::string near = QVNearestName(found, names);
  if (names.size() > 10) {
    names.resize(10);
    names.push_back("...");
  }
  std::string text = "the GroupName of a group of this Groups element: " + QVListOfNames(names);
  return near.empty() ? text : text + "; did you mean " + near + "?";
}

}  // namespace

bool CQVGroupsBuilder::buildSchedulerByGroups(CQVLoadTestSchedulerRunner& root, const QVXmlNode& groupsNode) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::buildSchedulerByGroups");
  if (!validateGroupsReferences(groupsNode)) {
    return false;
  }
  QVXmlNode initAllNode;
  if (!QVSelectDefinitionNode(groupsNode, "InitAllBeforeStart", initAllNode)) {
    QVScheduleLog().logErrorFormatted(kMissingNode, __LINE__, qvSourceFile, {"InitAllBeforeStart"});
    QVDefinitionError(groupsNode, QVFormatPositional(kMissingNode, {"InitAllBeforeStart"}), "",
                      QVExpectedChild(groupsNode, {"InitAllBeforeStart"}, ": true or false"));
    return false;
  }
  const bool initAllBeforeStart = initAllNode.text() == "true";
  if (!initAllBeforeStart && initAllNode.text() != "false") {
    QVDefinitionWarning(initAllNode, "InitAllBeforeStart \"" + initAllNode.text() + "\" means false: only the exact "
                                     "text true means true", initAllNode.text(), "true or false");
  }
  builtGroups.clear();
  for (const QVXmlNode& groupSchedulerNode : groupsNode.selectNodes("GroupScheduler")) {
    if (!buildSchedulerByGroup(root, groupSchedulerNode, initAllBeforeStart)) {
      return false;
    }
  }
  // Without a group that leaves its vusers running, every reference that the validation checked
  // is to a group that ends; only a repeated name can hide one that was not checked.
  const bool anyLeavesRunning = std::any_of(builtGroups.begin(), builtGroups.end(),
                                            [](const BuiltGroup& group) { return group.leavesVusersRunning; });
  if (anyLeavesRunning || repeatedNames) warnGroupsThatNeverStart();
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
    builtGroups.push_back(BuiltGroup{groupName, runner->getPreviousGroupName(), builder.leavesVusersRunning(),
                                     groupSchedulerNode});
    root.addSchedulerRunner(runner.release());
  }
  return ok;
}

bool CQVGroupsBuilder::getGroupName(const QVXmlNode& groupSchedulerNode, std::string& name) {
  QV_TRACE_SCOPE("CQVGroupsBuilder::getGroupName");
  QVXmlNode nameNode;
  if (!QVSelectDefinitionNode(groupSchedulerNode, "GroupName", nameNode)) {
    QVScheduleLog().logErrorFormatted(kMissingNode, __LINE__, qvSourceFile, {"GroupName"});
    QVDefinitionError(groupSchedulerNode, QVFormatPositional(kMissingNode, {"GroupName"}), "",
                      QVExpectedChild(groupSchedulerNode, {"GroupName"}));
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
    QVDefinitionError(groupSchedulerNode, QVFormatPositional(kMissingNode, {"StartupMode"}), "",
                      QVExpectedChild(groupSchedulerNode, {"StartupMode"},
                                      " holding StartAtScenarioBegining, StartIntervalAfterScenarioBeginning or "
                                      "StartAfterGroup"));
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
  validatedGroups = groupsNode;
  repeatedNames = false;
  if (groupSchedulers.empty()) {
    const char* const noGroup = "Error occured while parsing scheduler's XML - No GroupScheduler node is found";
    QVScheduleLog().logErrorFormatted(noGroup, __LINE__, qvSourceFile);
    QVDefinitionError(groupsNode, noGroup, "", QVExpectedChild(groupsNode, {"GroupScheduler"}, ", one per group"));
    return false;
  }
  for (const QVXmlNode& groupSchedulerNode : groupSchedulers) {
    std::string name;
    std::string previous;
    if (!getGroupName(groupSchedulerNode, name) || !getPreviousGroupName(groupSchedulerNode, previous)) {
      return false;
    }
    // With several groups of one name, the first one's reference counts.
    if (!groupsReferences.emplace(name, std::move(previous)).second) {
      repeatedNames = true;
      QVDefinitionWarning(groupSchedulerNode.childElement("GroupName"),
                          "group name \"" + name + "\" is used by an earlier group too: both groups are built, and "
                          "only the first one's StartAfterGroup is checked",
                          name, "a name of its own for every group");
    }
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
  std::vector<std::string> chain;
  for (;;) {
    const std::string name = position->first;
    const std::string previous = std::move(position->second);
    groupsReferences.erase(position);
    visitedGroups.insert(name);
    chain.push_back(name);
    if (previous.empty()) {
      return true;
    }
    if (visitedGroups.count(previous) != 0) {
      const char* const loop =
          "Error occured while parsing scheduler's XML - loop of references between group schedulers.";
      QVScheduleLog().logErrorFormatted(loop, __LINE__, qvSourceFile);
      chain.push_back(previous);
      QVDefinitionError(referenceNode(name), loop, previous,
                        "a group that does not wait for " + name + ", directly or through others; the chain: " +
                            chainText(chain));
      return false;
    }
    const auto next = groupsReferences.find(previous);
    if (next == groupsReferences.end()) {
      // Examined in an earlier chain, or never defined.
      if (groupNames.count(previous) != 0) {
        return true;
      }
      const char* const missing =
          "Error occured while parsing scheduler's XML - group scheduler %_1_s starts after non existing group %_2_s";
      QVScheduleLog().logErrorFormatted(missing, __LINE__, qvSourceFile, {name, previous});
      QVDefinitionError(referenceNode(name), QVFormatPositional(missing, {name, previous}), previous,
                        expectedGroupName(groupNames, previous));
      return false;
    }
    position = next;
  }
}

QVXmlNode CQVGroupsBuilder::referenceNode(const std::string& name) const {
  if (!validatedGroups) return QVXmlNode();
  for (QVXmlNode group = validatedGroups.childElement("GroupScheduler"); group;
       group = group.nextSiblingElement("GroupScheduler")) {
    const QVXmlNode groupName = group.childElement("GroupName");
    if (!groupName || groupName.text() != name) continue;
    const QVXmlNode startupMode = group.childElement("StartupMode");
    const QVXmlNode reference = startupMode ? startupMode.childElement("StartAfterGroup") : QVXmlNode();
    return reference ? reference : group;
  }
  return QVXmlNode();
}

void CQVGroupsBuilder::warnGroupsThatNeverStart() {
  // The first group of each name answers for the name, as its finished event does for all.
  std::unordered_map<std::string_view, std::size_t> firstOfName;
  for (std::size_t i = 0; i < builtGroups.size(); ++i) firstOfName.emplace(builtGroups[i].name, i);
  enum class Start { Unknown, Starts, Never };
  std::vector<Start> start(builtGroups.size(), Start::Unknown);
  std::vector<std::string> why(builtGroups.size());
  for (std::size_t i = 0; i < builtGroups.size(); ++i) {
    // Follows the chain of references to a group whose start is known, then settles the chain
    // backwards. The references of the first groups of each name hold no loop (validated).
    std::vector<std::size_t> chain;
    for (std::size_t g = i; start[g] == Start::Unknown && chain.size() <= builtGroups.size();) {
      chain.push_back(g);
      const std::string& previous = builtGroups[g].previous;
      const auto waited = firstOfName.find(previous);
      if (previous.empty()) {
        start[g] = Start::Starts;
      } else if (waited == firstOfName.end()) {
        start[g] = Start::Never;
        why[g] = "group " + previous + " does not exist";
      } else if (builtGroups[waited->second].leavesVusersRunning) {
        start[g] = Start::Never;
        why[g] = "group " + previous + " never finishes running: its schedule ends with its vusers running";
      } else {
        g = waited->second;
      }
    }
    for (auto g = chain.rbegin(); g != chain.rend(); ++g) {
      if (start[*g] != Start::Unknown) continue;
      const std::size_t waited = firstOfName.at(builtGroups[*g].previous);
      start[*g] = start[waited] == Start::Never ? Start::Never : Start::Starts;
      if (start[*g] == Start::Never) why[*g] = "group " + builtGroups[waited].name + " can never start either";
    }
  }
  for (std::size_t i = 0; i < builtGroups.size(); ++i) {
    if (start[i] != Start::Never) continue;
    const BuiltGroup& group = builtGroups[i];
    const QVXmlNode startupMode = group.node.childElement("StartupMode");
    QVDefinitionWarning(startupMode ? startupMode.childElement("StartAfterGroup") : group.node,
                        "group " + group.name + " can never start: it waits for group " + group.previous +
                            " to finish running, and " + why[i],
                        group.previous,
                        "a group that ends: one that stops its vusers at the end (StopAll, RampDownAll) or runs "
                        "until they complete");
  }
}
