// A reading of a scheduler definition for people, through the library's own document layer and
// selections (so it reads what the library reads): which schedule the document selects, its type,
// its groups with their start modes, initializations, actions and run modes. It only describes;
// whether the scheduler accepts the definition is the library's verdict (setXMLString/setXMLFile).
#pragma once

#include "QVDefinitionDiagnostics.h"
#include "QVXmlDom.h"

#include <functional>
#include <string>
#include <vector>

struct ActionSummary {
  static constexpr long long kAll = -1;

  std::string name;    // element name, or "(comment)" / "(text)" for other nodes
  std::string detail;  // parameters in words
  long long starts = 0;  // vusers it starts: a number, kAll for all of them, 0 for none
  QVXmlNode node;        // where it is, for warnings
};

struct ScheduleSummary {
  std::string group;           // empty for the scenario schedule
  std::string start;           // start mode in words
  std::string initialization;  // "none" or the action in words
  std::string delayAfterInitialization;  // empty when none
  bool untilComplete = false;
  std::vector<ActionSummary> actions;

  // The vusers its actions start in all (a pool gives each vuser one start): the sum of their
  // numbers, ActionSummary::kAll when one of them starts all.
  long long asksFor() const;
};

struct DefinitionSummary {
  bool parsed = false;  // the text is well-formed XML
  bool found = false;   // a "Manual" of the current scheduler id was found
  std::string parseError;
  std::string schedulerId;
  std::string type;     // "Global", "Groups" or what the document says
  bool initAllBeforeStart = false;
  std::vector<ScheduleSummary> schedules;

  bool byGroup() const { return type == "Groups"; }
  std::vector<std::string> groupNames() const;
};

DefinitionSummary summarizeDefinition(const std::string& xml);

// A warning for every schedule whose actions ask for more vusers than its pool has, at the
// action that goes past the pool. `poolSize` answers the vusers of a group's pool (the empty name
// for the scenario's).
std::vector<QVDefinitionDiagnostic> poolWarnings(const DefinitionSummary& summary,
                                                 const std::function<long(const std::string&)>& poolSize);
// The one-screen text printed by "qvschedule check".
std::string formatSummary(const DefinitionSummary& summary);
