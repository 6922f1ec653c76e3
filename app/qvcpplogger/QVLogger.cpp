#include "QVLogger.h"

#include <atomic>
#include <map>
#include <mutex>

namespace {

std::mutex& sinkMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}

std::shared_ptr<QVLogSink>& sinkSlot() {
  static std::shared_ptr<QVLogSink>* s = new std::shared_ptr<QVLogSink>(std::make_shared<QVStreamLogSink>());
  return *s;
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
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = loggers_[name];
    if (!slot) slot = std::make_unique<Logger>(name);
    return *slot;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Logger>> loggers_;
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
  std::lock_guard<std::mutex> lock(sinkMutex());
  sinkSlot() = std::move(sink);
}

std::shared_ptr<QVLogSink> GetSink() {
  std::lock_guard<std::mutex> lock(sinkMutex());
  return sinkSlot();
}

int HandleCount(const std::string& name) { return registry().get(name).handles(); }

}  // namespace QVLogger
