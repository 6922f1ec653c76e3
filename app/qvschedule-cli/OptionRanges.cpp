#include "OptionRanges.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// 1000000 as "1,000,000", 0.001 as "0.001".
std::string words(double value) {
  if (value != std::floor(value) || std::fabs(value) >= 1e15) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
  }
  std::string digits = std::to_string(static_cast<long long>(value));
  for (int i = static_cast<int>(digits.size()) - 3; i > 0 && digits[i - 1] != '-'; i -= 3) digits.insert(i, ",");
  return digits;
}

// The text as given, shortened when long.
std::string shown(const std::string& text) { return text.size() <= 24 ? text : text.substr(0, 20) + "..."; }

}  // namespace

bool parseNumberFromTo(const std::string& text, double low, double high, bool whole, double& value,
                       std::string& problem) {
  char* end = nullptr;
  errno = 0;
  value = whole ? static_cast<double>(std::strtoll(text.c_str(), &end, 10)) : std::strtod(text.c_str(), &end);
  const bool parsed = !text.empty() && end && *end == '\0' && errno != ERANGE && std::isfinite(value);
  if (parsed && value >= low && value <= high) return true;
  problem = std::string("must be a ") + (whole ? "whole number" : "number") + " from " + words(low) + " to " +
            words(high) + "; got " + shown(text);
  return false;
}

CLI::Validator numberFromTo(double low, double high, bool whole) {
  return CLI::Validator(
      [=](std::string& text) {
        double value = 0;
        std::string problem;
        return parseNumberFromTo(text, low, high, whole, value, problem) ? std::string() : problem;
      },
      (whole ? "INT in " : "NUMBER in ") + words(low) + ".." + words(high));
}
