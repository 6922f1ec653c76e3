// Standard output of the qvschedule program: timestamped lines from any thread, and on a terminal
// a progress line kept at the bottom and redrawn after every other line.
#pragma once

#include "SimulatedVusers.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// "mm:ss.mmm" of a span of file-time units (minutes grow past 59).
std::string formatElapsed(std::uint64_t units);

class Console {
 public:
  Console();

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

 private:
  void writeLocked(const std::string& line);

  std::mutex mutex_;
  std::atomic<std::uint64_t> origin_{0};
  bool terminal_;
  std::string progress_;  // the bottom line on a terminal
};
