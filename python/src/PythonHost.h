// PythonHost: the one CQVVusersServices object the module hands to the scheduler. It forwards
// every host operation to the Python host object installed with setHost (the snake_case method
// of the same operation; group operations get the group name first, run modes arrive as
// qvschedule.RunMode) and converts the answer back.
//
// Ownership: one instance for the process, never destroyed, so the scheduler's pointer to it is
// always valid. It holds a reference to the Python host, so the host cannot be collected while the
// scheduler may call it; each call takes its own reference too, so replacing the host while a call
// is under way is safe.
//
// Threads: called on the scheduler's timer thread, on event-delivery threads and on host threads
// inside start, pause, resume and stop, with the scheduler lock held. Each call takes the GIL for
// the call only (PythonCall) and answers FAILED (or nothing) without touching Python once the
// interpreter is exiting or when no host is installed. The Python references are guarded by the
// GIL.
//
// Failures: an exception raised by a Python method is logged with its traceback through the
// package's log handler (Python logger "QVSchedule") and then thrown on as a C++ exception, which the library logs and counts as a
// failed call. A status that is not an int (or is a bool) is logged and counts as FAILED.
#pragma once

#include "QVVusersServices.h"

#include <pybind11/pybind11.h>

#include <string>

class PythonHost final : public CQVVusersServices {
 public:
  static PythonHost& instance();

  // With the GIL held. None detaches the host: every operation then answers FAILED.
  void setHost(pybind11::object host);
  // With the GIL held: the Python type run modes are handed over as (qvschedule.RunMode), and the
  // log handler host errors are reported to, called as
  // handler("QVSchedule", "ERROR", text, file, line, exc_info).
  void setTypes(pybind11::object runModeType, pybind11::object logHandler);
  // With the GIL held: drops every Python reference (at interpreter exit).
  void clear();

  void onSchedulerFinished() override;
  void onSchedulerPaused() override;
  void onSchedulerResumed() override;
  void onGroupFinished(const std::string& groupName) override;

  int initAllVusers(RunMode runMode) override;
  int initVusers(long count, RunMode runMode) override;
  int runAllVusers(RunMode runMode) override;
  int runVusers(RunMode runMode, long count) override;
  int stopAllVusers() override;
  int stopVusers(long count) override;
  int canStartDuration() override;
  bool isInFinalStage() override;

  int initAllGroupVusers(const std::string& groupName, RunMode runMode) override;
  int initGroupVusers(const std::string& groupName, long count, RunMode runMode) override;
  int runAllGroupVusers(const std::string& groupName, RunMode runMode) override;
  int runGroupVusers(const std::string& groupName, RunMode runMode, long count) override;
  int stopAllGroupVusers(const std::string& groupName) override;
  int stopGroupVusers(const std::string& groupName, long count) override;
  int canStartGroupDuration(const std::string& groupName) override;

 private:
  PythonHost() = default;

  // The kinds of answer a host method gives.
  enum class Answer { Status, Truth, Nothing };
  // Calls `method` of the host with `args` (converted to Python inside the call, with the GIL
  // held) and converts its answer; `fallback` when there is no host or Python accepts no calls.
  template <typename... Args>
  int forward(Answer answer, const char* method, int fallback, const Args&... args);
  template <typename... Args>
  int status(const char* method, const Args&... args) {
    return forward(Answer::Status, method, VUSERS_STATUS_FAILED, args...);
  }
  template <typename... Args>
  void notify(const char* method, const Args&... args) {
    forward(Answer::Nothing, method, 0, args...);
  }
  int convert(Answer answer, const pybind11::object& host, const char* method, const pybind11::object& result) const;
  void logError(const pybind11::object& host, const char* method, const std::string& text,
                const pybind11::object& excInfo) const;
  [[noreturn]] void raiseToLibrary(const pybind11::object& host, const char* method,
                                   const pybind11::error_already_set& error) const;

  template <typename T>
  static pybind11::object toPython(const T& value) {
    return pybind11::cast(value);
  }
  pybind11::object toPython(RunMode runMode) const;
  static pybind11::object toPython(const std::string& text);

  pybind11::object host_;
  pybind11::object runModeType_;
  pybind11::object logHandler_;
};
