#include "Thresholds.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

using Metric = Threshold::Metric;
using Op = Threshold::Op;

const std::vector<std::pair<const char*, Metric>>& metricNames() {
  static const std::vector<std::pair<const char*, Metric>> names = {
      {"p50", Metric::P50},   {"p90", Metric::P90},           {"p95", Metric::P95},   {"p99", Metric::P99},
      {"max", Metric::Max},   {"mean", Metric::Mean},         {"errors", Metric::Errors}, {"rps", Metric::Rps},
      {"requests", Metric::Requests}, {"init-errors", Metric::InitErrors}};
  return names;
}

bool isLatency(Metric m) {
  return m == Metric::P50 || m == Metric::P90 || m == Metric::P95 || m == Metric::P99 || m == Metric::Max ||
         m == Metric::Mean;
}

const char* metricWord(Metric m) {
  if (m == Metric::ErrorRate) return "errors";
  for (const auto& item : metricNames()) {
    if (item.second == m) return item.first;
  }
  return "?";
}

// Reads the operator at `at`; answers its length, 0 when there is none.
std::size_t readOp(const std::string& text, std::size_t at, Op& op) {
  if (at >= text.size() || (text[at] != '<' && text[at] != '>')) return 0;
  const bool orEqual = at + 1 < text.size() && text[at + 1] == '=';
  op = text[at] == '<' ? (orEqual ? Op::LessOrEqual : Op::Less) : (orEqual ? Op::GreaterOrEqual : Op::Greater);
  return orEqual ? 2 : 1;
}

// The limit with its unit, converted for the metric; an empty answer when fine.
std::string readLimit(const std::string& text, Threshold& t) {
  if (text.empty()) return "no value after the operator";
  errno = 0;
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || errno != 0 || !std::isfinite(number) || number < 0) {
    return "the value must be a number >= 0";
  }
  const std::string unit(end);
  if (isLatency(t.metric)) {
    if (unit.empty() || unit == "ms") {
      t.limit = number;
    } else if (unit == "s") {
      t.limit = number * 1000;
    } else if (unit == "us") {
      t.limit = number / 1000;
    } else {
      return "a latency is in us, ms or s, not \"" + unit + "\"";
    }
    return std::string();
  }
  if (t.metric == Metric::Errors && unit == "%") {
    t.metric = Metric::ErrorRate;
    t.limit = number / 100;
    return std::string();
  }
  if (!unit.empty()) return std::string("\"") + metricWord(t.metric) + "\" takes a plain number, not \"" + unit + "\"";
  t.limit = number;
  return std::string();
}

}  // namespace

std::string parseThreshold(const std::string& text, Threshold& t) {
  t = Threshold{};
  t.text = text;
  std::string rest;
  for (const char c : text) {
    if (c != ' ') rest += c;
  }
  const auto colon = rest.find(':');
  if (colon != std::string::npos) {
    t.group = rest.substr(0, colon);
    if (t.group.empty()) return "no group before \":\"";
    rest.erase(0, colon + 1);
  }
  std::size_t nameEnd = 0;
  while (nameEnd < rest.size() && rest[nameEnd] != '<' && rest[nameEnd] != '>') ++nameEnd;
  if (nameEnd == rest.size()) return "expected <, <=, > or >= in \"" + text + "\"";
  const std::string name = rest.substr(0, nameEnd);
  bool known = false;
  for (const auto& item : metricNames()) {
    if (name == item.first) {
      t.metric = item.second;
      known = true;
    }
  }
  if (!known) return "unknown measurement \"" + name + "\" (p50 p90 p95 p99 max mean errors rps requests init-errors)";
  const std::size_t opLength = readOp(rest, nameEnd, t.op);
  if (!opLength) return "expected <, <=, > or >= after \"" + name + "\"";
  return readLimit(rest.substr(nameEnd + opLength), t);
}

namespace {

double valueOf(const Threshold& t, const MetricsTotals& m, double seconds) {
  switch (t.metric) {
    case Metric::P50: return m.quantileMs(0.50);
    case Metric::P90: return m.quantileMs(0.90);
    case Metric::P95: return m.quantileMs(0.95);
    case Metric::P99: return m.quantileMs(0.99);
    case Metric::Max: return static_cast<double>(m.latencyMaxUs) / 1000.0;
    case Metric::Mean: return m.meanMs();
    case Metric::ErrorRate: return m.errorRate();
    case Metric::Errors: return static_cast<double>(m.errorCount());
    case Metric::Rps: return seconds > 0 ? static_cast<double>(m.requests) / seconds : 0;
    case Metric::Requests: return static_cast<double>(m.requests);
    case Metric::InitErrors: return static_cast<double>(m.initErrors);
  }
  return 0;
}

}  // namespace

ThresholdVerdict evaluateThreshold(const Threshold& t, const MetricsTotals& totals, double seconds) {
  ThresholdVerdict v;
  v.value = valueOf(t, totals, seconds);
  switch (t.op) {
    case Op::Less: v.passed = v.value < t.limit; break;
    case Op::LessOrEqual: v.passed = v.value <= t.limit; break;
    case Op::Greater: v.passed = v.value > t.limit; break;
    case Op::GreaterOrEqual: v.passed = v.value >= t.limit; break;
  }
  char buffer[96];
  if (isLatency(t.metric)) {
    std::snprintf(buffer, sizeof buffer, "%s = %s", metricWord(t.metric), formatMs(v.value).c_str());
  } else if (t.metric == Metric::ErrorRate) {
    std::snprintf(buffer, sizeof buffer, "errors = %.2f%%", v.value * 100);
  } else if (t.metric == Metric::Rps) {
    std::snprintf(buffer, sizeof buffer, "rps = %.1f", v.value);
  } else {
    std::snprintf(buffer, sizeof buffer, "%s = %.0f", metricWord(t.metric), v.value);
  }
  v.valueText = buffer;
  return v;
}
