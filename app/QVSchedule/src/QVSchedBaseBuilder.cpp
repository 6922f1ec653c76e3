#include "QVSchedBaseBuilder.h"

#include "QVDefinitionReport.h"
#include "QVDefinitionVocabulary.h"
#include "QVInitAllVusersActionRunner.h"
#include "QVInitRampUpAllVusersActionRunner.h"
#include "QVRampDownAllVusersActionRunner.h"
#include "QVRampDownVusersActionRunner.h"
#include "QVRampUpAllVusersActionRunner.h"
#include "QVRampUpVusersActionRunner.h"
#include "QVRunAllVusersActionRunner.h"
#include "QVRunDurationActionRunner.h"
#include "QVRunVusersActionRunner.h"
#include "QVScheduleLog.h"
#include "QVStopAllVusersActionRunner.h"
#include "QVStopVusersActionRunner.h"

#include <string>

QV_SOURCE_FILE("QVSchedBaseBuilder.cpp");

int QVReadDefinitionNumber(const std::string& text) { return QVParseDefinitionNumber(text).value; }

bool QVSelectDefinitionNode(const QVXmlNode& parent, std::string_view path, QVXmlNode& out) {
  return parent.selectSingleNode(path, out) == S_OK;
}

namespace {

// A DynamicScheduling child or the first child of RunUntilComplete may name any of these.
constexpr const char* kRun = "Run";
constexpr const char* kRunAll = "RunAll";
constexpr const char* kRampUp = "RampUp";
constexpr const char* kRampUpAll = "RampUpAll";
constexpr const char* kStop = "Stop";
constexpr const char* kStopAll = "StopAll";
constexpr const char* kRampDown = "RampDown";
constexpr const char* kRampDownAll = "RampDownAll";
constexpr const char* kDuration = "Duration";
constexpr const char* kRunIndefinitely = "RunIndefinitely";

constexpr const char* kMissingDynamicScheduling =
    "Error occurred while parsing the dynamic scheduler XML. missing \"DynamicScheduling\" node.";
constexpr const char* kEmptyActionName = "Action runner name was empty while building action runners list.";
constexpr const char* kBatchRefused = "Failed to retrieve action's batch data.";
constexpr const char* kTotalRefused = "Failed to retrieve action's total vusers amount.";

// 1 for an action that starts vusers, 0 for one that stops them, -1 for the others.
int startsOrStops(const std::string& action) {
  for (const char* start : {kRun, kRunAll, kRampUp, kRampUpAll}) {
    if (action == start) return 1;
  }
  for (const char* stop : {kStop, kStopAll, kRampDown, kRampDownAll}) {
    if (action == stop) return 0;
  }
  return -1;
}

// Records why a number element refuses its action: missing (under `parent`) or not above 0.
void refuseNumber(const QVXmlNode& parent, const QVXmlNode& element, const std::string& name, const char* message) {
  if (!element) {
    QVDefinitionError(parent, message, "", QVExpectedChild(parent, {name}, ": " + QVExpectedNumber(name)));
  } else {
    QVDefinitionError(element, message, element.text(), QVExpectedNumber(name));
  }
}

// What an action element may be, with a suggestion for a near name.
std::string expectedAction(const std::string& found) {
  if (found == "#comment" || found == "#text" || found == "#cdata-section") {
    return "an action element; every child of DynamicScheduling (and the first of RunUntilComplete) is read as an "
           "action, so comments and text belong elsewhere";
  }
  if (found == "InitAll" || found == "RampInitAll") {
    return "an action; " + found + " belongs in Scheduling/Initialization";
  }
  std::string text = "one of " + QVListOfNames(QVActionNames());
  const std::string near = QVNearestName(found, QVActionNames());
  return near.empty() ? text : text + "; did you mean " + near + "?";
}

}  // namespace

CQVSchedBaseBuilder::CQVSchedBaseBuilder(CQVScheduleServices* services, CQVContext* context)
    : services(services), context(context) {}

CQVSchedBaseBuilder::~CQVSchedBaseBuilder() = default;

