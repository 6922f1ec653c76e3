// PythonGate: lets the library's threads (the timer thread, event deliveries, any thread that
// logs) call into Python only while the interpreter accepts calls. Once closed (at interpreter
// exit) every later call is refused and the caller takes its fallback instead of touching Python.
//
// PythonCall is the scope of one such call: it passes the gate, then takes the GIL; it releases
// both when it ends. It may be nested and may be opened on a thread that already holds the GIL.
//
// Lock: mutex_ guards inside_ and closed_; it is a leaf, never held while the GIL is taken or
// Python runs.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

class PythonGate {
 public:
  static PythonGate& instance();

  bool enter();
  void leave();
  // Refuses every later call and waits, at most `bound`, for the calls under way to end. The
  // caller must not hold the GIL (those calls need it to end).
  void close(std::chrono::milliseconds bound);

 private:
  std::mutex mutex_;
  std::condition_variable left_;
  int inside_ = 0;
  bool closed_ = false;
};

class PythonCall {
 public:
  PythonCall();
  ~PythonCall();
  PythonCall(const PythonCall&) = delete;
  PythonCall& operator=(const PythonCall&) = delete;

  // False when the interpreter no longer accepts calls: the caller must not touch Python.
  explicit operator bool() const { return entered_; }

 private:
  bool entered_;
  std::optional<pybind11::gil_scoped_acquire> gil_;
};
