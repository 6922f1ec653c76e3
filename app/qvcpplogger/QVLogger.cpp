#include "QVLogger.h"

#include "QVMutex.h"

#include <atomic>
#include <map>

namespace {

// The sink of every logger. Never destroyed: threads may log while static objects are torn down.
struct SinkSlot {
  QVMutex mutex;  // a leaf lock; the sink is called after it is released
  std::shared_ptr<QVLogSink> sink QV_GUARDED_BY(mutex) = std::make_shared<QVStreamLogSink>();
};

SinkSlot& sinkSlot() {
  static SinkSlot* slot = new SinkSlot();
  return *slot;
}

void emit(const std::string& logger, QVLogKind kind, std::string text, const char* file, int line) {
  std::shared_ptr<QVLogSink> sink = QVLogger::GetSink();
  if (!sink) return;
  QVLogRecord record{logger, kind, std::move(text), file ? file : "", line};
  sink->write(record);
}

class Logger final : public ILogger {
 public:
  explicit Logger(std::string name) : name_(std::move(name)) {}

  void logFormatted(const char* file, int line, const char* format, std::initializer_list<QVLogArg> values) override {
    if (!isEnabled()) return;
    emit(name_, QVLogKind::Formatted, QVFormatPositional(format ? format : "", values), file, line);
  }
  void traceEnter(std::string_view function, const char* file, int line) override {
    if (!isEnabled()) return;
    emit(name_, QVLogKind::TraceEnter, std::string(function), file, line);
  }
  void logErrorFormatted(const char* format, int line, const char* file, std::initializer_list<QVLogArg> values) override {
    emit(name_, QVLogKind::Error, QVFormatPositional(format ? format : "", values), file, line);
  }
  void logErrorText(std::string_view text, const char* file, int line) override {
    emit(name_, QVLogKind::Error, std::string(text), file, line);
  }
  void traceExit(std::string_view function, const char* file, int line) override {
    if (!isEnabled()) return;
    emit(name_, QVLogKind::TraceExit, std::string(function), file, line);
  }
  void logNoticeText(std::string_view text, const char* file, int line) override {
    if (!isEnabled()) return;
    emit(name_, QVLogKind::Notice, std::string(text), file, line);
  }
  bool isEnabled() const override { return enabled_.load(std::memory_order_relaxed); }
  void release() override { handles_.fetch_sub(1, std::memory_order_acq_rel); }

  void setEnabled(bool enabled) { enabled_.store(enabled, std::memory_order_relaxed); }
  void addHandle() { handles_.fetch_add(1, std::memory_order_acq_rel); }
  int handles() const { return handles_.load(std::memory_order_acquire); }

 private:
  const std::string name_;
  std::atomic<bool> enabled_{false};
  std::atomic<int> handles_{0};
};

// Loggers live for the whole process, so handles stay valid during static destruction.
class Registry {
 public:
  Logger& get(const std::string& name) {
    QVMutexLock lock(mutex_);
    auto& slot = loggers_[name];
    if (!slot) slot = std::make_unique<Logger>(name);
    return *slot;
  }

 private:
  QVMutex mutex_;  // a leaf lock
  std::map<std::string, std::unique_ptr<Logger>> loggers_ QV_GUARDED_BY(mutex_);
};

Registry& registry() {
  static Registry* r = new Registry();
  return *r;
}

}  // namespace

namespace QVLogger {

QVObjectPtrT<ILogger> GetLogger(const std::string& name) {
  Logger& logger = registry().get(name);
  logger.addHandle();
  return QVObjectPtrT<ILogger>(&logger);
}

void SetEnabled(const std::string& name, bool enabled) { registry().get(name).setEnabled(enabled); }

bool IsEnabled(const std::string& name) { return registry().get(name).isEnabled(); }

void SetSink(std::shared_ptr<QVLogSink> sink) {
  if (!sink) sink = std::make_shared<QVStreamLogSink>();
  SinkSlot& slot = sinkSlot();
  {
    QVMutexLock lock(slot.mutex);
    slot.sink.swap(sink);
  }
  // The previous sink is released here, outside the lock.
}

std::shared_ptr<QVLogSink> GetSink() {
  SinkSlot& slot = sinkSlot();
  QVMutexLock lock(slot.mutex);
  return slot.sink;
}

int HandleCount(const std::string& name) { return registry().get(name).handles(); }

}  // namespace QVLogger
