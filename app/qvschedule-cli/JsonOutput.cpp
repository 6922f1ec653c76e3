#include "JsonOutput.h"

#include <nlohmann/json.hpp>

#include "QVClock.h"

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
                      const std::vector<QVDefinitionDiagnostic>& diagnostics) {
  json list = json::array();
  for (const QVDefinitionDiagnostic& d : diagnostics) {
    list.push_back({{"severity", d.severity == QVDefinitionDiagnostic::SEVERITY_WARNING ? "warning" : "error"},
                    {"message", d.message},
                    {"path", d.path},
                    {"line", d.line},
                    {"column", d.column},
                    {"value", d.value},
                    {"expected", d.expected}});
  }
  json result = {{"definition", definition}, {"valid", valid}, {"summary", nullptr}, {"diagnostics", list}};
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

std::string previewJson(const std::string& definition, const std::string& end,
                        const std::vector<std::string>& timeline, const ChartData& chart, const LoadSummary& summary) {
  const auto seconds = [](std::uint64_t units) {
    return static_cast<double>(units / QV_FILE_TIME_UNITS_PER_MILLISECOND) / 1000.0;
  };
  json lines = json::array();
  for (const std::string& line : timeline) lines.push_back(json::parse(line));
  json series = json::array();
  for (const SimulatedVusers::Sample& change : chartChanges(chart)) {
    series.push_back({{"time_s", seconds(change.at > chart.origin ? change.at - chart.origin : 0)},
                      {"group", change.group},
                      {"running", change.running},
                      {"initialized", change.initialized}});
  }
  json groups = json::array();
  for (const GroupLoad& group : summary.groups) {
    groups.push_back({{"name", group.name},
                      {"peak_running", group.peakRunning},
                      {"asks_for", group.asksFor == ActionSummary::kAll ? json("all") : json(group.asksFor)},
                      {"pool", group.pool}});
  }
  const json result = {
      {"definition", definition},
      {"end", end},
      {"timeline", lines},
      {"series", series},
      {"summary",
       {{"duration_s", seconds(summary.duration)},
        {"scheduler_finished_s", summary.finished ? json(seconds(summary.schedulerFinished)) : json()},
        {"peak_running", summary.peakRunning},
        {"peak_running_at_s", seconds(summary.peakAt)},
        {"groups", groups}}}};
  return dump(result);
}
