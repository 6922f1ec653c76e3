// One event-loop thread of the HTTP vusers: a curl multi handle driven by epoll (curl's socket
// interface), with the think timers of its vusers in a heap. Any number of vusers share a loop;
// the host spreads them over a small fixed number of loops.
//
// Threads: post() and quit() are called from any thread (the scheduler's, the host's) and only
// queue a command and wake the loop, so no caller ever waits for the network. Everything else
// runs on the loop's own thread, which also calls the listener (with no lock of the loop held).
// commandsMutex_ is a leaf lock.
#pragma once

#include "Metrics.h"
#include "Vuser.h"

#include <curl/curl.h>

#include <cstdint>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

struct LoopSettings {
  long thinkMs = 0;       // pause between a response and the next request
  long timeoutMs = 30000; // whole request, and connection
  long iterations = 1;    // requests of a vuser run until complete
};

// What a loop tells its host; called on the loop's thread.
class LoopListener {
 public:
  enum class End { Stopped, Completed, InitFailed };
  virtual ~LoopListener() = default;
  virtual void onConnected(Vuser& vuser, bool ok, const std::string& error) = 0;
  virtual void onEnded(Vuser& vuser, End how) = 0;
};

class EventLoop {
 public:
  struct Command {
    enum class Kind { Init, Run, Stop, Pause, Resume };
    Kind kind = Kind::Init;
    Vuser* vuser = nullptr;    // not for Pause and Resume
    bool untilComplete = false;  // Run
    bool abort = false;        // Stop: at once rather than after the request in flight
    std::int64_t calledNs = 0; // Run: steady-clock time of the scheduler's call
  };

  EventLoop(std::size_t index, const LoopSettings& settings, Metrics& metrics, LoopListener& listener);
  // Ends the thread if quit() was not called; every vuser still held is ended at once.
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Queues commands (taken from `commands`) and wakes the loop.
  void post(std::vector<Command>& commands);
  // Ends every vuser at once and ends the thread; joins it. Idempotent; not from the loop.
  void quit();

  static std::int64_t nowNs();

 private:
  struct Timer {
    std::int64_t dueNs;
    std::uint64_t seq;
    Vuser* vuser;
    bool operator>(const Timer& other) const { return dueNs > other.dueNs; }
  };

  void threadBody();
  int waitMs(std::int64_t now) const;
  void wake();
  bool serveCommands();
  void serve(const Command& command);
  void onRun(Vuser& vuser, const Command& command);
  void onStop(Vuser& vuser, bool abort);
  void socketAction(curl_socket_t fd, int flags);
  void drainMessages();
  void fireTimers(std::int64_t now);

  void adopt(Vuser& vuser);
  bool makeHandle(Vuser& vuser);
  void startConnect(Vuser& vuser);
  void startOnTheWay(Vuser& vuser);
  bool connectedOnTheWay(Vuser& vuser, CURLcode result);
  void onConnectDone(Vuser& vuser, CURLcode result);
  void startRunning(Vuser& vuser);
  void startRequest(Vuser& vuser);
  void onRequestDone(Vuser& vuser, CURLcode result);
  void record(Vuser& vuser, CURLcode result);
  void next(Vuser& vuser, CURLcode result);
  void end(Vuser& vuser, LoopListener::End how);

  static int onSocket(CURL* easy, curl_socket_t fd, int what, void* self, void* socketData);
  static int onTimer(CURLM* multi, long timeoutMs, void* self);
  static int onConnectionOpen(void* vuser, char* remoteIp, char* localIp, int remotePort, int localPort);

  const std::size_t index_;
  const LoopSettings settings_;
  Metrics& metrics_;
  LoopListener& listener_;

  CURLM* multi_ = nullptr;
  int epoll_ = -1;
  int wakeFd_ = -1;
  std::int64_t curlDueNs_ = -1;  // -1: curl wants no timeout call
  std::vector<bool> registered_;  // by socket: in the epoll set
  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
  std::uint64_t nextTimerSeq_ = 1;
  std::vector<Vuser*> vusers_;  // every vuser this loop drives and has not ended
  std::vector<Vuser*> parked_;  // running vusers waiting for a resume
  bool paused_ = false;

  std::mutex commandsMutex_;  // guards the two members below; a leaf lock
  std::vector<Command> commands_;
  bool quitting_ = false;

  std::thread thread_;
};
