#include "QVScenarioBuilder.h"

#include "QVDefinitionReport.h"
#include "QVDefinitionVocabulary.h"
#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVScenarioBuilder.cpp");

CQVScenarioBuilder::CQVScenarioBuilder(CQVScheduleServices* services, CQVContext* context)
    : CQVSchedBaseBuilder(services, context) {}

CQVScenarioBuilder::~CQVScenarioBuilder() = default;

bool CQVScenarioBuilder::build(CQVSchedulerRunner& runner, const QVXmlNode& bodyNode) {
  QV_TRACE_SCOPE("CQVScenarioBuilder::build");
  return buildScheduling(bodyNode, runner);
}

bool CQVScenarioBuilder::buildPreSchedulingData(CQVSchedulerRunner& runner, const QVXmlNode& bodyNode) {
  QV_TRACE_SCOPE("CQVScenarioBuilder::buildPreSchedulingData");
  QVXmlNode scheduling;
  if (!QVSelectDefinitionNode(bodyNode, "Scheduling", scheduling)) {
    QVDefinitionError(bodyNode, bodyNode.nodeName() + " has no Scheduling", "",
                      QVExpectedChild(bodyNode, {"Scheduling"}));
    return false;
  }
  return buildSchedulerInitialization(scheduling, runner);
}
