// A reading of a scheduler definition for people, through the library's own document layer and
// selections (so it reads what the library reads): which schedule the document selects, its type,
// its groups with their start modes, initializations, actions and run modes. It only describes;
// whether the scheduler accepts the definition is the library's verdict (setXMLString/setXMLFile).
#pragma once

#include <string>
#include <vector>

struct ActionSummary {
  std::string name;    // element name, or "(comment)" / "(text)" for other nodes
  std::string detail;  // parameters in words
};

struct ScheduleSummary {
  std::string group;           // empty for the scenario schedule
  std::string start;           // start mode in words
  std::string initialization;  // "none" or the action in words
  std::string delayAfterInitialization;  // empty when none
  bool untilComplete = false;
  std::vector<ActionSummary> actions;
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
// The one-screen text printed by "qvschedule check".
std::string formatSummary(const DefinitionSummary& summary);
