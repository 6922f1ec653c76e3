// Builds the schedule of a definition by scenario (its "Global" element) into the scenario
// runner: the initialization comes first, then the schedule proper.
#pragma once

#include "QVSchedBaseBuilder.h"

class CQVScenarioBuilder : public CQVSchedBaseBuilder {
 public:
  CQVScenarioBuilder(CQVScheduleServices* services, CQVContext* context);
  ~CQVScenarioBuilder() override;

  bool build(CQVSchedulerRunner& runner, const QVXmlNode& bodyNode);
  // "Scheduling" must be present (no message otherwise); its initialization is built here.
  bool buildPreSchedulingData(CQVSchedulerRunner& runner, const QVXmlNode& bodyNode) override;
};
