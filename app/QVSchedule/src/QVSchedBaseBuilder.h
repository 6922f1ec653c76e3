// Builds one schedule body of a definition (the "Global" element, or one "GroupScheduler") into
// the ordered action runners of one scheduler runner: the initialization, then either the single
// "RunUntilComplete" action or the "DynamicScheduling" actions. Actions are numbered 1, 2, 3 in
// append order and each one waits for the finished event of the one before it. Also records in
// the schedule's context whether it runs until complete or indefinitely.
//
// One builder serves one schedule build; it owns nothing. Action runners are held by unique_ptr
// until the scheduler runner takes them, so a refused action leaks nothing.
#pragma once

#include "QVActionRunner.h"
#include "QVContext.h"
#include "QVSchedulerRunner.h"
#include "QVXmlDom.h"

#include <memory>
#include <string>
#include <string_view>

class CQVScheduleServices;

// Reads a number as the C library's atoi does: leading white space, an optional sign, then
// decimal digits up to the first other character; no digits give 0. Out-of-range values are
// clamped to the int range. (QVReadNumberElement also warns about what it had to guess.)
int QVReadDefinitionNumber(const std::string& text);

// The first node, in document order, that the path `path` (a child name, or child steps such as
// "./Batch/Count"; QVXmlNode::selectSingleNode) selects under `parent`; false when nothing matches.
bool QVSelectDefinitionNode(const QVXmlNode& parent, std::string_view path, QVXmlNode& out);

class CQVSchedBaseBuilder {
 public:
  CQVSchedBaseBuilder(CQVScheduleServices* services, CQVContext* context);
  CQVSchedBaseBuilder(const CQVSchedBaseBuilder&) = delete;
  CQVSchedBaseBuilder& operator=(const CQVSchedBaseBuilder&) = delete;
  virtual ~CQVSchedBaseBuilder();

  // What precedes the schedule proper (initialization, a group's start condition).
  virtual bool buildPreSchedulingData(CQVSchedulerRunner& runner, const QVXmlNode& bodyNode) = 0;
  // Hands a finished action runner to the scheduler runner; false for null.
  virtual bool appendActionRunner(CQVSchedulerRunner& runner, std::unique_ptr<CQVActionRunner> actionRunner);

  bool buildScheduling(const QVXmlNode& bodyNode, CQVSchedulerRunner& runner);
  bool buildSchedulerInitialization(const QVXmlNode& schedulingNode, CQVSchedulerRunner& runner);
  bool buildUntilComplete(const QVXmlNode& runUntilCompleteNode, CQVSchedulerRunner& runner);
  // `dynamicSchedulingNode` may be null.
  bool buildDynamicScheduling(CQVSchedulerRunner& runner, const QVXmlNode& dynamicSchedulingNode);
  // Creates the runner the node names; true with a null runner for "RunIndefinitely".
  bool buildAction(const QVXmlNode& actionNode, std::unique_ptr<CQVActionRunner>& actionRunner);

  // Per-action builders: a new runner, or null when the action's data is refused.
  std::unique_ptr<CQVActionRunner> buildRunAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildRunAllAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildRampUpAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildRampUpAllAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildStopAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildStopAllAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildRampDownAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildRampDownAllAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildDurationAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildInitAllAction(const QVXmlNode& actionNode);
  std::unique_ptr<CQVActionRunner> buildInitRampUpAllAction(const QVXmlNode& actionNode);

  // "./Batch/Count" and "./Batch/Interval"; both must be present and above 0. The outputs keep
  // the numbers read even when false is returned.
  bool getActionBatch(const QVXmlNode& actionNode, int& count, int& interval);
  // "TotalVusersNumber"; must be present and above 0.
  bool getActionTotalAmount(const QVXmlNode& actionNode, int& total);

  // Numbers the action (next id), sets it up (below) and appends it. False only for a null runner.
  bool initActionRunner(std::unique_ptr<CQVActionRunner> actionRunner, int previousActionId,
                        CQVSchedulerRunner& runner);
  // Gives an action of `runner` the services, the runner's context and number `actionId`, and makes
  // it wait for the finished event of `previousActionId` (none for 0).
  static void setUpActionRunner(CQVActionRunner& actionRunner, CQVScheduleServices* services,
                                const CQVSchedulerRunner& runner, int actionId, int previousActionId);

  int getLastActionId() const { return lastActionId; }
  // The schedule runs indefinitely and its last action that starts or stops vusers starts them:
  // its vusers are certainly left running at its end.
  bool leavesVusersRunning() const { return endsWithVusersRunning; }

 protected:
  CQVScheduleServices* services;
  int lastActionId = 0;
  CQVContext* context;
  bool endsWithVusersRunning = false;
};
