// Builds the schedule of one vuser group (one "GroupScheduler" element) into its group runner.
// On top of the schedule builder it turns "StartupMode" into a start delay (a pre-run duration
// action) or a reference to the group it starts after, and attaches the group's start conditions
// to the first action that may wait for them. With initAllBeforeStart, the group's initialization
// comes first and runs at once, and the start conditions also wait for all vusers of the scenario
// to be initialized.
#pragma once

#include "QVGroupRunner.h"
#include "QVSchedBaseBuilder.h"

#include <string>

class CQVGroupBuilder : public CQVSchedBaseBuilder {
 public:
  CQVGroupBuilder(CQVScheduleServices* services, CQVContext* context);
  ~CQVGroupBuilder() override;

  bool build(CQVGroupRunner& runner, const QVXmlNode& groupSchedulerNode, bool initAllBeforeStart);
  bool buildPreSchedulingData(CQVSchedulerRunner& runner, const QVXmlNode& groupSchedulerNode) override;
  // Also gives the group's start conditions to the first action that may carry them.
  bool appendActionRunner(CQVSchedulerRunner& runner, std::unique_ptr<CQVActionRunner> actionRunner) override;

  bool buildStartCondition(const QVXmlNode& groupSchedulerNode, CQVGroupRunner& runner);
  bool buildStartIntervalAfterScenarioBeginning(const QVXmlNode& intervalNode, CQVGroupRunner& runner);
  bool buildStartAfterGroup(const QVXmlNode& startAfterGroupNode, CQVGroupRunner& runner);
  void addStartConditions(CQVActionRunner& actionRunner);

 private:
  bool initAllBeforeStart = false;
  bool initializationAdded = false;
  bool startConditionsAdded = false;
  std::string previousGroupName;
};
