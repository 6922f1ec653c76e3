#include "PoolOptions.h"

#include "OptionRanges.h"

#include <iostream>

void addPoolOptions(CLI::App* command, PoolOptions& options) {
  command->add_option("--vusers", options.vusers, "vusers in each group's pool (or the scenario's)")
      ->check(numberFromTo(0, kMaxVusers, true))
      ->capture_default_str();
  command->add_option("--group-vusers", options.groupVusers, "vusers of one group, NAME=N (repeatable)");
  command->add_option("--init-seconds", options.initSeconds, "seconds from the last init call to 'all initialized'")
      ->check(numberFromTo(0, kMaxSimulatedSeconds, true))
      ->capture_default_str();
  command->add_option("--complete-seconds", options.completeSeconds, "seconds a run-until-complete vuser runs")
      ->check(numberFromTo(0, kMaxSimulatedSeconds, true))
      ->capture_default_str();
}

bool poolSettings(const PoolOptions& options, SimulatedVusers::Settings& settings) {
  settings.defaultVusers = options.vusers;
  settings.initSeconds = options.initSeconds;
  settings.completeSeconds = options.completeSeconds;
  for (const std::string& item : options.groupVusers) {
    const auto eq = item.rfind('=');
    double n = 0;
    std::string problem;
    if (eq == std::string::npos || eq == 0) {
      std::cerr << "qvschedule: --group-vusers expects NAME=N, got \"" << item << "\"\n";
      return false;
    }
    if (!parseNumberFromTo(item.substr(eq + 1), 0, kMaxVusers, true, n, problem)) {
      std::cerr << "qvschedule: --group-vusers " << item << ": N " << problem << '\n';
      return false;
    }
    settings.groupVusers[item.substr(0, eq)] = static_cast<long>(n);
  }
  return true;
}
