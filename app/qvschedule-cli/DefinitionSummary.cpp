#include "DefinitionSummary.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string textOf(const pugi::xml_node& node) { return trim(node.text().get()); }
// Numbers are read as the loader reads them: leading digits, anything after them ignored.
int numberOf(const pugi::xml_node& node) { return std::atoi(node.text().get()); }

std::string batchWords(const pugi::xml_node& action) {
  const pugi::xml_node batch = action.child("Batch");
  if (!batch || !batch.child("Count") || !batch.child("Interval")) return "batch missing";
  return std::to_string(numberOf(batch.child("Count"))) + " every " + std::to_string(numberOf(batch.child("Interval"))) +
         " s";
}

std::string totalWords(const pugi::xml_node& action) {
  const pugi::xml_node total = action.child("TotalVusersNumber");
  return total ? std::to_string(numberOf(total)) + " vusers" : std::string("total missing");
}

ActionSummary describeAction(const pugi::xml_node& node) {
  ActionSummary action;
  if (node.type() == pugi::node_comment) return {"(comment)", "not an action: the loader refuses it here"};
  if (node.type() != pugi::node_element) return {"(text)", "not an action"};
  action.name = node.name();
  const std::string& n = action.name;
  if (n == "Run" || n == "Stop") {
    action.detail = totalWords(node) + " at once";
  } else if (n == "RunAll" || n == "StopAll") {
    action.detail = "all vusers at once";
  } else if (n == "RampUp" || n == "RampDown") {
    action.detail = "total " + totalWords(node) + ", " + batchWords(node);
  } else if (n == "RampUpAll" || n == "RampDownAll") {
    action.detail = "all vusers, " + batchWords(node);
  } else if (n == "Duration") {
    const pugi::xml_node runFor = node.child("RunFor");
    action.detail = runFor ? "keep for " + std::to_string(std::max(0, numberOf(runFor))) + " s" : "RunFor missing";
  } else if (n == "RunIndefinitely") {
    action.detail = "nothing further (no action)";
  } else {
    action.detail = "unknown action";
  }
  return action;
}

ScheduleSummary describeSchedule(const pugi::xml_node& body, const std::string& group, bool initAllBeforeStart) {
  ScheduleSummary schedule;
  schedule.group = group;
  schedule.initialization = "none";
  if (!group.empty()) {
    const pugi::xml_node mode = body.child("StartupMode");
    if (!mode) {
      schedule.start = "StartupMode missing";
    } else if (mode.child("StartAtScenarioBegining")) {
      schedule.start = "at scenario begin";
    } else if (mode.child("StartIntervalAfterScenarioBeginning")) {
      const int seconds = numberOf(mode.child("StartIntervalAfterScenarioBeginning"));
      const std::string from = initAllBeforeStart ? " s after all vusers are initialized" : " s after scenario begin";
      schedule.start = seconds > 0 ? std::to_string(seconds) + from : "at scenario begin";
    } else if (mode.child("StartAfterGroup")) {
      const std::string after = textOf(mode.child("StartAfterGroup"));
      schedule.start = after.empty() ? "at scenario begin" : "after group " + after + " finished running";
    } else {
      schedule.start = "no known startup mode";
    }
  } else {
    schedule.start = "at scenario begin";
  }
  const pugi::xml_node scheduling = body.child("Scheduling");
  if (!scheduling) {
    schedule.initialization = "Scheduling missing";
    return schedule;
  }
  if (const pugi::xml_node init = scheduling.child("Initialization")) {
    if (init.child("InitAll")) {
      schedule.initialization = "InitAll (all vusers at once)";
    } else if (const pugi::xml_node ramp = init.child("RampInitAll")) {
      schedule.initialization = "RampInitAll " + batchWords(ramp);
    } else {
      schedule.initialization = "no InitAll or RampInitAll";
    }
    if (const pugi::xml_node delay = init.child("DelayAfterInitialization")) {
      if (numberOf(delay) > 0) schedule.delayAfterInitialization = std::to_string(numberOf(delay)) + " s";
    }
  }
  if (const pugi::xml_node untilComplete = scheduling.child("RunUntilComplete")) {
    schedule.untilComplete = true;
    if (const pugi::xml_node first = untilComplete.first_child()) schedule.actions.push_back(describeAction(first));
  } else if (const pugi::xml_node dynamic = scheduling.child("DynamicScheduling")) {
    for (const pugi::xml_node& child : dynamic.children()) schedule.actions.push_back(describeAction(child));
  }
  return schedule;
}

}  // namespace

std::vector<std::string> DefinitionSummary::groupNames() const {
  std::vector<std::string> names;
  for (const ScheduleSummary& schedule : schedules) {
    if (!schedule.group.empty()) names.push_back(schedule.group);
  }
  return names;
}

DefinitionSummary summarizeDefinition(const std::string& xml) {
  DefinitionSummary summary;
  pugi::xml_document document;
  const pugi::xml_parse_result result = document.load_string(xml.c_str(), pugi::parse_default | pugi::parse_comments);
  if (!result) {
    summary.parseError = std::string(result.description()) + " at offset " + std::to_string(result.offset);
    return summary;
  }
  summary.parsed = true;
  const pugi::xpath_node id = document.select_node("//Schedulers/CurrentSchedulerId");
  if (!id) return summary;
  summary.schedulerId = textOf(id.node());
  pugi::xml_node manual;
  for (const pugi::xpath_node& scheduler : document.select_nodes("//Scheduler")) {
    if (trim(scheduler.node().attribute("ID").value()) == summary.schedulerId && scheduler.node().child("Manual")) {
      manual = scheduler.node().child("Manual");
      break;
    }
  }
  if (!manual) return summary;
  summary.found = true;
  summary.type = textOf(manual.child("SchedulerType"));
  const pugi::xml_node body = manual.child(summary.type.c_str());
  if (summary.type == "Global" && body) {
    summary.schedules.push_back(describeSchedule(body, "", false));
  } else if (summary.type == "Groups" && body) {
    summary.initAllBeforeStart = textOf(body.child("InitAllBeforeStart")) == "true";
    for (const pugi::xml_node& group : body.children("GroupScheduler")) {
      std::string name = textOf(group.child("GroupName"));
      summary.schedules.push_back(describeSchedule(group, name.empty() ? "(unnamed)" : name, summary.initAllBeforeStart));
    }
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
