// qvschedule preview: the whole schedule in virtual time on a manual clock, its timeline, and the
// chart and series of the simulated pools.
#include "Chart.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "JsonOutput.h"
#include "Output.h"
#include "Progress.h"
#include "Session.h"

#include "QVClock.h"
#include "QVSchedule.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unistd.h>

namespace {

// The preview gives up after this much schedule time.
constexpr std::uint64_t kPreviewLimitSeconds = 30ULL * 24 * 3600;

enum class PreviewEnd { Finished, Idle, Limit };

// Says that the scheduler's threads did not settle and ends the program at once: they are still
// busy (a timer pass or a host call that does not end), so nothing can be shut down cleanly.
[[noreturn]] void exitUnsettled(const QVManualClock& clock, std::uint64_t origin, const std::string& reason) {
  char at[32];
  std::snprintf(at, sizeof at, "%.3f", static_cast<double>(clock.now() - origin) / QV_FILE_TIME_UNITS_PER_SECOND);
  writeStandard(2, std::string("qvschedule: preview: the scheduler was still busy after a minute of real time at ") + at +
                       " s of schedule time; the preview cannot go on (" + reason + ")\n");
  std::_Exit(exitcode::kSchedulerFailed);
}

// Jumps from one armed timer to the next until the schedule finishes, nothing is armed any more,
// or the limit of schedule time has passed.
PreviewEnd advanceToTheEnd(QVManualClock& clock, const SimulatedVusers& host, std::uint64_t origin) {
  const std::uint64_t limit = origin + kPreviewLimitSeconds * QV_FILE_TIME_UNITS_PER_SECOND;
  try {
    while (!host.isFinished() && clock.now() < limit) {
      if (clock.runUntilIdle(std::chrono::hours(1))) return host.isFinished() ? PreviewEnd::Finished : PreviewEnd::Idle;
    }
  } catch (const std::runtime_error& e) {  // the clock's settle gave up
    exitUnsettled(clock, origin, e.what());
  }
  return host.isFinished() ? PreviewEnd::Finished : PreviewEnd::Limit;
}

// Prints how the preview ended; answers the end of the chart.
std::uint64_t reportEnd(Session& session, PreviewEnd how, std::uint64_t origin, std::uint64_t now) {
  const SimulatedVusers& host = *session.host;
  Console& console = session.console;
  switch (how) {
    case PreviewEnd::Finished: {
      const std::uint64_t end = host.finishedAt();
      const std::uint64_t done = std::max(end, host.doneAt());
      console.line(done, "note",
                   "scheduler finished after " + console.elapsed(end) +
                       (done > end ? ", the last vusers running until complete completed after " + console.elapsed(done)
                                   : std::string()) +
                       "; vusers: " + poolSummary(host));
      return done;
    }
    case PreviewEnd::Idle: {
      std::uint64_t last = origin;
      for (const SimulatedVusers::Sample& s : host.samples()) last = std::max(last, s.at);
      console.line(last, "note",
                   "nothing further happens: the schedule runs indefinitely or waits for an event the simulated "
                   "vusers never raise; vusers: " + poolSummary(host));
      return last;
    }
    case PreviewEnd::Limit:
      console.line(now, "note", "still running after 30 days of schedule time; the preview stopped at its limit");
      return now;
  }
  return now;
}

const char* endWord(PreviewEnd how) {
  switch (how) {
    case PreviewEnd::Finished:
      return "finished";
    case PreviewEnd::Idle:
      return "idle";
    case PreviewEnd::Limit:
      return "limit";
  }
  return "";
}

// Each pool's group with what its schedule asks for and the size of its pool.
std::vector<GroupLoad> groupLoads(const Session& session) {
  // By pool name; the scenario's schedule (no group) asks for the scenario's pool. Of two
  // schedules of one group the later counts.
  std::unordered_map<std::string, long long> asksFor;
  for (const ScheduleSummary& schedule : session.summary.schedules) {
    asksFor[schedule.group.empty() ? SimulatedVusers::kScenarioPool : schedule.group] = schedule.asksFor();
  }
  std::vector<GroupLoad> groups;
  for (const std::string& pool : session.host->poolNames()) {
    GroupLoad group;
    group.name = pool;
    group.pool = session.host->counts(pool).total;
    const auto found = asksFor.find(pool);
    if (found != asksFor.end()) group.asksFor = found->second;
    groups.push_back(group);
  }
  return groups;
}

// Writes one output file, when asked for; a failure is reported (Output.h).
template <typename Writer>
void writeOutput(Console& console, const std::string& path, const char* what, Writer write) {
  if (path.empty()) return;
  std::ostringstream out;
  write(out);
  if (writeOutputFile(path, out.str())) console.text(std::string(what) + " written to " + path);
}

}  // namespace

int commandPreview(const PreviewOptions& options) {
  SimulatedVusers::Settings settings;
  if (!poolSettings(options.pools, settings)) return exitcode::kUsage;
  const Definition definition = readDefinition(options.definition);
  auto clock = std::make_shared<QVManualClock>();
  QVSetClock(clock);

  Session session;
  if (options.format == Format::Json) session.console.useJsonLines();
  if (!options.jsonPath.empty()) session.console.recordJson();
  session.strict = options.strict;
  if (!session.open(definition, settings, options.logLines, std::string())) {
    session.close();
    return anyOutputFailed() ? exitcode::kOutputFailed : exitcode::kRefused;
  }
  SimulatedVusers& host = *session.host;
  session.console.text("qvschedule preview: " + definition.name + " in virtual time; pools: " + poolSummary(host));

  const std::uint64_t origin = clock->now();
  session.begin(origin);
  if (!CQVSchedulerFacade::start()) {
    writeStandard(STDERR_FILENO, "qvschedule: preview: the scheduler did not start (the system refused its timer thread)\n");
    session.close();
    return exitcode::kSchedulerFailed;
  }
  const PreviewEnd how = advanceToTheEnd(*clock, host, origin);
  const std::uint64_t end = reportEnd(session, how, origin, clock->now());

  ChartData chart;
  chart.title = "qvschedule preview: " + definition.name;
  chart.groups = host.poolNames();
  chart.samples = host.samples();
  chart.origin = origin;
  chart.end = std::max(end, origin + QV_FILE_TIME_UNITS_PER_SECOND);
  const LoadSummary load =
      summarizeLoad(chart, how == PreviewEnd::Finished ? host.finishedAt() : 0, groupLoads(session));
  session.console.text(formatLoadSummary(load));
  const std::vector<std::string> timeline = session.console.recordedJson();
  session.close();

  writeOutput(session.console, options.svgPath, "chart", [&](std::ostream& out) { writeChartSvg(out, chart); });
  writeOutput(session.console, options.csvPath, "series", [&](std::ostream& out) { writeChartCsv(out, chart); });
  writeOutput(session.console, options.jsonPath, "preview", [&](std::ostream& out) {
    out << previewJson(definition.name, endWord(how), timeline, chart, load) << '\n';
  });
  if (anyOutputFailed()) return exitcode::kOutputFailed;
  return how == PreviewEnd::Limit ? exitcode::kPreviewLimit : exitcode::kFinished;
}
