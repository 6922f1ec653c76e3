// The live page and the control API of a running schedule (`qvschedule run --serve`), served by
// cpp-httplib:
//   GET  /, /app.js, /style.css    the page (built into the program)
//   GET  /api/status                the status of the run (RunStatus)
//   GET  /api/plan                  the previewed schedule (PlanPreview)
//   POST /api/pause, /api/resume, /api/stop
//                                   handed to the run loop (CommandQueue); the answer is the new
//                                   status, or 409 with the reason when the call does not apply
//   GET  /api/events                Server-Sent Events: the history, then timeline entries and a
//                                   sample as they come, and the status once a second
// With a token every /api/ call needs "Authorization: Bearer TOKEN" (the event stream also takes
// ?token=TOKEN, as a browser's EventSource cannot set headers); 401 without. Bound to a loopback
// address, only requests that name a loopback host are served (no DNS rebinding); a POST whose
// Origin is another site is refused (403). No CORS header is ever sent: only the page itself,
// from the same origin, may read the answers.
//
// Threads: the server's own (a listener, a pool of workers, kMaxStreams of which at most serve
// event streams) and a ticker that takes the once-a-second sample and publishes the status. None
// of them holds a lock of the scheduler's or waits for its timer thread: they read the facade's
// queries, the vusers' counts and LiveRun, and the control calls wait (bounded) for the run loop.
// start() and stop() are called from the main thread.
#pragma once

#include "CommandQueue.h"
#include "LiveRun.h"
#include "PlanPreview.h"
#include "RunStatus.h"
#include "ServeOptions.h"

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

class WebServer {
 public:
  struct Parts {
    LiveRun& live;
    const RunStatus& status;
    CommandQueue& commands;
    const PlanPreview& plan;
  };

  WebServer(const ServeAddress& address, std::string token, Parts parts);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the address and starts serving; false with the reason when it cannot.
  bool start(std::string& problem);
  int port() const { return port_; }
  // Ends the event streams, stops the server and joins its threads. Idempotent.
  void stop();

 private:
  struct Stream;

  void addRoutes();
  httplib::Server::HandlerResponse screen(const httplib::Request& request, httplib::Response& response) const;
  bool authorized(const httplib::Request& request) const;
  void serveAsset(const httplib::Request& request, httplib::Response& response) const;
  void servePlan(httplib::Response& response) const;
  void control(CommandQueue::Command command, httplib::Response& response);
  void events(const httplib::Request& request, httplib::Response& response);
  bool pump(Stream& stream, httplib::DataSink& sink);
  void tick();

  const ServeAddress address_;
  const std::string token_;
  Parts parts_;
  httplib::Server server_;
  int port_ = 0;
  std::atomic<int> streams_{0};
  std::thread listener_;
  std::thread ticker_;
  bool stopped_ = false;  // main thread only
};
