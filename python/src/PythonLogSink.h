// PythonLogSink: the log sink the module installs for the whole process. Every record of the
// library's loggers goes to Python's logging under the library's logger name ("QVSchedule",
// "QVScheduleTest") through a handler the package installs, except the error records of
// "QVSchedule" written on a thread inside a DefinitionCapture: a load collects those, and either
// raises them as its error (refused) or hands them on afterwards (accepted).
//
// Threads: write() is called from any thread, often with the scheduler lock held; it takes the GIL
// for the handler call only (PythonCall). Once the interpreter is exiting, records go to standard
// error as the library's default sink writes them. The handler reference is guarded by the GIL.
#pragma once

#include "QVLogSink.h"

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

class PythonLogSink final : public QVLogSink {
 public:
  // With the GIL held. The handler is called as handler(logger, kind, text, file, line), kind being
  // the library's name of the record's kind ("INFO", "ENTER", "EXIT", "ERROR", "NOTICE").
  void setHandler(pybind11::object handler) { handler_ = std::move(handler); }
  void write(const QVLogRecord& record) override;

 private:
  pybind11::object handler_;
  QVStreamLogSink standardError_;
};

// A Python str of UTF-8 text, bytes that are not UTF-8 replaced. With the GIL held.
pybind11::str pythonText(const std::string& text);

// Collects the error records of "QVSchedule" written on this thread while it lives.
class DefinitionCapture {
 public:
  explicit DefinitionCapture(std::vector<QVLogRecord>& records);
  ~DefinitionCapture();
  DefinitionCapture(const DefinitionCapture&) = delete;
  DefinitionCapture& operator=(const DefinitionCapture&) = delete;

  // True when the record was collected (and is not to be written now).
  static bool offer(const QVLogRecord& record);

 private:
  std::vector<QVLogRecord>* previous_;
};
