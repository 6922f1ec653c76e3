// The commands of a run for its loop on the main thread (RunLoop in RunCommand.cpp): the keys and
// stop signals (ConsoleInput), the control API (WebServer) and a failed output all hand their
// commands here, so that they are served one at a time, in order, by the same code. A caller of
// the API waits for the loop's answer (bounded) and then reads the state the loop left.
//
// Threads: post() and call() from any thread; take(), answer() and close() from the run
// loop. mutex_ guards the queue, the answers and closed_; it is a leaf lock. The event is shared
// so that a listener that outlives the loop (a failed output's) can still set it.
#pragma once

#include "ConsoleInput.h"
#include "QVWait.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class CommandQueue {
 public:
  using Command = ConsoleInput::Command;

  struct Request {
    Command command;
    std::string origin;    // said in the note: "p", "s", "interrupted", "api", ...
    std::uint64_t id = 0;  // 0: nobody waits for the answer
  };
  enum class Outcome { Applied, Refused, Over, TimedOut };
  struct Answer {
    Outcome outcome = Outcome::Over;
    std::string reason;  // why it was not applied
  };

  // A key or a signal; nobody waits.
  void post(Command command);
  // Queues `command` from the API and waits up to `timeout` for the loop's answer.
  Answer call(Command command, std::chrono::milliseconds timeout);
  std::shared_ptr<QVEvent> event() const { return event_; }
  // The oldest request, if any. The loop takes one at a time: what it leaves when the run ends
  // stays queued for close().
  std::optional<Request> take();
  void answer(std::uint64_t id, Answer answer);
  // The loop is over: waiting and later callers get Outcome::Over with `reason`.
  void close(const std::string& reason);
  // Whether a stop key or signal was left unserved by the loop or arrived after close(): a
  // stop typed as the run ends is kept for what follows it (the live page's linger).
  bool stopLeftOver() const;

 private:
  void push(Request request);

  std::shared_ptr<QVEvent> event_ = std::make_shared<QVEvent>();
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  std::deque<Request> queue_;
  std::map<std::uint64_t, std::optional<Answer>> answers_;  // of the callers waiting
  std::uint64_t nextId_ = 1;
  bool closed_ = false;
  std::string closedReason_;
  bool stopLeftOver_ = false;
};
