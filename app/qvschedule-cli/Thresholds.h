// Pass/fail conditions on the measurements of a run, for CI: "p95<250ms", "p99<1s",
// "errors<1%", "rps>100", per group with a prefix ("g1:p95<200ms").
//
//   [GROUP:]METRIC OP VALUE
//   METRIC  p50 p90 p95 p99 max mean (latency; VALUE in us, ms (the default) or s)
//           errors (VALUE with % : errors per request; without: a count)
//           rps (requests per second over the run), requests, init-errors (counts)
//   OP      <  <=  >  >=
#pragma once

#include "Metrics.h"

#include <string>

struct Threshold {
  enum class Metric { P50, P90, P95, P99, Max, Mean, ErrorRate, Errors, Rps, Requests, InitErrors };
  enum class Op { Less, LessOrEqual, Greater, GreaterOrEqual };

  std::string text;   // as given
  std::string group;  // empty: every group together
  Metric metric = Metric::P95;
  Op op = Op::Less;
  double limit = 0;   // milliseconds for latencies, a fraction for the error rate
};

// Answers an empty string and fills `threshold`, or the reason the text is not a threshold.
std::string parseThreshold(const std::string& text, Threshold& threshold);

struct ThresholdVerdict {
  bool passed = false;
  double value = 0;       // in the unit of the limit
  std::string valueText;  // "p95 = 12.3 ms"
};

// `seconds` is the length of the run (for rps).
ThresholdVerdict evaluateThreshold(const Threshold& threshold, const MetricsTotals& totals, double seconds);
