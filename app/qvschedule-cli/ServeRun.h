// `qvschedule run --serve`: the live page and control API of a run, between the run and the
// server. It reads the options before anything starts, then (after the definition is loaded)
// starts the plan's preview, the timeline's tap and the server, and at the end keeps the final
// state readable for --serve-linger seconds before it stops the server. The main thread calls it.
#pragma once

#include "CommandQueue.h"
#include "Commands.h"
#include "DefinitionFile.h"
#include "LiveRun.h"
#include "PlanPreview.h"
#include "RunStatus.h"
#include "ServeOptions.h"
#include "Session.h"
#include "Signals.h"
#include "WebServer.h"

#include <memory>
#include <string>

class ServeRun {
 public:
  // Null without a word when --serve is not given; null with the problem printed when an option
  // is malformed (a usage error).
  static std::unique_ptr<ServeRun> prepare(const ServeOptions& options, bool& wanted);
  ~ServeRun();
  ServeRun(const ServeRun&) = delete;
  ServeRun& operator=(const ServeRun&) = delete;

  // After Session::open: false (the reason printed) when the address cannot be listened on.
  bool start(Session& session, const Definition& definition, const RunOptions& options, CommandQueue& commands);
  // "live page: URL" (with the token), for the header of the run.
  std::string description() const;
  LiveRun* live() { return live_.get(); }
  // After Session::close(): the final status from now on, --serve-linger (none when a stop key
  // or signal is left over from the run, or a signal waits in `signals`, which also end it), then
  // the server stops. Called whenever start() succeeded, before the session goes.
  void finish(Session& session, StopSignals& signals, bool stopLeftOver);

 private:
  ServeRun() = default;
  static std::vector<std::string> previewArguments(const RunOptions& options);
  void linger(Session& session, StopSignals& signals);

  ServeOptions options_;
  ServeAddress address_;
  std::string token_;
  std::unique_ptr<LiveRun> live_;
  std::unique_ptr<RunStatus> status_;
  std::unique_ptr<PlanPreview> plan_;
  std::unique_ptr<WebServer> server_;
};
