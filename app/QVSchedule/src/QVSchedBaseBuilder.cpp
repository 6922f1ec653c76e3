#include "QVSchedBaseBuilder.h"

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

#include <climits>
#include <string>

QV_SOURCE_FILE("QVSchedBaseBuilder.cpp");

int QVReadDefinitionNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The magnitude stops growing once it is out of range; the result is clamped below.
  long long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) {
      magnitude = magnitude * 10 + (text[i] - '0');
    }
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool QVSelectDefinitionNode(const QVXmlNode& parent, const std::string& path, QVXmlNode& out) {
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
  return buildDynamicScheduling(runner, dynamic);
}

bool CQVSchedBaseBuilder::buildUntilComplete(const QVXmlNode& runUntilCompleteNode, CQVSchedulerRunner& runner) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildUntilComplete");
  std::unique_ptr<CQVActionRunner> actionRunner;
  // "RunIndefinitely" succeeds without a runner and so fails this schedule, without a message.
  if (!buildAction(runUntilCompleteNode.firstChild(), actionRunner) || !actionRunner) {
    return false;
  }
  return initActionRunner(std::move(actionRunner), lastActionId, runner);
}

bool CQVSchedBaseBuilder::buildDynamicScheduling(CQVSchedulerRunner& runner, const QVXmlNode& dynamicSchedulingNode) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::buildDynamicScheduling");
  if (dynamicSchedulingNode.isNull()) {
    QVScheduleLog().logErrorText(
        "Error occurred while parsing the dynamic scheduler XML. missing \"DynamicScheduling\" node.", QV_LOG_ARGS);
    return false;
  }
  for (const QVXmlNode& child : dynamicSchedulingNode.childNodes()) {
    std::unique_ptr<CQVActionRunner> actionRunner;
    if (!buildAction(child, actionRunner)) {
      return false;
    }
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
    QVScheduleLog().logErrorText(
        "Error occurred while parsing the dynamic scheduler XML. missing data inside \"RampInit\" node.", QV_LOG_ARGS);
    return false;
  }
  if (!actionRunner || !initActionRunner(std::move(actionRunner), lastActionId, runner)) {
    return false;
  }
  QVXmlNode delayNode;
  if (!QVSelectDefinitionNode(initialization, "DelayAfterInitialization", delayNode)) {
    return true;
  }
  const int delay = QVReadDefinitionNumber(delayNode.text());
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
    QVScheduleLog().logErrorText("Action runner name was empty while building action runners list.", QV_LOG_ARGS);
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
  QVScheduleLog().logErrorFormatted("Unknown action runner name: %_1_s", __LINE__, qvSourceFile, {name});
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
    QVScheduleLog().logErrorText("Failed to create duration action runner - missing \"RunFor\" node.", QV_LOG_ARGS);
    return nullptr;
  }
  const int seconds = QVReadDefinitionNumber(runFor.text());
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
  if (QVSelectDefinitionNode(actionNode, "./Batch/Count", countNode) &&
      QVSelectDefinitionNode(actionNode, "./Batch/Interval", intervalNode)) {
    count = QVReadDefinitionNumber(countNode.text());
    interval = QVReadDefinitionNumber(intervalNode.text());
    if (count > 0 && interval > 0) {
      return true;
    }
  }
  QVScheduleLog().logErrorText("Failed to retrieve action's batch data.", QV_LOG_ARGS);
  return false;
}

bool CQVSchedBaseBuilder::getActionTotalAmount(const QVXmlNode& actionNode, int& total) {
  QV_TRACE_SCOPE("CQVSchedBaseBuilder::getActionTotalAmount");
  total = 0;
  QVXmlNode totalNode;
  if (QVSelectDefinitionNode(actionNode, "TotalVusersNumber", totalNode)) {
    total = QVReadDefinitionNumber(totalNode.text());
    if (total > 0) {
      return true;
    }
  }
  QVScheduleLog().logErrorText("Failed to retrieve action's total vusers amount.", QV_LOG_ARGS);
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
