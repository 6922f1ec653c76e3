#include "RunStatus.h"

#include "Progress.h"

#include "QVClock.h"

#include <algorithm>
#include <cmath>

namespace {

using Json = RunStatus::Json;

double milliRound(double value) { return std::round(value * 1000.0) / 1000.0; }

Json poolJson(const VusersCounts& c) {
  return {{"total", c.total}, {"idle", c.idle}, {"initialized", c.initialized}, {"running", c.running}, {"done", c.done}};
}

Json stageJson(const ScheduleView& view) {
  if (!view.hasStage) return nullptr;
  const CQVSchedulerStage& s = view.stage;
  Json stage = {{"current", stageName(s.getCurrActionStage())}, {"has_next", s.hasNextStage()}, {"next", nullptr},
                {"seconds_to_next", nullptr}, {"vusers_in_next_batch", nullptr}};
  if (s.hasNextStage()) {
    stage["next"] = stageName(s.getNextActionStage());
    stage["seconds_to_next"] = s.getSecondsToNextStage();
    const int n = s.getNumberOfVusersInNextBatch();
    stage["vusers_in_next_batch"] = n == CQVSchedulerStage::ALL_VUSERS ? Json("all") : Json(n);
  }
  return stage;
}

// The scenario's run time, or by groups the longest of the groups'; null before any.
Json runTimeJson(const ScheduleView& view) {
  Json longest;
  for (const ScheduleView::Group& g : view.groups) {
    if (g.hasRunTime && (longest.is_null() || g.runTime > longest.get<long>())) longest = g.runTime;
  }
  return longest;
}

// The measurements of one pool (or of all): the last one-second sample and the run so far.
Json httpJson(const PoolState& pool) {
  const MetricsTotals& last = pool.lastSecond;
  const MetricsTotals& all = pool.cumulative;
  return {{"last_second",
           {{"rps", last.requests}, {"errors", last.errorCount()}, {"p95_ms", milliRound(last.quantileMs(0.95))}}},
          {"total",
           {{"requests", all.requests},
            {"errors", all.errorCount()},
            {"error_rate", all.errorRate()},
            {"p95_ms", milliRound(all.quantileMs(0.95))}}}};
}

}  // namespace

RunStatus::RunStatus(const LiveRun& live, const VusersHost& host, const Console& console, std::string definition,
                     double speed)
    : live_(live),
      host_(host),
      http_(dynamic_cast<const HttpVusers*>(&host)),
      console_(console),
      definition_(std::move(definition)),
      speed_(speed) {}

double RunStatus::secondsAt(std::uint64_t fileTime) const {
  const std::uint64_t origin = console_.origin();
  return fileTime > origin ? milliRound(static_cast<double>(fileTime - origin) / QV_FILE_TIME_UNITS_PER_SECOND) : 0.0;
}

Json RunStatus::groupsJson(const ScheduleView& view, const std::vector<VusersCounts>& pools,
                          const std::optional<HttpSnapshot>& http) const {
  Json groups = Json::array();
  for (std::size_t i = 0; i < view.groups.size(); ++i) {
    const ScheduleView::Group& g = view.groups[i];
    groups.push_back({{"name", g.name},
                      {"state", live_.groupState(g.name)},
                      {"run_time_s", g.hasRunTime ? Json(g.runTime) : Json()},
                      {"run_mode", g.hasMode ? Json(runModeWord(g.mode)) : Json()},
                      {"pool", poolJson(pools[i])},
                      {"http", http && i < http->pools.size() ? httpJson(http->pools[i]) : Json()}});
  }
  return groups;
}

Json RunStatus::statusAt(std::uint64_t now) const {
  const ScheduleView view = live_.schedule();
  std::optional<HttpSnapshot> http;
  if (http_) http = http_->snapshot();
  std::vector<VusersCounts> pools;  // read once, so that the total is their sum
  VusersCounts total;
  for (const ScheduleView::Group& group : view.groups) {
    pools.push_back(host_.counts(group.name));
    const VusersCounts& c = pools.back();
    total.total += c.total;
    total.idle += c.idle;
    total.initialized += c.initialized;
    total.running += c.running;
    total.done += c.done;
  }
  // Times count from the start, which comes before "running", and stand still at the end (read after
  // `now`, so that a status taken before the end never shows a later time). The end is the earlier of
  // the stop or finish the run loop saw and the moment the scheduler reported the schedule finished,
  // which the host knows first (HTTP vusers drain before the loop wakes up to the end).
  const RunState state = live_.state();
  const std::uint64_t loopEnd = live_.endedAt();
  const std::uint64_t scheduleEnd = host_.finishedAt();
  const std::uint64_t ended = loopEnd == 0 || scheduleEnd == 0 ? loopEnd + scheduleEnd : std::min(loopEnd, scheduleEnd);
  return {{"state", runStateName(state)},
          {"definition", definition_},
          {"speed", speed_},
          {"time_s", state == RunState::Loaded ? 0.0 : secondsAt(ended ? std::min(ended, now) : now)},
          {"run_time_s", runTimeJson(view)},
          {"stage", stageJson(view)},
          {"groups", groupsJson(view, pools, http)},
          {"total", {{"pool", poolJson(total)}, {"http", http ? httpJson(http->total) : Json()}}}};
}

Json RunStatus::status() const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frozen_) return *frozen_;
  }
  return statusAt(QVNowFileTime());
}

void RunStatus::freeze() {
  Json status = statusAt(QVNowFileTime());
  std::lock_guard<std::mutex> lock(mutex_);
  frozen_ = std::move(status);
}

Json RunStatus::sample() const {
  Json groups = Json::object();
  for (const std::string& pool : live_.pools()) {
    const VusersCounts c = host_.counts(pool);
    groups[pool] = {{"running", c.running}, {"initialized", c.initialized}};
  }
  Json sample = {{"time", secondsAt(QVNowFileTime())}, {"groups", groups}, {"http", nullptr}};
  if (http_) {
    const HttpSnapshot snapshot = http_->snapshot();
    Json perPool = Json::object();
    for (const PoolState& pool : snapshot.pools) perPool[pool.name] = httpJson(pool)["last_second"];
    sample["http"] = {{"total", httpJson(snapshot.total)["last_second"]}, {"groups", perPool}};
  }
  return sample;
}
