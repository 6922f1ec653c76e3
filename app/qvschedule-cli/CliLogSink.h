// Receives every log record of the process: keeps the library's error texts, prints the errors
// and, when asked, the test log ("QVScheduleTest") on the console, and writes everything to the
// log file when there is one. Once muted it only keeps the error texts. Every write to the log
// file is checked (Output.h): after a failure the file is no longer written.
//
// Threads: records arrive on any thread (the timer thread, host threads); every member is guarded
// by mutex_, a leaf lock (nothing else is taken or called out to while it is held but the console,
// whose own lock is a leaf too).
#pragma once

#include "Console.h"
#include "qvcpplogger.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CliLogSink : public QVLogSink {
 public:
  CliLogSink(bool showTestLines, const std::string& logPath);

  // Times of the log file are counted from this file time.
  void setOrigin(std::uint64_t origin) { origin_.store(origin); }

  // The log file is open (a failure to open it has been reported).
  bool fileOk() const { return fd_ >= 0; }
  // Prints on `console` from now on (the log file, if any, is written from the start).
  void attach(Console* console);
  // Stops printing and writing, and closes the log file (the console may go away after this).
  void mute();

  void write(const QVLogRecord& record) override;

 private:
  mutable std::mutex mutex_;
  Console* console_ = nullptr;
  const bool showTestLines_;
  std::atomic<std::uint64_t> origin_{0};
  const std::string logPath_;
  int fd_ = -1;  // the log file, -1 when none or after a failure
};
