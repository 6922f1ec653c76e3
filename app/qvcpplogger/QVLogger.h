// Named loggers. QVLogger::GetLogger(name) hands out a counted handle to the logger of that name;
// destroying the handle calls release(). Loggers are disabled until SetEnabled(name, true): a
// disabled logger writes no trace, formatted or notice line and costs one atomic load per call.
// Error lines always reach the sink. All functions may be called from any thread.
#pragma once

#include "QVLogFormat.h"
#include "QVLogSink.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

class ILogger {
 public:
  virtual void logFormatted(const char* file, int line, const char* format,
                            std::initializer_list<QVLogArg> values = {}) = 0;
  virtual void traceEnter(std::string_view function, const char* file, int line) = 0;
  virtual void logErrorFormatted(const char* format, int line, const char* file,
                                 std::initializer_list<QVLogArg> values = {}) = 0;
  virtual void logErrorText(std::string_view text, const char* file, int line) = 0;
  virtual void traceExit(std::string_view function, const char* file, int line) = 0;
  virtual void logNoticeText(std::string_view text, const char* file, int line) = 0;
  virtual bool isEnabled() const = 0;
  virtual void release() = 0;

 protected:
  ~ILogger() = default;
};

// Counted handle: release() is called once when the handle is destroyed or reset.
template <typename T>
class QVObjectPtrT {
 public:
  QVObjectPtrT() = default;
  explicit QVObjectPtrT(T* object) : object_(object) {}
  QVObjectPtrT(QVObjectPtrT&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  QVObjectPtrT& operator=(QVObjectPtrT&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  QVObjectPtrT(const QVObjectPtrT&) = delete;
  QVObjectPtrT& operator=(const QVObjectPtrT&) = delete;
  ~QVObjectPtrT() { reset(); }

  void reset() {
    if (object_) std::exchange(object_, nullptr)->release();
  }
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

namespace QVLogger {

QVObjectPtrT<ILogger> GetLogger(const std::string& name);
void SetEnabled(const std::string& name, bool enabled);
bool IsEnabled(const std::string& name);
// Installs the sink of every logger; null restores the default (standard error).
void SetSink(std::shared_ptr<QVLogSink> sink);
std::shared_ptr<QVLogSink> GetSink();
// Handles of that name currently held (obtained and not yet released).
int HandleCount(const std::string& name);

}  // namespace QVLogger
