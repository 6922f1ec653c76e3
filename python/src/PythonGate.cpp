#include "PythonGate.h"

PythonGate& PythonGate::instance() {
  // Never destroyed: library threads may still ask it while static objects are destroyed.
  static PythonGate* gate = new PythonGate();
  return *gate;
}

bool PythonGate::enter() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  ++inside_;
  return true;
}

void PythonGate::leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--inside_ == 0) left_.notify_all();
}

void PythonGate::close(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  closed_ = true;
  left_.wait_for(lock, bound, [this] { return inside_ == 0; });
}

PythonCall::PythonCall() : entered_(PythonGate::instance().enter()) {
  if (entered_) gil_.emplace();
}

PythonCall::~PythonCall() {
  gil_.reset();
  if (entered_) PythonGate::instance().leave();
}
