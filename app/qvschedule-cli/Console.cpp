#include "Console.h"

#include "QVClock.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <unistd.h>

std::string formatElapsed(std::uint64_t units) {
  const std::uint64_t ms = (units + QV_FILE_TIME_UNITS_PER_MILLISECOND / 2) / QV_FILE_TIME_UNITS_PER_MILLISECOND;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%02llu:%02llu.%03llu", static_cast<unsigned long long>(ms / 60000),
                static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
  return buffer;
}

namespace {

std::string pad(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

Console::Console() : terminal_(isatty(STDOUT_FILENO) == 1) {}

std::string Console::elapsed(std::uint64_t fileTime) const {
  const std::uint64_t start = origin();
  return formatElapsed(fileTime > start ? fileTime - start : 0);
}

void Console::line(std::uint64_t at, const std::string& kind, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeLocked(elapsed(at) + "  " + pad(kind, 6) + " " + text);
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
  line(e.at, e.kind, text);
}

void Console::text(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeLocked(text);
}

void Console::progress(std::uint64_t at, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) {
    progress_ = elapsed(at) + "  " + text;
    std::cout << "\r\033[K" << progress_ << std::flush;
  } else {
    writeLocked(elapsed(at) + "  progress " + text);
  }
}

void Console::endProgress() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_ && !progress_.empty()) std::cout << "\r\033[K" << std::flush;
  progress_.clear();
}

void Console::writeLocked(const std::string& line) {
  if (terminal_ && !progress_.empty()) {
    std::cout << "\r\033[K" << line << '\n' << progress_ << std::flush;
  } else {
    std::cout << line << '\n' << std::flush;
  }
}
