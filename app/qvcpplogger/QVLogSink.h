// Where log records go. A sink may be called from any thread at once; every sink here locks its
// own mutex (a leaf lock) around its stream or records.
#pragma once

#include "QVMutex.h"

#include <fstream>
#include <iosfwd>
#include <string>
#include <vector>

enum class QVLogKind { Formatted, TraceEnter, TraceExit, Error, Notice };

const char* QVLogKindName(QVLogKind kind);

struct QVLogRecord {
  std::string logger;
  QVLogKind kind;
  std::string text;
  std::string file;
  int line;
};

class QVLogSink {
 public:
  virtual ~QVLogSink() = default;
  virtual void write(const QVLogRecord& record) = 0;
};

// One line per record: "<logger> <KIND> <text> [<file>:<line>]".
std::string QVFormatLogLine(const QVLogRecord& record);

// Writes lines to a stream (standard error by default).
class QVStreamLogSink : public QVLogSink {
 public:
  QVStreamLogSink();
  explicit QVStreamLogSink(std::ostream& stream);
  void write(const QVLogRecord& record) override;

 private:
  QVMutex mutex_;
  std::ostream& stream_ QV_GUARDED_BY(mutex_);
};

// Appends lines to a file.
class QVFileLogSink : public QVLogSink {
 public:
  explicit QVFileLogSink(const std::string& path);
  bool isOpen() const;
  void write(const QVLogRecord& record) override;

 private:
  mutable QVMutex mutex_;
  std::ofstream stream_ QV_GUARDED_BY(mutex_);
};

// Keeps records in memory, for tests.
class QVMemoryLogSink : public QVLogSink {
 public:
  void write(const QVLogRecord& record) override;
  std::vector<QVLogRecord> records() const;
  void clear();
  // Texts of the records of one logger (all kinds), in order.
  std::vector<std::string> texts(const std::string& logger) const;
  // Texts of the records of one logger and kind, in order.
  std::vector<std::string> texts(const std::string& logger, QVLogKind kind) const;
  // Whether any record's text equals `text`.
  bool contains(const std::string& text) const;
  std::size_t count(const std::string& text) const;

 private:
  mutable QVMutex mutex_;
  std::vector<QVLogRecord> records_ QV_GUARDED_BY(mutex_);
};
