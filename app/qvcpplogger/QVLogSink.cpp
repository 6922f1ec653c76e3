#include "QVLogSink.h"

#include <iostream>

const char* QVLogKindName(QVLogKind kind) {
  switch (kind) {
    case QVLogKind::Formatted: return "INFO";
    case QVLogKind::TraceEnter: return "ENTER";
    case QVLogKind::TraceExit: return "EXIT";
    case QVLogKind::Error: return "ERROR";
    case QVLogKind::Notice: return "NOTICE";
  }
  return "?";
}

std::string QVFormatLogLine(const QVLogRecord& record) {
  std::string line = record.logger;
  line += ' ';
  line += QVLogKindName(record.kind);
  line += ' ';
  line += record.text;
  if (!record.file.empty()) {
    line += " [" + record.file + ':' + std::to_string(record.line) + ']';
  }
  return line;
}

QVStreamLogSink::QVStreamLogSink() : stream_(std::cerr) {}
QVStreamLogSink::QVStreamLogSink(std::ostream& stream) : stream_(stream) {}

void QVStreamLogSink::write(const QVLogRecord& record) {
  const std::string line = QVFormatLogLine(record);
  QVMutexLock lock(mutex_);
  stream_ << line << '\n';
}

QVFileLogSink::QVFileLogSink(const std::string& path) : stream_(path, std::ios::app) {}

bool QVFileLogSink::isOpen() const {
  QVMutexLock lock(mutex_);
  return stream_.is_open();
}

void QVFileLogSink::write(const QVLogRecord& record) {
  const std::string line = QVFormatLogLine(record);
  QVMutexLock lock(mutex_);
  if (stream_.is_open()) stream_ << line << '\n' << std::flush;
}

void QVMemoryLogSink::write(const QVLogRecord& record) {
  QVMutexLock lock(mutex_);
  records_.push_back(record);
}

std::vector<QVLogRecord> QVMemoryLogSink::records() const {
  QVMutexLock lock(mutex_);
  return records_;
}

void QVMemoryLogSink::clear() {
  QVMutexLock lock(mutex_);
  records_.clear();
}

std::vector<std::string> QVMemoryLogSink::texts(const std::string& logger) const {
  QVMutexLock lock(mutex_);
  std::vector<std::string> out;
  for (const auto& r : records_) {
    if (r.logger == logger) out.push_back(r.text);
  }
  return out;
}

std::vector<std::string> QVMemoryLogSink::texts(const std::string& logger, QVLogKind kind) const {
  QVMutexLock lock(mutex_);
  std::vector<std::string> out;
  for (const auto& r : records_) {
    if (r.logger == logger && r.kind == kind) out.push_back(r.text);
  }
  return out;
}

bool QVMemoryLogSink::contains(const std::string& text) const { return count(text) > 0; }

std::size_t QVMemoryLogSink::count(const std::string& text) const {
  QVMutexLock lock(mutex_);
  std::size_t n = 0;
  for (const auto& r : records_) {
    if (r.text == text) ++n;
  }
  return n;
}
