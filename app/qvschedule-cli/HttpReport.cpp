#include "HttpReport.h"

#include "QVClock.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>

namespace {

using nlohmann::json;

std::string fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string bytesText(std::uint64_t bytes) {
  const double b = static_cast<double>(bytes);
  if (b >= 1e9) return fixed(b / 1e9, 2) + " GB";
  if (b >= 1e6) return fixed(b / 1e6, 2) + " MB";
  if (b >= 1e3) return fixed(b / 1e3, 1) + " kB";
  return std::to_string(bytes) + " B";
}

std::string column(const std::string& text, std::size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string tableRow(const std::string& name, const MetricsTotals& m, double seconds) {
  const double rps = seconds > 0 ? static_cast<double>(m.requests) / seconds : 0;
  const std::string errors = std::to_string(m.errorCount()) + " (" + fixed(100 * m.errorRate(), 2) + "%)";
  std::string row = column(name, 11) + column(std::to_string(m.requests), 10) + column(fixed(rps, 1), 9) +
                    column(errors, 15);
  for (const std::uint64_t e : m.errors) row += column(std::to_string(e), 8);
  for (const double q : {0.50, 0.90, 0.95, 0.99}) row += column(formatMs(m.quantileMs(q)), 10);
  row += column(formatMs(static_cast<double>(m.latencyMaxUs) / 1000.0), 10) + bytesText(m.bytes);
  return row;
}

std::string statusCodes(const MetricsTotals& m) {
  std::string text;
  for (const auto& item : m.statuses) {
    text += (text.empty() ? "" : ", ") + (item.first ? std::to_string(item.first) : std::string("other")) + " " +
            std::to_string(item.second);
  }
  return text.empty() ? "none" : text;
}

std::string protocolCounts(const MetricsTotals& m) {
  std::string text;
  for (std::size_t p = 0; p < kProtocols; ++p) {
    if (!m.protocols[p]) continue;
    text += (text.empty() ? "" : ", ") + std::string(protocolName(p)) + " " + std::to_string(m.protocols[p]);
  }
  return text.empty() ? "none" : text;
}

json totalsJson(const MetricsTotals& m, double seconds) {
  json statuses = json::object();
  for (const auto& item : m.statuses) statuses[std::to_string(item.first)] = item.second;
  json protocols = json::object();
  for (std::size_t p = 0; p < kProtocols; ++p) {
    if (m.protocols[p]) protocols[protocolName(p)] = m.protocols[p];
  }
  return json{{"requests", m.requests},
              {"rps", seconds > 0 ? static_cast<double>(m.requests) / seconds : 0.0},
              {"errors",
               {{"total", m.errorCount()},
                {"rate", m.errorRate()},
                {"connect", m.errors[0]},
                {"timeout", m.errors[1]},
                {"http", m.errors[2]},
                {"other", m.errors[3]}}},
              {"init", {{"ok", m.initOk}, {"errors", m.initErrors}}},
              {"status_codes", statuses},
              {"protocols", protocols},
              {"bytes_received", m.bytes},
              {"latency_ms",
               {{"p50", m.quantileMs(0.50)},
                {"p90", m.quantileMs(0.90)},
                {"p95", m.quantileMs(0.95)},
                {"p99", m.quantileMs(0.99)},
                {"max", static_cast<double>(m.latencyMaxUs) / 1000.0},
                {"mean", m.meanMs()}}},
              {"start_lag_ms_max", static_cast<double>(m.startLagMaxUs) / 1000.0}};
}

json countsJson(const VusersCounts& c) {
  return json{{"total", c.total}, {"idle", c.idle}, {"initialized", c.initialized}, {"running", c.running},
              {"done", c.done}};
}

json pointJson(const SeriesPoint& p) {
  return json{{"running", p.running},       {"requests", p.requests},       {"errors", p.errors},
              {"rps", p.requestsPerSecond}, {"errors_per_s", p.errorsPerSecond}, {"p95_ms", p.p95Ms}};
}

json seriesJson(const RunRecord& r) {
  json series = json::array();
  for (const SeriesSample& s : r.series) {
    json groups = json::object();
    for (std::size_t i = 0; i < s.pools.size() && i < r.final.pools.size(); ++i) {
      groups[r.final.pools[i].name] = pointJson(s.pools[i]);
    }
    series.push_back({{"t_s", s.seconds}, {"schedule_s", s.scheduleSeconds}, {"total", pointJson(s.total)},
                      {"groups", groups}});
  }
  return series;
}

json timelineJson(const RunRecord& r) {
  json timeline = json::array();
  for (const TimelineEntry& e : r.timeline) {
    const double at = e.at > r.origin ? static_cast<double>(e.at - r.origin) / QV_FILE_TIME_UNITS_PER_SECOND : 0.0;
    json item{{"schedule_s", at}, {"kind", e.kind},     {"group", e.group},
              {"what", e.what},   {"count", e.count},   {"status", e.status}};
    if (!e.mode.empty()) item["mode"] = e.mode;
    if (e.hasCounts) item["pool"] = countsJson(e.counts);
    timeline.push_back(std::move(item));
  }
  return timeline;
}

}  // namespace

const MetricsTotals& totalsFor(const RunRecord& record, const std::string& group) {
  for (const PoolState& pool : record.final.pools) {
    if (pool.name == group) return pool.cumulative;
  }
  return record.final.total.cumulative;
}

std::string summaryTable(const RunRecord& r) {
  std::ostringstream out;
  out << "summary: " << fixed(r.seconds, 1) << " s" << (r.stopped ? " (stopped)" : "") << ", " << r.method
      << ", think " << r.thinkMs << " ms, timeout " << r.timeoutMs << " ms\n";
  out << column("group", 11) << column("requests", 10) << column("rps", 9) << column("errors", 15)
      << column("connect", 8) << column("timeout", 8) << column("http", 8) << column("other", 8) << column("p50", 10)
      << column("p90", 10) << column("p95", 10) << column("p99", 10) << column("max", 10) << "received\n";
  for (const PoolState& pool : r.final.pools) out << tableRow(pool.name, pool.cumulative, r.seconds) << '\n';
  if (r.final.pools.size() > 1) out << tableRow("total", r.final.total.cumulative, r.seconds) << '\n';
  out << "status codes: " << statusCodes(r.final.total.cumulative) << '\n';
  out << "protocols: " << protocolCounts(r.final.total.cumulative) << '\n';
  for (std::size_t i = 0; i < r.final.pools.size() && i < r.initErrors.size(); ++i) {
    const PoolState& pool = r.final.pools[i];
    if (r.initErrors[i].first == 0) continue;
    out << "init errors: " << pool.name << ": " << r.initErrors[i].first << " of "
        << (pool.cumulative.initOk + pool.cumulative.initErrors) << " vusers could not connect to " << r.urls[i]
        << " (" << r.initErrors[i].second << ")\n";
  }
  for (const auto& item : r.thresholds) {
    out << "threshold " << column(item.first.text, 18) << column(item.second.valueText, 24)
        << (item.second.passed ? "passed" : "FAILED") << '\n';
  }
  std::string text = out.str();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void writeJson(std::ostream& out, const RunRecord& r) {
  json groups = json::array();
  for (std::size_t i = 0; i < r.final.pools.size(); ++i) {
    const PoolState& pool = r.final.pools[i];
    json g = totalsJson(pool.cumulative, r.seconds);
    g["name"] = pool.name;
    g["url"] = i < r.urls.size() ? r.urls[i] : std::string();
    g["vusers"] = countsJson(pool.counts);
    if (i < r.initErrors.size() && r.initErrors[i].first) g["init"]["first_error"] = r.initErrors[i].second;
    groups.push_back(std::move(g));
  }
  json total = totalsJson(r.final.total.cumulative, r.seconds);
  total["vusers"] = countsJson(r.final.total.counts);
  json thresholds = json::array();
  for (const auto& item : r.thresholds) {
    thresholds.push_back({{"expression", item.first.text},
                          {"group", item.first.group},
                          {"value", item.second.value},
                          {"text", item.second.valueText},
                          {"passed", item.second.passed}});
  }
  const json document{
      {"schema", "qvschedule-http-run/1"},
      {"definition", r.definition},
      {"request",
       {{"method", r.method}, {"think_ms", r.thinkMs}, {"timeout_ms", r.timeoutMs}, {"iterations", r.iterations}}},
      {"speed", r.speed},
      {"duration_s", r.seconds},
      {"stopped", r.stopped},
      {"exit_code", r.exitCode},
      {"groups", groups},
      {"total", total},
      {"thresholds", thresholds},
      {"series", seriesJson(r)},
      {"timeline", timelineJson(r)}};
  out << document.dump(2) << '\n';
}

void writeSeriesCsv(std::ostream& out, const RunRecord& r) {
  out << "time_s,schedule_s,group,running,requests_per_s,errors_per_s,p95_ms\n";
  const auto row = [&out](const SeriesSample& s, const std::string& group, const SeriesPoint& p) {
    out << fixed(s.seconds, 3) << ',' << fixed(s.scheduleSeconds, 3) << ',' << group << ',' << p.running << ','
        << fixed(p.requestsPerSecond, 2) << ',' << fixed(p.errorsPerSecond, 2) << ',' << fixed(p.p95Ms, 3) << '\n';
  };
  for (const SeriesSample& s : r.series) {
    for (std::size_t i = 0; i < s.pools.size() && i < r.final.pools.size(); ++i) row(s, r.final.pools[i].name, s.pools[i]);
    row(s, "total", s.total);
  }
}