bool CQVSchedBaseBuilder::buildScheduling(const QVXmlNode& bodyNode, CQVSchedulerRunner& runner) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildScheduling");
  if (!buildPreSchedulingData(runner, bodyNode)) {
    return false;
  }
  QVXmlNode scheduling;
  QVSelectDefinitionNode(bodyNode, "Scheduling", scheduling);
  QVXmlNode untilComplete;
  if (!scheduling.isNull()) {
    QVSelectDefinitionNode(scheduling, "RunUntilComplete", untilComplete);
  }
  if (!untilComplete.isNull()) {
    if (context) context->runMode = CQVVusersServices::RUN_UNTIL_COMPLETE;
    return buildUntilComplete(untilComplete, runner);
  }
  QVXmlNode dynamic;
  if (!scheduling.isNull()) {
    QVSelectDefinitionNode(scheduling, "DynamicScheduling", dynamic);
  }
  if (context) context->runMode = CQVVusersServices::RUN_INDEFINITELY;
  if (dynamic.isNull() && !scheduling.isNull()) {
    QVDefinitionError(scheduling, kMissingDynamicScheduling, "",
                      QVExpectedChild(scheduling, {"RunUntilComplete", "DynamicScheduling"}));
  }
  return buildDynamicScheduling(runner, dynamic);
}

bool CQVSchedBaseBuilder::buildUntilComplete(const QVXmlNode& runUntilCompleteNode, CQVSchedulerRunner& runner) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildUntilComplete");
  std::unique_ptr<CQVActionRunner> actionRunner;
  const QVXmlNode action = runUntilCompleteNode.firstChild();
  if (action.isNull()) {
    QVDefinitionError(runUntilCompleteNode, kEmptyActionName, "", "one action element in RunUntilComplete");
  }
  // "RunIndefinitely" succeeds without a runner and so fails this schedule, without a message.
  if (!buildAction(action, actionRunner)) {
    return false;
  }
  if (!actionRunner) {
    QVDefinitionError(action, "RunIndefinitely cannot be the action of RunUntilComplete", kRunIndefinitely,
                      "an action that starts vusers (RunAll, RampUpAll, Run or RampUp), after which they run until "
                      "they complete");
    return false;
  }
  return initActionRunner(std::move(actionRunner), lastActionId, runner);
}

bool CQVSchedBaseBuilder::buildDynamicScheduling(CQVSchedulerRunner& runner, const QVXmlNode& dynamicSchedulingNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildDynamicScheduling");
  if (dynamicSchedulingNode.isNull()) {
    QVScheduleLog().logErrorText(kMissingDynamicScheduling, QV_LOG_ARGS);
    return false;
  }
  if (dynamicSchedulingNode.firstChild().isNull()) {
    QVDefinitionWarning(dynamicSchedulingNode, "DynamicScheduling has no actions: the schedule does nothing after "
                                               "its initialization");
  }
  for (const QVXmlNode& child : dynamicSchedulingNode.childNodes()) {
    std::unique_ptr<CQVActionRunner> actionRunner;
    if (!buildAction(child, actionRunner)) {
      return false;
    }
    const int kind = startsOrStops(child.nodeName());
    if (kind >= 0) endsWithVusersRunning = kind == 1;
    if (actionRunner && !initActionRunner(std::move(actionRunner), lastActionId, runner)) {
      return false;
    }
  }
  return true;
}

bool CQVSchedBaseBuilder::buildSchedulerInitialization(const QVXmlNode& schedulingNode, CQVSchedulerRunner& runner) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildSchedulerInitialization");
  QVXmlNode initialization;
  if (!QVSelectDefinitionNode(schedulingNode, "Initialization", initialization)) {
    QVScheduleLog().logNoticeText("No initialization part was found in the dynamic scheduler.", QV_LOG_ARGS);
    return true;
  }
  std::unique_ptr<CQVActionRunner> actionRunner;
  QVXmlNode initNode;
  if (QVSelectDefinitionNode(initialization, "InitAll", initNode)) {
    actionRunner = buildInitAllAction(initNode);
  } else if (QVSelectDefinitionNode(initialization, "RampInitAll", initNode)) {
    actionRunner = buildInitRampUpAllAction(initNode);
  } else {
    const char* const missingInit =
        "Error occurred while parsing the dynamic scheduler XML. missing data inside \"RampInit\" node.";
    QVScheduleLog().logErrorText(missingInit, QV_LOG_ARGS);
    QVDefinitionError(initialization, missingInit, "", QVExpectedChild(initialization, {"InitAll", "RampInitAll"}));
    return false;
  }
  if (!actionRunner || !initActionRunner(std::move(actionRunner), lastActionId, runner)) {
    return false;
  }
  QVXmlNode delayNode;
  if (!QVSelectDefinitionNode(initialization, "DelayAfterInitialization", delayNode)) {
    return true;
  }
  const int delay = QVReadNumberElement(delayNode, QVNumberUse::Wait);
  if (delay <= 0) {
    return true;
  }
  auto delayRunner = std::make_unique<CQVRunDurationActionRunner>(false);
  delayRunner->setDurationSeconds(delay);
  return initActionRunner(std::move(delayRunner), lastActionId, runner);
}

