// Commands typed on standard input while a schedule runs: 'p' pause, 'r' resume, 's' stop, and
// Ctrl-C (SIGINT) as a stop. On a terminal single keys count (the terminal is put in
// non-canonical mode without echo and restored afterwards); otherwise whole lines "p", "r" and
// "s" (or "pause", "resume", "stop") are read, so that a script can drive the program.
//
// One reader thread polls standard input and a self-pipe that the SIGINT handler writes to; it
// hands each command to the callback, which runs on that thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class ConsoleInput {
 public:
  enum class Command { Pause, Resume, Stop, Interrupt };

  explicit ConsoleInput(std::function<void(Command)> onCommand);
  ~ConsoleInput();
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

  // Stops the reader thread and restores the terminal and the SIGINT handler. Idempotent.
  void close();

 private:
  void readLoop();
  void handleText(const char* data, long size);
  void handleLine();

  std::function<void(Command)> onCommand_;
  bool terminal_ = false;
  bool terminalChanged_ = false;
  std::thread thread_;
  std::string line_;
  bool closed_ = false;
};
