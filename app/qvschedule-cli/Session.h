// The common set-up of "run" and "preview": console, log sink and vusers (the simulated pools, or
// a host of the caller's making), handed to the scheduler, and the definition loaded. The clock
// must be installed before open().
#pragma once

#include "CliLogSink.h"
#include "Console.h"
#include "DefinitionFile.h"
#include "DefinitionSummary.h"
#include "SimulatedVusers.h"

#include <functional>
#include <memory>
#include <string>

struct Session {
  Console console;
  std::shared_ptr<CliLogSink> sink;
  DefinitionSummary summary;
  std::unique_ptr<VusersHost> vusers;  // the vusers handed to the scheduler
  SimulatedVusers* host = nullptr;     // the same when they are the simulated pools, else null
  bool strict = false;                 // set before open(): warnings about the definition refuse it

  // Makes the vusers from the reading of the definition; they report to the listener.
  using HostMaker = std::function<std::unique_ptr<VusersHost>(const DefinitionSummary&, VusersHost::Listener)>;

  // Answers false (the reason printed) when the log file cannot be opened (anyOutputFailed() then
  // tells) or the scheduler refuses the definition (or, when strict, warns about it). Prints the
  // warnings about the definition, the pools' included, on standard error.
  bool open(const Definition& definition, const SimulatedVusers::Settings& settings, bool showLibraryLines,
            const std::string& logPath);
  bool open(const Definition& definition, const HostMaker& makeHost, bool showLibraryLines,
            const std::string& logPath);
  // Counts times of the console, the log and the vusers from `origin`.
  void begin(std::uint64_t origin);
  // Discards the schedule quietly and stops everything of ours.
  void close();
};
