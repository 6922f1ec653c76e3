#include "CliLogSink.h"

#include "Output.h"

#include "QVClock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

CliLogSink::CliLogSink(bool showTestLines, const std::string& logPath)
    : showTestLines_(showTestLines), logPath_(logPath) {
  if (logPath.empty()) return;
  fd_ = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0) reportOutputFailure(logPath, errno);
}

void CliLogSink::attach(Console* console) {
  std::lock_guard<std::mutex> lock(mutex_);
  console_ = console;
}

void CliLogSink::mute() {
  std::lock_guard<std::mutex> lock(mutex_);
  console_ = nullptr;
  if (fd_ >= 0 && close(fd_) != 0) reportOutputFailure(logPath_, errno);
  fd_ = -1;
}

void CliLogSink::write(const QVLogRecord& record) {
  const std::uint64_t now = QVNowFileTime();
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) {
    const int error =
        writeAll(fd_, formatElapsed(now - std::min(now, origin_.load())) + ' ' + QVFormatLogLine(record) + '\n');
    if (error != 0) {
      close(fd_);
      fd_ = -1;
      reportOutputFailure(logPath_, error);
    }
  }
  const bool error = record.kind == QVLogKind::Error;
  if (!console_) return;
  if (error) {
    console_->line(now, "log", "ERROR " + record.text);
  } else if (showTestLines_ && record.logger == "QVScheduleTest" && record.kind == QVLogKind::Formatted) {
    console_->line(now, "log", record.text);
  }
}
