// Options of the simulated vuser pools shared by "run" and "preview".
#pragma once

#include "SimulatedVusers.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

struct PoolOptions {
  long vusers = 10;
  std::vector<std::string> groupVusers;  // "NAME=N" items as given
  long initSeconds = 5;
  long completeSeconds = 30;
};

void addPoolOptions(CLI::App* command, PoolOptions& options);

// Fills `settings`; prints the problem and answers false on a malformed --group-vusers item.
bool poolSettings(const PoolOptions& options, SimulatedVusers::Settings& settings);
