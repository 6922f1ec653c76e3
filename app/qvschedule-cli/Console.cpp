#include "Console.h"

#include "JsonOutput.h"
#include "Output.h"

#include "QVClock.h"

#include <cstdio>
#include <sstream>
#include <unistd.h>

namespace {

// The span in whole milliseconds, rounded to the nearest (no overflow at the largest span).
unsigned long long roundedMilliseconds(std::uint64_t units) {
  return units / QV_FILE_TIME_UNITS_PER_MILLISECOND +
         (units % QV_FILE_TIME_UNITS_PER_MILLISECOND >= QV_FILE_TIME_UNITS_PER_MILLISECOND / 2);
}

}  // namespace

std::string formatElapsed(std::uint64_t units) {
  const unsigned long long ms = roundedMilliseconds(units);
  char buffer[48];
  if (ms < 3600000ULL) {
    std::snprintf(buffer, sizeof buffer, "%02llu:%02llu.%03llu", ms / 60000, ms / 1000 % 60, ms % 1000);
  } else {
    std::snprintf(buffer, sizeof buffer, "%llu:%02llu:%02llu.%03llu", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
  }
  return buffer;
}

namespace {

std::string pad(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

Console::Console() : humanFd_(STDOUT_FILENO), terminal_(isatty(STDOUT_FILENO) == 1) {}

void Console::useJsonLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  json_ = true;
  humanFd_ = STDERR_FILENO;
  terminal_ = isatty(STDERR_FILENO) == 1;
}

void Console::recordJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  record_ = true;
}

std::vector<std::string> Console::recordedJson() {
  std::lock_guard<std::mutex> lock(mutex_);
  return recorded_;
}

double Console::seconds(std::uint64_t fileTime) const {
  const std::uint64_t start = origin();
  const std::uint64_t units = fileTime > start ? fileTime - start : 0;
  return static_cast<double>(roundedMilliseconds(units)) / 1000.0;
}

std::string Console::elapsed(std::uint64_t fileTime) const {
  const std::uint64_t start = origin();
  return formatElapsed(fileTime > start ? fileTime - start : 0);
}

void Console::line(std::uint64_t at, const std::string& kind, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeLocked(elapsed(at) + "  " + pad(kind, 6) + " " + text);
  if (json_ || record_ || tap_) jsonLocked(timelineTextJson(seconds(at), kind, text), nullptr);
}

void Console::entry(const SimulatedVusers::Entry& e) {
  std::ostringstream out;
  out << pad(e.group, 10) << ' ' << pad(e.what, 22) << ' ' << pad(e.count, 5) << ' ' << pad(e.status, 15);
  if (!e.mode.empty()) out << " mode=" << e.mode;
  if (e.hasCounts) {
    out << (e.mode.empty() ? " " : "  ") << "[idle " << e.counts.idle << ", init " << e.counts.initialized << ", run "
        << e.counts.running << ", done " << e.counts.done << "]";
  }
  std::string text = out.str();
  while (!text.empty() && text.back() == ' ') text.pop_back();
  std::lock_guard<std::mutex> lock(mutex_);
  writeLocked(elapsed(e.at) + "  " + pad(e.kind, 6) + " " + text);
  if (json_ || record_ || tap_) jsonLocked(timelineEntryJson(seconds(e.at), e), &e);
}

void Console::text(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeLocked(text);
}

void Console::progress(std::uint64_t at, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) {
    progress_ = elapsed(at) + "  " + text;
    writeStandard(humanFd_, "\r\033[K" + progress_);
  } else {
    writeLocked(elapsed(at) + "  progress " + text);
  }
}

void Console::endProgress() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_ && !progress_.empty()) writeStandard(humanFd_, "\r\033[K");
  progress_.clear();
}

void Console::writeLocked(const std::string& line) {
  if (terminal_ && !progress_.empty()) {
    writeStandard(humanFd_, "\r\033[K" + line + '\n' + progress_);
  } else {
    writeStandard(humanFd_, line + '\n');
  }
}

void Console::setTap(Tap tap) {
  std::lock_guard<std::mutex> lock(mutex_);
  tap_ = std::move(tap);
}

void Console::jsonLocked(const std::string& object, const TimelineEntry* entry) {
  if (json_) writeStandard(STDOUT_FILENO, object + '\n');
  if (record_) recorded_.push_back(object);
  if (tap_) tap_(object, entry);
}
