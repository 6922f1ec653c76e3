#include "QVGroupRunner.h"

#include "QVGroupContext.h"
#include "QVHostEventDefs.h"
#include "QVScheduleLog.h"
#include "QVScheduleServices.h"
#include "QVSchedulerRunnerFailedEventDef.h"

QV_SOURCE_FILE("QVGroupRunner.cpp");

CQVGroupRunner::~CQVGroupRunner() {
  QV_TRACE_SCOPE("CQVGroupRunner::~CQVGroupRunner()");
  CQVGroupRunner::unregisterOnEvents();
}

std::string CQVGroupRunner::getGroupName() const {
  const auto* group = dynamic_cast<const CQVGroupContext*>(context);
  return group ? group->getGroupName() : std::string();
}

void CQVGroupRunner::setPreviousGroupName(std::string name) {
  QV_TRACE_SCOPE("CQVGroupRunner::setPreviousGroupName");
  previousGroupName = std::move(name);
}

void CQVGroupRunner::registerOnStartCondition() {
  CQVSchedulerRunner::registerOnStartCondition();
  registerOnPrevGroupFailedEventHandler();
}

bool CQVGroupRunner::registerOnPrevGroupFailedEventHandler() {
  QV_TRACE_SCOPE("CQVGroupRunner::registerOnPrevGroupFailedEventHandler");
  if (previousGroupName.empty() || prevGroupFailedHandler) return true;
  prevGroupFailedHandler = createEventHandler(CQVSchedulerRunnerFailedEventDef());
  return true;
}

bool CQVGroupRunner::beforeStartRunning() {
  QV_TRACE_SCOPE("CQVGroupRunner::beforeStartRunning");
  if (QVScheduleTestLog().isEnabled()) {
    const std::string logName = context ? context->getLogName() : std::string();
    QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "%_1_s @ Started", {logName});
    if (!getActionRunners().empty() && !groupFinishedHandler) {
      groupFinishedHandler = createEventHandler(CQVGroupFinishedRunningEventDef(getGroupName()));
    }
  }
  return CQVSchedulerRunner::beforeStartRunning();
}

bool CQVGroupRunner::setFinishedRunning() {
  QV_TRACE_SCOPE("CQVGroupRunner::setFinishedRunning");
  const bool result = CQVSchedulerRunner::setFinishedRunning();
  // The host hears once that the group finished, even when its last action finishes twice (an
  // initialization the host reports twice).
  if (result && !finishReported && services && services->getWrapper()) {
    finishReported = true;
    services->getWrapper()->notifyGroupFinished(context);
  }
  return result;
}

namespace {

// Whether `failed` is the failure of group `name`: by the name it carries (its runner may be gone
// by now), else by its runner's context.
bool namesGroup(const CQVSchedulerRunnerFailedEventDef& failed, const std::string& name) {
  if (const std::string* carried = failed.getFailedGroupName()) return *carried == name;
  const CQVSchedulerRunner* runner = failed.getFailedRunner();
  const auto* group = runner ? dynamic_cast<const CQVGroupContext*>(runner->getContext()) : nullptr;
  return group && group->getGroupName() == name;
}

}  // namespace

void CQVGroupRunner::onEventArrived(const CQVEventDef& def, CQVBaseRunnerEventHandler* handler) {
  QV_TRACE_SCOPE("CQVGroupRunner::onEventArrived");
  CQVSchedulerRunner::onEventArrived(def, handler);
  if (!handler) return;
  if (handler == groupFinishedHandler) {
    if (QVScheduleTestLog().isEnabled()) {
      const std::string logName = context ? context->getLogName() : std::string();
      QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "%_1_s @ Finished", {logName});
    }
  } else if (handler == prevGroupFailedHandler) {
    const auto* failed = dynamic_cast<const CQVSchedulerRunnerFailedEventDef*>(&def);
    if (failed && namesGroup(*failed, previousGroupName)) setFailedRunning();
  }
}

void CQVGroupRunner::unregisterOnEvents() {
  QV_TRACE_SCOPE("CQVGroupRunner::unregisterOnEvents");
  unregisterOnGroupFinishedEventHandler();
  unregisterOnPrevGroupFailedEventHandler();
  CQVSchedulerRunner::unregisterOnEvents();
}

void CQVGroupRunner::unregisterOnGroupFinishedEventHandler() {
  QV_TRACE_SCOPE("CQVGroupRunner::unregisterOnGroupFinishedEventHandler()");
  releaseEventHandler(groupFinishedHandler);
}

void CQVGroupRunner::unregisterOnPrevGroupFailedEventHandler() {
  QV_TRACE_SCOPE("CQVGroupRunner::unregisterOnPrevGroupFailedEventHandler()");
  releaseEventHandler(prevGroupFailedHandler);
}