bool CQVSchedBaseBuilder::buildAction(const QVXmlNode& actionNode, std::unique_ptr<CQVActionRunner>& actionRunner) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildAction");
  actionRunner.reset();
  if (actionNode.isNull()) {
    QVScheduleLog().logErrorText(kEmptyActionName, QV_LOG_ARGS);
    return false;
  }
  using Builder = std::unique_ptr<CQVActionRunner> (CQVSchedBaseBuilder::*)(const QVXmlNode&);
  struct NamedBuilder {
    const char* name;
    Builder build;
  };
  static const NamedBuilder kBuilders[] = {
      {kRun, &CQVSchedBaseBuilder::buildRunAction},
      {kRunAll, &CQVSchedBaseBuilder::buildRunAllAction},
      {kRampUp, &CQVSchedBaseBuilder::buildRampUpAction},
      {kRampUpAll, &CQVSchedBaseBuilder::buildRampUpAllAction},
      {kStop, &CQVSchedBaseBuilder::buildStopAction},
      {kStopAll, &CQVSchedBaseBuilder::buildStopAllAction},
      {kRampDown, &CQVSchedBaseBuilder::buildRampDownAction},
      {kRampDownAll, &CQVSchedBaseBuilder::buildRampDownAllAction},
      {kDuration, &CQVSchedBaseBuilder::buildDurationAction},
  };
  const std::string name = actionNode.nodeName();
  for (const NamedBuilder& entry : kBuilders) {
    if (name == entry.name) {
      actionRunner = (this->*entry.build)(actionNode);
      return actionRunner != nullptr;
    }
  }
  if (name == kRunIndefinitely) {
    return true;
  }
  const char* const unknownAction = "Unknown action runner name: %_1_s";
  QVScheduleLog().logErrorFormatted(unknownAction, __LINE__, qvSourceFile, {name});
  QVDefinitionError(actionNode, QVFormatPositional(unknownAction, {name}), name, expectedAction(name));
  return false;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildRunAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildRunAction");
  int total = 0;
  if (!getActionTotalAmount(actionNode, total)) {
    return nullptr;
  }
  auto runner = std::make_unique<CQVRunVusersActionRunner>();
  runner->setData(total);
  return runner;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildRunAllAction(const QVXmlNode&) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildRunAllAction");
  return std::make_unique<CQVRunAllVusersActionRunner>();
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildRampUpAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildRampUpAction");
  int count = 0;
  int interval = 0;
  int total = 0;
  if (!getActionBatch(actionNode, count, interval) || !getActionTotalAmount(actionNode, total)) {
    return nullptr;
  }
  auto runner = std::make_unique<CQVRampUpVusersActionRunner>();
  runner->setBatchData(count, interval, total);
  return runner;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildRampUpAllAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildRampUpAllAction");
  int count = 0;
  int interval = 0;
  if (!getActionBatch(actionNode, count, interval)) {
    return nullptr;
  }
  auto runner = std::make_unique<CQVRampUpAllVusersActionRunner>();
  runner->setBatchData(count, interval);
  return runner;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildStopAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildStopAction");
  int total = 0;
  if (!getActionTotalAmount(actionNode, total)) {
    return nullptr;
  }
  auto runner = std::make_unique<CQVStopVusersActionRunner>();
  runner->setData(total);
  return runner;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildStopAllAction(const QVXmlNode&) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildStopAllAction");
  return std::make_unique<CQVStopAllVusersActionRunner>();
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildRampDownAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildRampDownAction");
  int count = 0;
  int interval = 0;
  int total = 0;
  if (!getActionBatch(actionNode, count, interval) || !getActionTotalAmount(actionNode, total)) {
    return nullptr;
  }
  auto runner = std::make_unique<CQVRampDownVusersActionRunner>();
  runner->setBatchData(count, interval, total);
  return runner;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildRampDownAllAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildRampDownAllAction");
  int count = 0;
  int interval = 0;
  if (!getActionBatch(actionNode, count, interval)) {
    return nullptr;
  }
  auto runner = std::make_unique<CQVRampDownAllVusersActionRunner>();
  runner->setBatchData(count, interval);
  return runner;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildDurationAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildDurationAction");
  QVXmlNode runFor;
  if (!QVSelectDefinitionNode(actionNode, "RunFor", runFor)) {
    const char* const missingRunFor = "Failed to create duration action runner - missing \"RunFor\" node.";
    QVScheduleLog().logErrorText(missingRunFor, QV_LOG_ARGS);
    refuseNumber(actionNode, runFor, "RunFor", missingRunFor);
    return nullptr;
  }
  const int seconds = QVReadNumberElement(runFor, QVNumberUse::Seconds);
  auto runner = std::make_unique<CQVRunDurationActionRunner>(false);
  runner->setDurationSeconds(seconds > 0 ? seconds : 0);
  return runner;
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildInitAllAction(const QVXmlNode&) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildInitAllAction");
  return std::make_unique<CQVInitAllVusersActionRunner>();
}

