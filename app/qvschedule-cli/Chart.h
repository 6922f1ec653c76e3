// The running and initialized vusers of every group over time, as CSV and as a standalone SVG
// line chart (step lines: a count holds until its next sample).
#pragma once

#include "SimulatedVusers.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct ChartData {
  std::string title;
  std::vector<std::string> groups;              // series order
  std::vector<SimulatedVusers::Sample> samples;  // in time order
  std::uint64_t origin = 0;                      // file time of second 0
  std::uint64_t end = 0;                         // file time where the chart ends
};

// Header "time_s,group,running,initialized", then one row per sample.
void writeChartCsv(std::ostream& out, const ChartData& data);
void writeChartSvg(std::ostream& out, const ChartData& data);
