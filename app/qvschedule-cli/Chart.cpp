#include "Chart.h"

#include "Console.h"
#include "DefinitionSummary.h"
#include "QVClock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <unordered_map>

namespace {

double secondsOf(const ChartData& data, std::uint64_t fileTime) {
  return fileTime > data.origin ? static_cast<double>(fileTime - data.origin) / QV_FILE_TIME_UNITS_PER_SECOND : 0.0;
}

std::string number(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string escapeXml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string escapeCsv(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// A tick step of 1, 2 or 5 times a power of ten giving at most about `ticks` intervals.
double niceStep(double range, int ticks) {
  const double raw = std::max(range, 1e-9) / ticks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * power >= raw) return factor * power;
  }
  return 10.0 * power;
}

// From an hour on, the time axis steps in whole minutes or hours and its labels are times.
constexpr double kHour = 3600;

double timeStep(double range) {
  if (range < kHour) return niceStep(range, 10);
  for (const double step : {600.0, 900.0, 1200.0, 1800.0, 3600.0, 7200.0, 10800.0, 21600.0, 43200.0}) {
    if (range / step <= 10) return step;
  }
  return std::ceil(range / 10 / 86400) * 86400;
}

// A tick label of the time axis: seconds on an axis shorter than an hour, else h:mm:ss on every
// tick, the first hour's included ("0:20:00"), as the axis title says.
std::string timeLabel(double seconds, double range, double step) {
  if (range < kHour) return number(seconds, step < 1 ? 1 : 0);
  const auto whole = static_cast<unsigned long long>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

const char* const kColors[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"};

}  // namespace

std::vector<SimulatedVusers::Sample> chartChanges(const ChartData& data) {
  std::vector<SimulatedVusers::Sample> collapsed;  // the last sample of each group at each moment
  std::map<std::string, std::size_t> lastOfGroup;  // its index in `collapsed`
  for (const SimulatedVusers::Sample& sample : data.samples) {
    const auto last = lastOfGroup.find(sample.group);
    if (last != lastOfGroup.end() && collapsed[last->second].at == sample.at) {
      collapsed[last->second] = sample;
      continue;
    }
    lastOfGroup[sample.group] = collapsed.size();
    collapsed.push_back(sample);
  }
  std::vector<SimulatedVusers::Sample> changes;
  std::map<std::string, std::pair<long, long>> counts;  // each group's running and initialized
  for (const SimulatedVusers::Sample& sample : collapsed) {
    const std::pair<long, long> now(sample.running, sample.initialized);
    const auto known = counts.find(sample.group);
    if (known != counts.end() && known->second == now) continue;
    counts[sample.group] = now;
    changes.push_back(sample);
  }
  return changes;
}

void writeChartCsv(std::ostream& out, const ChartData& data) {
  out << "time_s,group,running,initialized\n";
  for (const SimulatedVusers::Sample& sample : chartChanges(data)) {
    out << number(secondsOf(data, sample.at), 3) << ',' << escapeCsv(sample.group) << ',' << sample.running << ','
        << sample.initialized << '\n';
  }
}

namespace {

// The chart's geometry and scales: pixels of the page and of the plot, and the axes' ranges.
struct SvgFrame {
  static constexpr double kWidth = 960, kHeight = 540;
  static constexpr double kLeft = 70, kRight = 190, kTop = 56, kBottom = 64;
  static constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;

  explicit SvgFrame(const ChartData& data) : endSeconds(std::max(1.0, secondsOf(data, data.end))) {
    long maxCount = 1;
    for (const SimulatedVusers::Sample& s : data.samples) maxCount = std::max({maxCount, s.running, s.initialized});
    xStep = timeStep(endSeconds);
    xMax = std::ceil(endSeconds / xStep) * xStep;
    yStep = std::max(1.0, niceStep(static_cast<double>(maxCount), 8));
    yMax = std::ceil(static_cast<double>(maxCount) / yStep) * yStep;
  }
  double x(double seconds) const { return kLeft + seconds / xMax * kPlotW; }
  double y(double count) const { return kTop + kPlotH - count / yMax * kPlotH; }

  double endSeconds;
  double xStep = 1, xMax = 1, yStep = 1, yMax = 1;
};

const char* colorOf(std::size_t group) { return kColors[group % (sizeof kColors / sizeof kColors[0])]; }

void writeSvgHead(std::ostream& out, const std::string& title) {
  const double width = SvgFrame::kWidth, height = SvgFrame::kHeight;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height << "\" viewBox=\"0 0 "
      << width << ' ' << height << "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  out << "  <title>" << escapeXml(title) << "</title>\n";
  out << "  <rect x=\"0\" y=\"0\" width=\"" << width << "\" height=\"" << height << "\" fill=\"white\"/>\n";
  out << "  <text class=\"title\" x=\"" << SvgFrame::kLeft + SvgFrame::kPlotW / 2
      << "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">" << escapeXml(title) << "</text>\n";
}

void writeSvgGrid(std::ostream& out, const SvgFrame& f) {
  const double left = SvgFrame::kLeft, top = SvgFrame::kTop, plotW = SvgFrame::kPlotW, plotH = SvgFrame::kPlotH;
  out << "  <g class=\"grid\" stroke=\"#e0e0e0\" stroke-width=\"1\">\n";
  for (double t = 0; t <= f.xMax + 1e-9; t += f.xStep) {
    out << "    <line x1=\"" << number(f.x(t), 1) << "\" y1=\"" << top << "\" x2=\"" << number(f.x(t), 1) << "\" y2=\""
        << top + plotH << "\"/>\n";
  }
  for (double v = 0; v <= f.yMax + 1e-9; v += f.yStep) {
    out << "    <line x1=\"" << left << "\" y1=\"" << number(f.y(v), 1) << "\" x2=\"" << left + plotW << "\" y2=\""
        << number(f.y(v), 1) << "\"/>\n";
  }
  out << "  </g>\n";
  out << "  <g class=\"axes\" stroke=\"black\" stroke-width=\"1\">\n";
  out << "    <line class=\"x-axis\" x1=\"" << left << "\" y1=\"" << top + plotH << "\" x2=\"" << left + plotW << "\" y2=\""
      << top + plotH << "\"/>\n";
  out << "    <line class=\"y-axis\" x1=\"" << left << "\" y1=\"" << top << "\" x2=\"" << left << "\" y2=\"" << top + plotH
      << "\"/>\n";
  out << "  </g>\n";
}

void writeSvgTicks(std::ostream& out, const SvgFrame& f) {
  const double left = SvgFrame::kLeft, top = SvgFrame::kTop, plotW = SvgFrame::kPlotW, plotH = SvgFrame::kPlotH;
  out << "  <g class=\"x-ticks\" text-anchor=\"middle\">\n";
  for (double t = 0; t <= f.xMax + 1e-9; t += f.xStep) {
    out << "    <text x=\"" << number(f.x(t), 1) << "\" y=\"" << top + plotH + 18 << "\">" << timeLabel(t, f.xMax, f.xStep)
        << "</text>\n";
  }
  out << "  </g>\n";
  out << "  <g class=\"y-ticks\" text-anchor=\"end\">\n";
  for (double v = 0; v <= f.yMax + 1e-9; v += f.yStep) {
    out << "    <text x=\"" << left - 8 << "\" y=\"" << number(f.y(v) + 4, 1) << "\">" << number(v, 0) << "</text>\n";
  }
  out << "  </g>\n";
  out << "  <text class=\"x-label\" x=\"" << left + plotW / 2 << "\" y=\"" << SvgFrame::kHeight - 18
      << "\" text-anchor=\"middle\">time since start " << (f.xMax < kHour ? "(s)" : "(h:mm:ss)") << "</text>\n";
  out << "  <text class=\"y-label\" transform=\"translate(20 " << top + plotH / 2
      << ") rotate(-90)\" text-anchor=\"middle\">vusers</text>\n";
}

// The points of a step line, without repeating a point.
class StepLine {
 public:
  void add(const SvgFrame& f, double t, long v) {
    const std::string point = number(f.x(t), 2) + "," + number(f.y(static_cast<double>(v)), 2);
    if (point == last_) return;
    points_ += (points_.empty() ? "" : " ") + point;
    last_ = point;
  }
  const std::string& points() const { return points_; }

 private:
  std::string points_, last_;
};

// One group's series: running (solid) and initialized (dashed), as step lines.
void writeSvgSeries(std::ostream& out, const SvgFrame& f, const ChartData& data, std::size_t index,
                    const std::vector<const SimulatedVusers::Sample*>& samples) {
  StepLine running, initialized;
  long lastRunning = 0, lastInitialized = 0;
  double lastT = 0;
  running.add(f, 0, 0);
  initialized.add(f, 0, 0);
  for (const SimulatedVusers::Sample* s : samples) {
    const double t = std::min(secondsOf(data, s->at), f.endSeconds);
    running.add(f, t, lastRunning);
    running.add(f, t, s->running);
    initialized.add(f, t, lastInitialized);
    initialized.add(f, t, s->initialized);
    lastRunning = s->running;
    lastInitialized = s->initialized;
    lastT = t;
  }
  running.add(f, std::max(lastT, f.endSeconds), lastRunning);
  initialized.add(f, std::max(lastT, f.endSeconds), lastInitialized);
  const char* color = colorOf(index);
  out << "  <g class=\"series\" data-group=\"" << escapeXml(data.groups[index]) << "\">\n";
  out << "    <polyline class=\"running\" fill=\"none\" stroke=\"" << color << "\" stroke-width=\"2\" points=\""
      << running.points() << "\"/>\n";
  out << "    <polyline class=\"initialized\" fill=\"none\" stroke=\"" << color
      << "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\" points=\"" << initialized.points() << "\"/>\n";
  out << "  </g>\n";
}

void writeLegendLine(std::ostream& out, double x, double y, const std::string& stroke, const std::string& label) {
  out << "    <line x1=\"" << x << "\" y1=\"" << y << "\" x2=\"" << x + 24 << "\" y2=\"" << y << "\" " << stroke << "/>\n";
  out << "    <text x=\"" << x + 32 << "\" y=\"" << y + 4 << "\">" << label << "</text>\n";
}

// A swatch per group, then the two line styles.
void writeSvgLegend(std::ostream& out, const ChartData& data) {
  const double legendX = SvgFrame::kLeft + SvgFrame::kPlotW + 20;
  out << "  <g class=\"legend\">\n";
  double legendY = SvgFrame::kTop + 6;
  for (std::size_t i = 0; i < data.groups.size(); ++i, legendY += 20) {
    writeLegendLine(out, legendX, legendY, std::string("stroke=\"") + colorOf(i) + "\" stroke-width=\"3\"",
                    escapeXml(data.groups[i]));
  }
  legendY += 10;
  writeLegendLine(out, legendX, legendY, "stroke=\"#444\" stroke-width=\"2\"", "running");
  legendY += 20;
  writeLegendLine(out, legendX, legendY, "stroke=\"#444\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"", "initialized");
  out << "  </g>\n";
}

}  // namespace

void writeChartSvg(std::ostream& out, const ChartData& data) {
  const SvgFrame frame(data);
  writeSvgHead(out, data.title);
  writeSvgGrid(out, frame);
  writeSvgTicks(out, frame);
  std::map<std::string, std::vector<const SimulatedVusers::Sample*>> byGroup;
  const std::vector<SimulatedVusers::Sample> changes = chartChanges(data);
  for (const SimulatedVusers::Sample& s : changes) byGroup[s.group].push_back(&s);
  for (std::size_t i = 0; i < data.groups.size(); ++i) writeSvgSeries(out, frame, data, i, byGroup[data.groups[i]]);
  writeSvgLegend(out, data);
  out << "</svg>\n";
}

LoadSummary summarizeLoad(const ChartData& data, std::uint64_t schedulerFinishedAt, std::vector<GroupLoad> groups) {
  LoadSummary summary;
  summary.duration = data.end > data.origin ? data.end - data.origin : 0;
  summary.finished = schedulerFinishedAt != 0;
  summary.schedulerFinished = schedulerFinishedAt > data.origin ? schedulerFinishedAt - data.origin : 0;
  // Per group name: its running vusers now, and its entry in `groups` (null when it has none).
  struct Current {
    long running = 0;
    GroupLoad* load = nullptr;
  };
  std::unordered_map<std::string, Current> byName;
  for (GroupLoad& group : groups) byName[group.name].load = &group;
  // Every sample counts, also one that a later sample of the same moment undoes: the timeline
  // shows that state.
  long total = 0;
  for (const SimulatedVusers::Sample& sample : data.samples) {
    Current& current = byName[sample.group];
    total += sample.running - current.running;
    current.running = sample.running;
    if (current.load) current.load->peakRunning = std::max(current.load->peakRunning, sample.running);
    if (total > summary.peakRunning) {
      summary.peakRunning = total;
      summary.peakAt = sample.at > data.origin ? sample.at - data.origin : 0;
    }
  }
  summary.groups = std::move(groups);
  return summary;
}

std::string formatLoadSummary(const LoadSummary& summary) {
  std::ostringstream out;
  out << "load: " << formatElapsed(summary.duration);
  if (summary.finished && summary.schedulerFinished < summary.duration) {
    out << " (the scheduler finished after " << formatElapsed(summary.schedulerFinished)
        << "; vusers running until complete went on)";
  }
  out << "; peak " << summary.peakRunning << " vusers running";
  if (summary.peakRunning > 0) out << " at " << formatElapsed(summary.peakAt);
  char line[160];
  std::snprintf(line, sizeof line, "  %-16s %12s %10s %8s", "group", "peak running", "asks for", "pool");
  out << "\n" << line;
  for (const GroupLoad& group : summary.groups) {
    const std::string asks = group.asksFor == ActionSummary::kAll ? "all" : std::to_string(group.asksFor);
    std::snprintf(line, sizeof line, "  %-16s %12ld %10s %8ld", group.name.c_str(), group.peakRunning, asks.c_str(),
                  group.pool);
    const bool tooMany = group.asksFor != ActionSummary::kAll && group.asksFor > group.pool;
    out << "\n" << line << (tooMany ? "  more than its pool" : "");
  }
  return out.str();
}
