// One HTTP vuser: a client loop of request, response, think time, next request over its own
// kept-alive connection. The host (HttpVusers) makes it on the scheduler's first call that
// concerns it and keeps it until the end of the run; one event loop (EventLoop) drives it.
//
// The host's view is guarded by the host's mutex; the loop's view belongs to the loop's thread
// alone (the host hands a vuser to its loop through the loop's command queue, whose lock orders
// the two).
#pragma once

#include "HttpTarget.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>

struct Vuser {
  Vuser(std::size_t poolIndex, std::size_t loopIndex, const HttpTarget& httpTarget)
      : pool(poolIndex), loop(loopIndex), target(httpTarget) {}
  Vuser(const Vuser&) = delete;
  Vuser& operator=(const Vuser&) = delete;

  const std::size_t pool;
  const std::size_t loop;
  const HttpTarget& target;

  // Guarded by the host's mutex.
  struct HostView {
    bool started = false;        // a run call took it
    bool stopRequested = false;  // a stop call took it
    bool connecting = false;     // its connection is being opened for an init call
    bool ended = false;          // its loop has ended it
  } host;

  // The loop thread's alone.
  struct LoopView {
    enum class State { New, Connecting, Ready, InitFailed, Requesting, Thinking, Parked, Ended };
    State state = State::New;
    CURL* easy = nullptr;
    CURLSH* share = nullptr;  // its own connection cache: one kept-alive connection per vuser
    std::size_t slot = 0;     // index in the loop's list of vusers
    bool runRequested = false;
    bool connectOnTheWay = false;  // run without an initialization: its first request connects
    bool untilComplete = false;
    long iterationsLeft = 0;
    bool stopAfterRequest = false;
    std::uint64_t timerSeq = 0;  // the think timer that counts; older ones are stale
    std::int64_t runCalledNs = 0;
    bool firstRequestPending = false;
    std::int64_t requestStartNs = 0;
    bool connectionOpen = false;  // the initialization's connection is open (TLS included)
    char error[CURL_ERROR_SIZE] = {0};
  } loopView;
};
