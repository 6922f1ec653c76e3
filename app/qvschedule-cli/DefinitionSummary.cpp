#include "DefinitionSummary.h"

#include "QVXmlDom.h"

#include <algorithm>
#include <sstream>

namespace {

// The node's trimmed text; empty for a missing node.
std::string textOf(const QVXmlNode& node) { return node ? node.text() : std::string(); }

// Numbers are read as the loader reads them.
int numberOf(const QVXmlNode& node) { return CQVDefinitionDiagnostics::readNumber(node.text()); }

// The first node of `path` (a fixed expression, never text of the definition) under `node`.
QVXmlNode select(const QVXmlNode& node, const char* path) {
  QVXmlNode found;
  node.selectSingleNode(path, found);
  return found;
}

std::string batchWords(const QVXmlNode& action) {
  const QVXmlNode count = select(action, "./Batch/Count");
  const QVXmlNode interval = select(action, "./Batch/Interval");
  if (!count || !interval) return "batch missing";
  return std::to_string(numberOf(count)) + " every " + std::to_string(numberOf(interval)) + " s";
}

std::string totalWords(const QVXmlNode& action) {
  const QVXmlNode total = action.childElement("TotalVusersNumber");
  return total ? std::to_string(numberOf(total)) + " vusers" : std::string("total missing");
}

// The vusers a starting action starts.
long long startsOf(const QVXmlNode& node, const std::string& name) {
  if (name == "RunAll" || name == "RampUpAll") return ActionSummary::kAll;
  if (name != "Run" && name != "RampUp") return 0;
  const QVXmlNode total = node.childElement("TotalVusersNumber");
  return total ? std::max(0, numberOf(total)) : 0;
}

ActionSummary describeAction(const QVXmlNode& node) {
  ActionSummary action;
  action.name = node.nodeName();
  action.node = node;
  action.starts = startsOf(node, action.name);
  const std::string& n = action.name;
  if (n == "#comment") {
    action.name = "(comment)";
    action.detail = "not an action: the loader refuses it here";
  } else if (n == "#text" || n == "#cdata-section") {
    action.name = "(text)";
    action.detail = "not an action";
  } else if (n == "Run" || n == "Stop") {
    action.detail = totalWords(node) + " at once";
  } else if (n == "RunAll" || n == "StopAll") {
    action.detail = "all vusers at once";
  } else if (n == "RampUp" || n == "RampDown") {
    action.detail = "total " + totalWords(node) + ", " + batchWords(node);
  } else if (n == "RampUpAll" || n == "RampDownAll") {
    action.detail = "all vusers, " + batchWords(node);
  } else if (n == "Duration") {
    const QVXmlNode runFor = node.childElement("RunFor");
    action.detail = runFor ? "keep for " + std::to_string(std::max(0, numberOf(runFor))) + " s" : "RunFor missing";
  } else if (n == "RunIndefinitely") {
    action.detail = "nothing further (no action)";
  } else {
    action.detail = "unknown action";
  }
  return action;
}

std::string startWords(const QVXmlNode& group, bool initAllBeforeStart) {
  const QVXmlNode mode = group.childElement("StartupMode");
  if (!mode) return "StartupMode missing";
  if (mode.childElement("StartAtScenarioBegining")) return "at scenario begin";
  if (const QVXmlNode interval = mode.childElement("StartIntervalAfterScenarioBeginning")) {
    const int seconds = numberOf(interval);
    const std::string from = initAllBeforeStart ? " s after all vusers are initialized" : " s after scenario begin";
    return seconds > 0 ? std::to_string(seconds) + from : "at scenario begin";
  }
  if (const QVXmlNode after = mode.childElement("StartAfterGroup")) {
    return after.text().empty() ? "at scenario begin" : "after group " + after.text() + " finished running";
  }
  return "no known startup mode";
}

std::string initializationWords(const QVXmlNode& init, std::string& delay) {
  if (const QVXmlNode d = init.childElement("DelayAfterInitialization")) {
    if (numberOf(d) > 0) delay = std::to_string(numberOf(d)) + " s";
  }
  if (init.childElement("InitAll")) return "InitAll (all vusers at once)";
  if (const QVXmlNode ramp = init.childElement("RampInitAll")) return "RampInitAll " + batchWords(ramp);
  return "no InitAll or RampInitAll";
}

ScheduleSummary describeSchedule(const QVXmlNode& body, const std::string& group, bool initAllBeforeStart) {
  ScheduleSummary schedule;
  schedule.group = group;
  schedule.initialization = "none";
  schedule.start = group.empty() ? "at scenario begin" : startWords(body, initAllBeforeStart);
  const QVXmlNode scheduling = body.childElement("Scheduling");
  if (!scheduling) {
    schedule.initialization = "Scheduling missing";
    return schedule;
  }
  if (const QVXmlNode init = scheduling.childElement("Initialization")) {
    schedule.initialization = initializationWords(init, schedule.delayAfterInitialization);
  }
  if (const QVXmlNode untilComplete = scheduling.childElement("RunUntilComplete")) {
    schedule.untilComplete = true;
    if (const QVXmlNode first = untilComplete.firstChild()) schedule.actions.push_back(describeAction(first));
  } else if (const QVXmlNode dynamic = scheduling.childElement("DynamicScheduling")) {
    for (const QVXmlNode& child : dynamic.childNodes()) schedule.actions.push_back(describeAction(child));
  }
  return schedule;
}

void describeGroups(const QVXmlNode& body, DefinitionSummary& summary) {
  summary.initAllBeforeStart = textOf(body.childElement("InitAllBeforeStart")) == "true";
  for (QVXmlNode group = body.childElement("GroupScheduler"); group; group = group.nextSiblingElement("GroupScheduler")) {
    const std::string name = textOf(group.childElement("GroupName"));
    summary.schedules.push_back(describeSchedule(group, name.empty() ? "(unnamed)" : name, summary.initAllBeforeStart));
  }
}

}  // namespace

