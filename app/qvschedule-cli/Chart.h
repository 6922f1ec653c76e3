// The running and initialized vusers of every group over time, as CSV, as JSON rows and as a
// standalone SVG line chart (step lines: a count holds until its next sample), and the summary
// of the load a preview prints: its duration and the peak running vusers of each group and of
// all together.
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

// The samples that change something, in time order: of several samples of one group at one
// time only the last counts, and one that leaves the group's counts as they were is dropped.
std::vector<SimulatedVusers::Sample> chartChanges(const ChartData& data);

// Header "time_s,group,running,initialized", then one row per change (chartChanges).
void writeChartCsv(std::ostream& out, const ChartData& data);
void writeChartSvg(std::ostream& out, const ChartData& data);

struct GroupLoad {
  std::string name;
  long peakRunning = 0;
  long long asksFor = 0;  // the vusers its schedule starts in all; ActionSummary::kAll for all
  long pool = 0;
};

struct LoadSummary {
  std::uint64_t duration = 0;           // file-time units from the start to the end of the chart
  bool finished = false;                // the scheduler finished the schedule
  std::uint64_t schedulerFinished = 0;  // units from the start to the scheduler's finish
  long peakRunning = 0;                 // of all groups together
  std::uint64_t peakAt = 0;             // units from the start: when the peak was first reached
  std::vector<GroupLoad> groups;        // in chart order
};

// The peaks of the chart's samples. `schedulerFinishedAt` is the file time of the scheduler's
// finish, 0 when it did not finish; `groups` gives asksFor and pool per group, in chart order.
LoadSummary summarizeLoad(const ChartData& data, std::uint64_t schedulerFinishedAt, std::vector<GroupLoad> groups);
// The lines preview prints ("load: ...").
std::string formatLoadSummary(const LoadSummary& summary);
