// Calls into the host: the one guard every call goes through (the adapters' and the root runner's
// notifications), and the scope that marks the calling thread as inside such a call.
//
// The controller asks CQVHostCallScope::isActive() to tell a host that calls back into the facade
// from one of its own callbacks (stop or load from inside runVusers, say) from an ordinary call:
// runners that such a call discards are still on the caller's stack and must outlive it.
#pragma once

#include <exception>

class CQVHostCallScope {
 public:
  CQVHostCallScope() { ++depth; }
  ~CQVHostCallScope() { --depth; }
  CQVHostCallScope(const CQVHostCallScope&) = delete;
  CQVHostCallScope& operator=(const CQVHostCallScope&) = delete;

  static bool isActive() { return depth > 0; }

 private:
  static thread_local int depth;
};

// Writes "Host call <operation> threw an exception: <what>; treated as failed" as an error.
void QVLogHostException(const char* operation, const char* what);

// Runs `call` (a call into the host) inside a host-call scope. An exception it throws is logged
// with its text and the call answers `fallback` instead.
template <typename Call>
auto QVGuardHostCall(const char* operation, Call call, decltype(call()) fallback) {
  const CQVHostCallScope scope;
  try {
    return call();
  } catch (const std::exception& e) {
    QVLogHostException(operation, e.what());
  } catch (...) {
    QVLogHostException(operation, "unknown exception");
  }
  return fallback;
}
