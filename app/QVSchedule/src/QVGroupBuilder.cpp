#include "QVGroupBuilder.h"

#include "QVDefinitionReport.h"
#include "QVDefinitionVocabulary.h"
#include "QVHostEventDefs.h"
#include "QVInitAllVusersActionRunner.h"
#include "QVRunDurationActionRunner.h"
#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVGroupBuilder.cpp");

namespace {

std::string groupName(const QVXmlNode& groupSchedulerNode) {
  const QVXmlNode name = groupSchedulerNode.childElement("GroupName");
  return name ? name.text() : std::string("(unnamed)");
}

// The names of the child elements of `node`, for a message: "A, B".
std::string childNames(const QVXmlNode& node) {
  std::string names;
  for (QVXmlNode child = node.firstChild(); child; child = child.nextSibling()) {
    if (child.isElement()) names += (names.empty() ? "" : ", ") + child.nodeName();
  }
  return names;
}

}  // namespace

CQVGroupBuilder::CQVGroupBuilder(CQVScheduleServices* services, CQVContext* context)
    : CQVSchedBaseBuilder(services, context) {}

CQVGroupBuilder::~CQVGroupBuilder() = default;

bool CQVGroupBuilder::build(CQVGroupRunner& runner, const QVXmlNode& groupSchedulerNode, bool initAllBeforeStart) {
  QV_TRACE_SCOPE("CQVGroupBuilder::build");
  this->initAllBeforeStart = initAllBeforeStart;
  return buildScheduling(groupSchedulerNode, runner);
}

bool CQVGroupBuilder::buildPreSchedulingData(CQVSchedulerRunner& runner, const QVXmlNode& groupSchedulerNode) {
  QV_TRACE_SCOPE("CQVGroupBuilder::buildPreSchedulingData");
  QVXmlNode scheduling;
  if (!QVSelectDefinitionNode(groupSchedulerNode, "Scheduling", scheduling)) {
    QVDefinitionError(groupSchedulerNode, "the GroupScheduler of group " + groupName(groupSchedulerNode) +
                                              " has no Scheduling",
                      "", QVExpectedChild(groupSchedulerNode, {"Scheduling"}));
    return false;
  }
  auto* groupRunner = dynamic_cast<CQVGroupRunner*>(&runner);
  if (!groupRunner) {
    return false;
  }
  if (initAllBeforeStart) {
    // The initialization runs at once; the start conditions go to the action after it.
    if (!buildSchedulerInitialization(scheduling, runner)) {
      return false;
    }
    if (runner.getActionRunners().empty() &&
        !initActionRunner(std::make_unique<CQVInitAllVusersActionRunner>(), 0, runner)) {
      return false;
    }
    initializationAdded = true;
    return buildStartCondition(groupSchedulerNode, *groupRunner);
  }
  if (!buildStartCondition(groupSchedulerNode, *groupRunner)) {
    return false;
  }
  return buildSchedulerInitialization(scheduling, runner);
}

bool CQVGroupBuilder::buildStartCondition(const QVXmlNode& groupSchedulerNode, CQVGroupRunner& runner) {
  QV_TRACE_SCOPE("CQVGroupBuilder::buildStartCondition");
  QVXmlNode startupMode;
  QVXmlNode mode;
  if (QVSelectDefinitionNode(groupSchedulerNode, "StartupMode", startupMode)) {
    if (QVSelectDefinitionNode(startupMode, "StartAtScenarioBegining", mode)) {
      return true;
    }
    if (QVSelectDefinitionNode(startupMode, "StartIntervalAfterScenarioBeginning", mode)) {
      return buildStartIntervalAfterScenarioBeginning(mode, runner);
    }
    if (QVSelectDefinitionNode(startupMode, "StartAfterGroup", mode)) {
      return buildStartAfterGroup(mode, runner);
    }
  }
  const char* const missingMode = "Error occured while parsing scheduler's XML - Missing startup mode";
  QVScheduleLog().logErrorFormatted(missingMode, __LINE__, qvSourceFile);
  const QVXmlNode at = startupMode ? startupMode : groupSchedulerNode;
  QVDefinitionError(at, missingMode, childNames(at),
                    QVExpectedChild(at, {"StartAtScenarioBegining", "StartIntervalAfterScenarioBeginning",
                                         "StartAfterGroup"}));
  return false;
}

bool CQVGroupBuilder::buildStartIntervalAfterScenarioBeginning(const QVXmlNode& intervalNode, CQVGroupRunner& runner) {
  QV_TRACE_SCOPE("CQVGroupBuilder::buildStartIntervalAfterScenarioBeginning");
  const int seconds = QVReadNumberElement(intervalNode, QVNumberUse::Wait);
  if (seconds <= 0) {
    return true;
  }
  // The start delay is an ordinary action of the group; the group's run time counts from its end.
  auto delayRunner = std::make_unique<CQVRunDurationActionRunner>(true);
  delayRunner->setDurationSeconds(seconds);
  return initActionRunner(std::move(delayRunner), lastActionId, runner);
}

bool CQVGroupBuilder::buildStartAfterGroup(const QVXmlNode& startAfterGroupNode, CQVGroupRunner& runner) {
  // The reference becomes a start condition in addStartConditions; no action is added here.
  previousGroupName = startAfterGroupNode.text();
  runner.setPreviousGroupName(previousGroupName);
  return true;
}

bool CQVGroupBuilder::appendActionRunner(CQVSchedulerRunner& runner, std::unique_ptr<CQVActionRunner> actionRunner) {
  QV_TRACE_SCOPE("CQVGroupBuilder::appendActionRunner");
  // The scheduler runner owns the action once appended; it stays alive with the runner.
  CQVActionRunner* appended = actionRunner.get();
  const bool ok = CQVSchedBaseBuilder::appendActionRunner(runner, std::move(actionRunner));
  if (ok && !startConditionsAdded) {
    addStartConditions(*appended);
  }
  return ok;
}

void CQVGroupBuilder::addStartConditions(CQVActionRunner& actionRunner) {
  QV_TRACE_SCOPE("CQVGroupBuilder::addStartConditions");
  if (initAllBeforeStart) {
    // The actions of the pre-start initialization wait for no group condition.
    if (!initializationAdded) {
      return;
    }
    actionRunner.addStartConditionEvent(CQVScenarioAllVusersInitEventDef());
  }
  if (!previousGroupName.empty()) {
    actionRunner.addStartConditionEvent(CQVGroupFinishedRunningEventDef(previousGroupName));
  }
  startConditionsAdded = true;
}
