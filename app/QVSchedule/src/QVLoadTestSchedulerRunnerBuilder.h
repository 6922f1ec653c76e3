// Loads a scheduler definition (a file or XML text) into the root runner: clears the root runner,
// finds the definition in use ("Manual" of the "Scheduler" whose "ID" is the current scheduler
// id), reads its "SchedulerType" and builds either the scenario schedule ("Global") here or the
// group schedules ("Groups") through CQVGroupsBuilder. Also sets the schedule mode of the
// services object. Every refusal returns false; no content of a definition makes a load throw.
// Each load is reported to CQVDefinitionDiagnostics: the builders record, through the load's
// CQVDefinitionReport, where a refusal was found and what they had to guess.
//
// Made on the controller's stack for one load; keeps nothing between loads.
#pragma once

#include "QVLoadTestSchedulerRunner.h"
#include "QVXmlDom.h"
#include "XmlReader.h"

class CQVScheduleServices;

class CQVLoadTestSchedulerRunnerBuilder {
 public:
  explicit CQVLoadTestSchedulerRunnerBuilder(CQVScheduleServices* services) : services(services) {}

  // `path` / `xml` null is taken as empty text. A document that does not load is found empty.
  bool buildFromXMLFile(CQVLoadTestSchedulerRunner& root, const char* path) QV_REQUIRES(QVSchedulerLock);
  bool buildFromXMLString(CQVLoadTestSchedulerRunner& root, const char* xml) QV_REQUIRES(QVSchedulerLock);

  bool build(CQVLoadTestSchedulerRunner& root, CXmlReader& reader) QV_REQUIRES(QVSchedulerLock);
  bool buildSchedulerByScenario(CQVLoadTestSchedulerRunner& root, const QVXmlNode& bodyNode)
      QV_REQUIRES(QVSchedulerLock);

 private:
  CQVScheduleServices* services;
};
