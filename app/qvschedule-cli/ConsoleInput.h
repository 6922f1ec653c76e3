// Commands typed on standard input while a schedule runs: 'p' pause, 'r' resume, 's' stop, and
// Ctrl-C (SIGINT) or SIGTERM as a stop. On a terminal single keys count (the terminal is put in
// non-canonical mode without echo and restored afterwards); otherwise whole lines "p", "r" and
// "s" (or "pause", "resume", "stop") are read, so that a script can drive the program; any other
// line goes to the optional line callback.
//
// One reader thread polls standard input, the self-pipe of the stop signals (a StopSignals that
// the caller owns and keeps past close()) and a pipe of its own that close() writes to; each
// descriptor is read by that thread only. It hands each command to the callback, which runs on
// that thread. Standard input is read only when poll() says it is readable, so a closed, idle or
// non-terminal input never delays close().
#pragma once

#include "Signals.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class ConsoleInput {
 public:
  enum class Command { Pause, Resume, Stop, Interrupt, Terminate };

  using LineCallback = std::function<void(const std::string& line)>;

  ConsoleInput(StopSignals& signals, std::function<void(Command)> onCommand, LineCallback onOtherLine = nullptr);
  ~ConsoleInput();
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

  // Stops the reader thread and restores the terminal; a signal not yet read stays on the pipe.
  // Idempotent.
  void close();

 private:
  void readLoop();
  void serveSignal();
  void readInput(bool& inputOpen);
  void handleText(const char* data, long size);
  void handleLine();

  std::function<void(Command)> onCommand_;
  LineCallback onOtherLine_;  // null: other lines are ignored
  StopSignals& signals_;
  int quit_[2] = {-1, -1};  // close() writes to quit_[1]
  bool terminal_ = false;
  bool terminalChanged_ = false;
  std::thread thread_;
  std::string line_;
  bool closed_ = false;
};
