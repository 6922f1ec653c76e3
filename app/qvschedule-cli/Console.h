// The timeline of the qvschedule program: timestamped lines from any thread, and on a terminal a
// progress line kept at the bottom and redrawn after every other line. The human lines go to
// standard output; with JSON lines they go to standard error and standard output gets one JSON
// object per timeline line (JsonOutput.h). Every write is checked (Output.h).
//
// Threads: every member function may be called from any thread; mutex_ (a leaf lock but for the
// output-failure listener, which only queues a command, and the tap, which takes only a leaf lock
// of its own) serializes the writes.
#pragma once

#include "SimulatedVusers.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// "mm:ss.mmm" of a span of file-time units, "h:mm:ss.mmm" from an hour on.
std::string formatElapsed(std::uint64_t units);

class Console {
 public:
  Console();

  // Sends the human lines to standard error and one JSON object per timeline line to standard
  // output. Called before the first line.
  void useJsonLines();
  // Keeps the JSON object of every timeline line from now on (preview --json), whatever the format.
  void recordJson();
  std::vector<std::string> recordedJson();

  // Times are printed relative to this file time.
  void setOrigin(std::uint64_t origin) { origin_.store(origin, std::memory_order_release); }
  std::uint64_t origin() const { return origin_.load(std::memory_order_acquire); }
  std::string elapsed(std::uint64_t fileTime) const;

  // "<elapsed>  <kind padded>  <text>".
  void line(std::uint64_t at, const std::string& kind, const std::string& text);
  // A line of the timeline, columns: time, kind, group, call, count, status, then the mode and
  // the pool after the call.
  void entry(const SimulatedVusers::Entry& entry);
  // Plain text (no time).
  void text(const std::string& text);
  // On a terminal: replaces the bottom line; otherwise printed as a "progress" line.
  void progress(std::uint64_t at, const std::string& text);
  // Drops the bottom line of a terminal before the program ends.
  void endProgress();

  bool isTerminal() const { return terminal_; }

  // Also hands every timeline line (not progress or plain text) to `tap` as its JSON object, with
  // the entry of call, event and vusers lines; called with mutex_ held. Null removes it.
  using Tap = std::function<void(const std::string& json, const TimelineEntry* entry)>;
  void setTap(Tap tap);

 private:
  void writeLocked(const std::string& line);
  void jsonLocked(const std::string& object, const TimelineEntry* entry);
  double seconds(std::uint64_t fileTime) const;

  std::mutex mutex_;
  std::atomic<std::uint64_t> origin_{0};
  int humanFd_;
  bool terminal_;
  bool json_ = false;
  bool record_ = false;
  std::vector<std::string> recorded_;
  std::string progress_;  // the bottom line on a terminal
  Tap tap_;
};
