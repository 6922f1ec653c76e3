// `qvschedule run --http URL`: the checks of the HTTP vusers' options before anything starts, the host they make for the session, and the end of the run (summary, --out files,
// thresholds and the exit status). The main thread uses it; the host it makes is the session's.
#pragma once

#include "DefinitionFile.h"
#include "HttpOptions.h"
#include "HttpReport.h"
#include "HttpVusers.h"
#include "PoolOptions.h"
#include "Session.h"
#include "Thresholds.h"

#include <memory>
#include <string>
#include <vector>

class HttpRun {
 public:
  // Checks the options against the definition and the pools; prints every problem on standard
  // error and answers null when there is one. Answers null without a word when no HTTP option
  // is given (`wanted` false): the run is a simulation.
  static std::unique_ptr<HttpRun> prepare(const HttpOptions& options, const PoolOptions& pools,
                                          const Definition& definition, double speed, bool& wanted);

  // Makes the HTTP vusers for Session::open; their notes go to the session's console.
  Session::HostMaker hostMaker(Session& session);
  // "HTTP vusers: GET URL, think N ms, ..." for the header of the run.
  std::string description() const;
  // After Session::close(): prints the summary, writes the --out files and checks the
  // thresholds; answers the exit status (ExitCodes.h) of the run's verdict.
  int finish(Session& session, bool stopped);

 private:
  HttpRun() = default;
  bool check(const HttpOptions& options, const PoolOptions& pools, const Definition& definition);
  bool checkGroups(const HttpOptions& options, const Definition& definition);
  bool checkRequest(const HttpOptions& options);
  bool checkOutputs();
  RunRecord record(bool stopped) const;

  HttpOptions options_;
  HttpSettings settings_;
  std::vector<Threshold> thresholds_;
  std::string definitionName_;
  double speed_ = 1;
  HttpVusers* host_ = nullptr;  // owned by the session
};
