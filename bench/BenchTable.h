// The one formatter of benchmark results. Every benchmark program prints its figures as rows of
// one markdown table (figure | ours | baseline | ratio | target | verdict); ./scripts/bench
// gathers the rows of all programs under one header. In smoke mode (CI: each program runs for
// about a second so that it keeps working) the verdict column says "not judged".
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace qvbench {

inline bool& smokeMode() {
  static bool smoke = false;
  return smoke;
}

// Reads --smoke from the command line (and removes it, for programs that pass the rest on).
inline void parseSmoke(int& argc, char** argv) {
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smokeMode() = true;
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
  argv[argc] = nullptr;
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Nearest-rank percentile (p in 0..100) of an unsorted sample.
inline double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  std::size_t rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size()) + 0.999999);
  rank = std::min(std::max<std::size_t>(rank, 1), values.size());
  return values[rank - 1];
}

// "12.3 µs", "4.56 ms", "1.23 s" from seconds.
inline std::string formatSeconds(double seconds) {
  char buffer[64];
  const double a = seconds < 0 ? -seconds : seconds;
  if (a < 1e-6) {
    std::snprintf(buffer, sizeof buffer, "%.0f ns", seconds * 1e9);
  } else if (a < 1e-3) {
    std::snprintf(buffer, sizeof buffer, "%.2f µs", seconds * 1e6);
  } else if (a < 1.0) {
    std::snprintf(buffer, sizeof buffer, "%.2f ms", seconds * 1e3);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.2f s", seconds);
  }
  return buffer;
}

inline std::string formatNumber(double value, const char* unit = "") {
  char buffer[64];
  if (value >= 1e6) {
    std::snprintf(buffer, sizeof buffer, "%.2f M%s", value / 1e6, unit);
  } else if (value >= 1e3) {
    std::snprintf(buffer, sizeof buffer, "%.1f k%s", value / 1e3, unit);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.3g%s%s", value, *unit ? " " : "", unit);
  }
  return buffer;
}

inline std::string formatRatio(double ratio) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", ratio);
  return buffer;
}

inline void printHeader() {
  std::printf("| figure | ours | baseline | ratio | target | verdict |\n");
  std::printf("|---|---|---|---|---|---|\n");
}

// One row; `met` is ignored in smoke mode.
inline void printRow(const std::string& figure, const std::string& ours, const std::string& baseline,
                     const std::string& ratio, const std::string& target, bool met) {
  const char* verdict = smokeMode() ? "not judged" : (met ? "met" : "NOT met");
  std::printf("| %s | %s | %s | %s | %s | %s |\n", figure.c_str(), ours.c_str(), baseline.c_str(), ratio.c_str(),
              target.c_str(), verdict);
  std::fflush(stdout);
}

}  // namespace qvbench
