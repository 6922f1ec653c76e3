#include "Output.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <unistd.h>

namespace {

struct FailureRecord {
  std::mutex mutex;  // guards the members; a leaf lock
  std::set<std::string> failed;
  std::function<void()> listener;
};

FailureRecord& record() {
  static FailureRecord* failures = new FailureRecord();  // used until the very end
  return *failures;
}

// Ends the process as a write to a closed pipe does when SIGPIPE is not ignored.
[[noreturn]] void endAsClosedPipe() {
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);
  raise(SIGPIPE);
  _exit(128 + SIGPIPE);
}

const char* streamName(int fd) { return fd == STDERR_FILENO ? "standard error" : "standard output"; }

}  // namespace

std::string errorText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);  // the GNU variant: answers the text
}

int writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

bool writeOutputFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    reportOutputFailure(path, errno);
    return false;
  }
  int error = writeAll(fd, text);
  if (close(fd) != 0 && error == 0) error = errno;
  if (error != 0) reportOutputFailure(path, error);
  return error == 0;
}

bool writeStandard(int fd, const std::string& text) {
  const char* name = streamName(fd);
  {
    FailureRecord& failures = record();
    std::lock_guard<std::mutex> lock(failures.mutex);
    if (failures.failed.count(name)) return false;
  }
  const int error = writeAll(fd, text);
  if (error == EPIPE) endAsClosedPipe();
  if (error != 0) reportOutputFailure(name, error);
  return error == 0;
}

void reportOutputFailure(const std::string& what, int error) {
  std::function<void()> listener;
  {
    FailureRecord& failures = record();
    std::lock_guard<std::mutex> lock(failures.mutex);
    if (!failures.failed.insert(what).second) return;
    if (failures.failed.size() == 1) listener = failures.listener;
  }
  writeAll(STDERR_FILENO, "qvschedule: cannot write " + what + ": " + errorText(error) + "\n");
  if (listener) listener();
}

bool anyOutputFailed() {
  FailureRecord& failures = record();
  std::lock_guard<std::mutex> lock(failures.mutex);
  return !failures.failed.empty();
}

void setOutputFailureListener(std::function<void()> listener) {
  FailureRecord& failures = record();
  std::lock_guard<std::mutex> lock(failures.mutex);
  failures.listener = std::move(listener);
}