long long ScheduleSummary::asksFor() const {
  long long total = 0;
  for (const ActionSummary& action : actions) {
    if (action.starts == ActionSummary::kAll) return ActionSummary::kAll;
    total += action.starts;
  }
  return total;
}

std::vector<QVDefinitionDiagnostic> poolWarnings(const DefinitionSummary& summary,
                                                 const std::function<long(const std::string&)>& poolSize) {
  std::vector<QVDefinitionDiagnostic> warnings;
  for (const ScheduleSummary& schedule : summary.schedules) {
    const long pool = poolSize(schedule.group);
    const long long asks = schedule.asksFor();
    if (asks == ActionSummary::kAll || asks <= pool) continue;
    long long started = 0;
    for (const ActionSummary& action : schedule.actions) {
      started += action.starts;
      if (started <= pool) continue;
      const std::string who = schedule.group.empty() ? "the scenario" : "group " + schedule.group;
      const std::string option =
          schedule.group.empty() ? "--vusers" : "--vusers or --group-vusers " + schedule.group + "=N";
      QVDefinitionDiagnostic warning;
      warning.severity = QVDefinitionDiagnostic::SEVERITY_WARNING;
      warning.message = who + " asks for " + std::to_string(asks) + " vusers, more than the " + std::to_string(pool) +
                        " of its pool (" + option + "); the vusers answer that there are no more";
      warning.path = action.node.locationPath();
      warning.line = action.node.line();
      warning.column = action.node.column();
      warning.value = std::to_string(asks);
      warning.expected = "at most " + std::to_string(pool) + " vusers started in all, or a larger pool";
      warnings.push_back(warning);
      break;
    }
  }
  return warnings;
}

std::vector<std::string> DefinitionSummary::groupNames() const {
  std::vector<std::string> names;
  for (const ScheduleSummary& schedule : schedules) {
    if (!schedule.group.empty()) names.push_back(schedule.group);
  }
  return names;
}

DefinitionSummary summarizeDefinition(const std::string& xml) {
  DefinitionSummary summary;
  QVXmlDocument document;
  bool loaded = false;
  document.loadXML(xml, loaded);
  if (!loaded) {
    summary.parseError = "parser status " + std::to_string(document.parseErrorCode());
    return summary;
  }
  summary.parsed = true;
  const QVXmlNode root = document.documentElement();
  summary.schedulerId = textOf(select(root, "//Schedulers/CurrentSchedulerId"));
  // The library's own selection: the first Manual of a Scheduler whose ID equals a current id.
  const QVXmlNode manual = select(root, "//Scheduler[@ID=//Schedulers/CurrentSchedulerId]/Manual");
  if (!manual) return summary;
  summary.found = true;
  summary.type = textOf(manual.childElement("SchedulerType"));
  const QVXmlNode body = manual.childElement(summary.type.c_str());
  if (summary.type == "Global" && body) {
    summary.schedules.push_back(describeSchedule(body, "", false));
  } else if (summary.type == "Groups" && body) {
    describeGroups(body, summary);
  }
  return summary;
}

std::string formatSummary(const DefinitionSummary& summary) {
  std::ostringstream out;
  if (!summary.parsed) {
    out << "  not well-formed XML: " << summary.parseError << '\n';
    return out.str();
  }
  if (!summary.found) {
    out << "  no \"Manual\" definition for the current scheduler id"
        << (summary.schedulerId.empty() ? std::string() : " " + summary.schedulerId) << '\n';
    return out.str();
  }
  out << "  scheduler id:    " << summary.schedulerId << '\n';
  out << "  type:            " << summary.type;
  if (summary.type == "Global") out << " (one schedule for the whole scenario)";
  if (summary.type == "Groups") {
    out << " (one schedule per vuser group, " << summary.schedules.size() << " group"
        << (summary.schedules.size() == 1 ? "" : "s") << ")\n";
    out << "  init all before start: " << (summary.initAllBeforeStart ? "yes" : "no");
  }
  out << '\n';
  for (const ScheduleSummary& schedule : summary.schedules) {
    out << (schedule.group.empty() ? std::string("  scenario schedule") : "  group " + schedule.group) << '\n';
    out << "    start:          " << schedule.start << '\n';
    out << "    initialization: " << schedule.initialization;
    if (!schedule.delayAfterInitialization.empty()) out << ", then wait " << schedule.delayAfterInitialization;
    out << '\n';
    if (schedule.actions.empty()) out << "    actions:        none\n";
    for (std::size_t i = 0; i < schedule.actions.size(); ++i) {
      const ActionSummary& action = schedule.actions[i];
      std::string name = action.name;
      if (name.size() < 12) name += std::string(12 - name.size(), ' ');
      out << (i == 0 ? "    actions:        " : "                    ") << i + 1 << ". " << name << ' ' << action.detail
          << '\n';
    }
    out << "    run mode:       "
        << (schedule.untilComplete ? "until complete (vusers run until they finish)" : "indefinitely (until stopped)")
        << '\n';
  }
  return out.str();
}
