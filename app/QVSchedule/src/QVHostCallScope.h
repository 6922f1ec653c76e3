// Marks the calling thread as being inside a call into the host for the scope's lifetime.
// The controller asks isActive() to tell a host that calls back into the facade from one of its
// own callbacks (stop or load from inside runVusers, say) from an ordinary call: runners that
// such a call discards are still on the caller's stack and must outlive it.
#pragma once

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
