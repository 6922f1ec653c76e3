#include "PoolOptions.h"

#include <cstdlib>
#include <iostream>

void addPoolOptions(CLI::App* command, PoolOptions& options) {
  command->add_option("--vusers", options.vusers, "vusers in each group's pool (or the scenario's)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_option("--group-vusers", options.groupVusers, "vusers of one group, NAME=N (repeatable)");
  command->add_option("--init-seconds", options.initSeconds, "seconds from the last init call to 'all initialized'")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_option("--complete-seconds", options.completeSeconds, "seconds a run-until-complete vuser runs")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
}

bool poolSettings(const PoolOptions& options, SimulatedVusers::Settings& settings) {
  settings.defaultVusers = options.vusers;
  settings.initSeconds = options.initSeconds;
  settings.completeSeconds = options.completeSeconds;
  for (const std::string& item : options.groupVusers) {
    const auto eq = item.rfind('=');
    char* end = nullptr;
    const long n = eq == std::string::npos ? -1 : std::strtol(item.c_str() + eq + 1, &end, 10);
    if (eq == std::string::npos || eq == 0 || n < 0 || end == item.c_str() + eq + 1 || *end != '\0') {
      std::cerr << "qvschedule: --group-vusers expects NAME=N with N >= 0, got \"" << item << "\"\n";
      return false;
    }
    settings.groupVusers[item.substr(0, eq)] = n;
  }
  return true;
}
