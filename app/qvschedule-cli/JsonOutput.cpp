#include "JsonOutput.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace {

using json = nlohmann::ordered_json;

std::string dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

json countJson(const std::string& count) {
  if (count.empty() || count == "-") return nullptr;
  char* end = nullptr;
  const long n = std::strtol(count.c_str(), &end, 10);
  return *end == '\0' ? json(n) : json(count);
}

json orNull(const std::string& text, const char* none = "") { return text.empty() || text == none ? json() : json(text); }

json scheduleJson(const ScheduleSummary& schedule) {
  json actions = json::array();
  for (const ActionSummary& action : schedule.actions) actions.push_back({{"name", action.name}, {"detail", action.detail}});
  return {{"group", orNull(schedule.group)},
          {"start", schedule.start},
          {"initialization", schedule.initialization},
          {"delay_after_initialization", orNull(schedule.delayAfterInitialization)},
          {"actions", actions},
          {"run_mode", schedule.untilComplete ? "until complete" : "indefinitely"}};
}

}  // namespace

std::string timelineEntryJson(double seconds, const SimulatedVusers::Entry& entry) {
  json pool;
  if (entry.hasCounts) {
    pool = {{"idle", entry.counts.idle},
            {"initialized", entry.counts.initialized},
            {"running", entry.counts.running},
            {"done", entry.counts.done}};
  }
  const json line = {{"time", seconds},
                     {"kind", entry.kind},
                     {"group", entry.group},
                     {"call", entry.what},
                     {"count", countJson(entry.count)},
                     {"status", orNull(entry.status, "-")},
                     {"mode", orNull(entry.mode)},
                     {"pool", pool}};
  return dump(line);
}

std::string timelineTextJson(double seconds, const std::string& kind, const std::string& text) {
  return dump({{"time", seconds}, {"kind", kind}, {"text", text}});
}

std::string checkJson(const std::string& definition, bool valid, const DefinitionSummary& summary,
                      const std::vector<std::string>& diagnostics) {
  json result = {{"definition", definition}, {"valid", valid}, {"summary", nullptr}, {"diagnostics", diagnostics}};
  if (valid) {
    json schedules = json::array();
    for (const ScheduleSummary& schedule : summary.schedules) schedules.push_back(scheduleJson(schedule));
    result["summary"] = {{"scheduler_id", summary.schedulerId},
                         {"type", summary.type},
                         {"init_all_before_start", summary.initAllBeforeStart},
                         {"schedules", schedules}};
  }
  return dump(result);
}
