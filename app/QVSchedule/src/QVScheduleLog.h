// The library's two loggers and the trace helpers every source file uses.
//
// QVScheduleLog() is "QVSchedule" (traces, errors, details); QVScheduleTestLog() is
// "QVScheduleTest" (state lines, host calls, group and action progress). Both handles are taken
// when the library loads and released when it unloads.
//
// In each .cpp: QV_SOURCE_FILE("QVTimer.cpp"); then QV_TRACE_ENTER("CQVTimer::reset") and
// QV_TRACE_EXIT("CQVTimer::reset"), or QV_TRACE_SCOPE("...") for both.
#pragma once

#include "qvcpplogger.h"

#include <string>

ILogger& QVScheduleLog();
ILogger& QVScheduleTestLog();

// Declares the file name passed with every line of this source file (".\src\<name>").
#define QV_SOURCE_FILE(name) static const char* const qvSourceFile = ".\\src\\" name

#define QV_LOG_ARGS qvSourceFile, __LINE__
#define QV_TRACE_ENTER(function) QVScheduleLog().traceEnter(function, qvSourceFile, __LINE__)
#define QV_TRACE_EXIT(function) QVScheduleLog().traceExit(function, qvSourceFile, __LINE__)

// Writes "setUnregisteredFromEvent ..." through "QVSchedule" when it is enabled: the line every
// handler writes when the events library reports an unregistration. The handler's name is asked
// for only when the line is written.
void QVLogUnregisteredFromEvent(const class CQVEventDef& def, const class CQVEventHandler& handler, long remaining,
                                const char* file, int line);

// Writes the enter trace now and the exit trace when the scope ends; neither when the logger was
// disabled at the start of the scope (so the two always come in pairs).
class QVTraceScope {
 public:
  QVTraceScope(const char* function, const char* file, int line) : function_(function), file_(file), line_(line) {
    ILogger& log = QVScheduleLog();
    traced_ = log.isEnabled();
    if (traced_) log.traceEnter(function_, file_, line_);
  }
  ~QVTraceScope() {
    if (traced_) QVScheduleLog().traceExit(function_, file_, line_);
  }
  QVTraceScope(const QVTraceScope&) = delete;
  QVTraceScope& operator=(const QVTraceScope&) = delete;

 private:
  const char* function_;
  const char* file_;
  int line_;
  bool traced_;
};

#define QV_TRACE_CONCAT_INNER(a, b) a##b
#define QV_TRACE_CONCAT(a, b) QV_TRACE_CONCAT_INNER(a, b)
#define QV_TRACE_SCOPE(function) QVTraceScope QV_TRACE_CONCAT(qvTraceScope_, __LINE__)(function, qvSourceFile, __LINE__)
