#include "CliLogSink.h"

#include "QVClock.h"

#include <algorithm>

CliLogSink::CliLogSink(bool showTestLines, const std::string& logPath) : showTestLines_(showTestLines) {
  if (!logPath.empty()) file_.open(logPath, std::ios::app);
}

void CliLogSink::attach(Console* console) {
  std::lock_guard<std::mutex> lock(mutex_);
  console_ = console;
}

void CliLogSink::mute() {
  std::lock_guard<std::mutex> lock(mutex_);
  console_ = nullptr;
  if (file_.is_open()) file_.close();
}

std::vector<std::string> CliLogSink::errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

void CliLogSink::write(const QVLogRecord& record) {
  const std::uint64_t now = QVNowFileTime();
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_.is_open()) {
    file_ << formatElapsed(now - std::min(now, origin_.load())) << ' ' << QVFormatLogLine(record) << '\n';
    file_.flush();
  }
  const bool error = record.kind == QVLogKind::Error;
  if (error && record.logger == "QVSchedule") errors_.push_back(record.text);
  if (!console_) return;
  if (error) {
    console_->line(now, "log", "ERROR " + record.text);
  } else if (showTestLines_ && record.logger == "QVScheduleTest" && record.kind == QVLogKind::Formatted) {
    console_->line(now, "log", record.text);
  }
}
