// What a run of HTTP vusers leaves: the summary table printed at the end, the JSON document of
// --out (summary, thresholds, per-second series, timeline) and the CSV of --out-csv (the series).
// Plain functions of a finished run's record.
#pragma once

#include "HttpVusers.h"
#include "Thresholds.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct RunRecord {
  std::string definition;
  std::string method;
  long thinkMs = 0;
  long timeoutMs = 0;
  long iterations = 0;
  double speed = 1;
  bool stopped = false;  // stopped by request rather than finished
  double seconds = 0;    // real seconds from the start to the end of the last vuser
  std::uint64_t origin = 0;  // file time of the schedule's start (timeline times count from it)
  std::vector<std::string> urls;  // per pool
  std::vector<std::pair<long, std::string>> initErrors;  // per pool: count, first message
  HttpSnapshot final;
  std::vector<SeriesSample> series;
  std::vector<TimelineEntry> timeline;
  std::vector<std::pair<Threshold, ThresholdVerdict>> thresholds;
  int exitCode = 0;
};

// The totals a threshold is checked against: its group's, or every group's.
const MetricsTotals& totalsFor(const RunRecord& record, const std::string& group);

std::string summaryTable(const RunRecord& record);
void writeJson(std::ostream& out, const RunRecord& record);
// Header "time_s,schedule_s,group,running,requests_per_s,errors_per_s,p95_ms"; one row per pool
// and one "total" row per second.
void writeSeriesCsv(std::ostream& out, const RunRecord& record);