std::unique_ptr<CQVActionRunner> CQVSchedBaseBuilder::buildInitRampUpAllAction(const QVXmlNode& actionNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildInitRampUpAllAction");
  int count = 0;
  int interval = 0;
  if (!getActionBatch(actionNode, count, interval)) {
    return nullptr;
  }
  auto runner = std::make_unique<CQVInitRampUpAllVusersActionRunner>();
  runner->setBatchData(count, interval);
  return runner;
}

bool CQVSchedBaseBuilder::getActionBatch(const QVXmlNode& actionNode, int& count, int& interval) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::getActionBatch");
  count = 0;
  interval = 0;
  QVXmlNode countNode;
  QVXmlNode intervalNode;
  const bool countFound = QVSelectDefinitionNode(actionNode, "./Batch/Count", countNode);
  const bool intervalFound = QVSelectDefinitionNode(actionNode, "./Batch/Interval", intervalNode);
  if (countFound && intervalFound) {
    count = QVReadNumberElement(countNode, QVNumberUse::Positive);
    interval = QVReadNumberElement(intervalNode, QVNumberUse::Positive);
    if (count > 0 && interval > 0) {
      return true;
    }
  }
  QVScheduleLog().logErrorText(kBatchRefused, QV_LOG_ARGS);
  const QVXmlNode batch = actionNode.childElement("Batch");
  if (!batch) {
    QVDefinitionError(actionNode, kBatchRefused, "",
                      QVExpectedChild(actionNode, {"Batch"}, " holding Count and Interval, both above 0"));
  } else if (!countFound || count <= 0) {
    refuseNumber(batch, countNode, "Count", kBatchRefused);
  } else {
    refuseNumber(batch, intervalNode, "Interval", kBatchRefused);
  }
  return false;
}

bool CQVSchedBaseBuilder::getActionTotalAmount(const QVXmlNode& actionNode, int& total) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::getActionTotalAmount");
  total = 0;
  QVXmlNode totalNode;
  if (QVSelectDefinitionNode(actionNode, "TotalVusersNumber", totalNode)) {
    total = QVReadNumberElement(totalNode, QVNumberUse::Positive);
    if (total > 0) {
      return true;
    }
  }
  QVScheduleLog().logErrorText(kTotalRefused, QV_LOG_ARGS);
  refuseNumber(actionNode, totalNode, "TotalVusersNumber", kTotalRefused);
  return false;
}

bool CQVSchedBaseBuilder::initActionRunner(std::unique_ptr<CQVActionRunner> actionRunner, int previousActionId,
                                           CQVSchedulerRunner& runner) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::initActionRunner");
  if (!actionRunner) {
    QVScheduleLog().logErrorText("initActionRunner was called with a Null pointer", QV_LOG_ARGS);
    return false;
  }
  ++lastActionId;
  setUpActionRunner(*actionRunner, services, runner, lastActionId, previousActionId);
  appendActionRunner(runner, std::move(actionRunner));
  return true;
}

void CQVSchedBaseBuilder::setUpActionRunner(CQVActionRunner& actionRunner, CQVScheduleServices* services,
                                            const CQVSchedulerRunner& runner, int actionId, int previousActionId) {
  actionRunner.setServices(services);
  actionRunner.setContext(runner.getContext());
  actionRunner.setActionId(actionId);
  if (previousActionId != 0 && runner.getContext()) {
    const std::unique_ptr<CQVEventDef> previousFinished(
        runner.getContext()->createActionFinishedEventDef(previousActionId));
    if (previousFinished) {
      actionRunner.addStartConditionEvent(*previousFinished);
    }
  }
}

bool CQVSchedBaseBuilder::appendActionRunner(CQVSchedulerRunner& runner,
                                             std::unique_ptr<CQVActionRunner> actionRunner) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::appendActionRunner");
  if (!actionRunner) {
    return false;
  }
  return runner.appendActionRunner(actionRunner.release());
}
