#include "Signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<int> gWriteFd{-1};
std::atomic<int> gCount{0};
struct sigaction gOldInterrupt;
struct sigaction gOldTerminate;

extern "C" void onStopSignal(int signal) {
  const int savedErrno = errno;
  // No message: standard error may be a full pipe, and a write would block the exit.
  if (gCount.fetch_add(1) > 0) _exit(128 + signal);
  const int fd = gWriteFd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

void ensureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

StopSignals::StopSignals() {
  if (pipe2(pipe_, O_CLOEXEC) != 0) {
    pipe_[0] = pipe_[1] = -1;
    return;
  }
  fcntl(pipe_[1], F_SETFL, fcntl(pipe_[1], F_GETFL) | O_NONBLOCK);
  gCount.store(0);
  gWriteFd.store(pipe_[1]);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &gOldInterrupt);
  sigaction(SIGTERM, &action, &gOldTerminate);
}

StopSignals::~StopSignals() {
  if (pipe_[1] < 0) return;
  sigaction(SIGINT, &gOldInterrupt, nullptr);
  sigaction(SIGTERM, &gOldTerminate, nullptr);
  gWriteFd.store(-1);
  close(pipe_[0]);
  close(pipe_[1]);
}

int StopSignals::take() {
  unsigned char bytes[16];
  const ssize_t n = read(pipe_[0], bytes, sizeof bytes);
  if (n <= 0) return 0;
  taken_ += static_cast<int>(n);
  return bytes[0];
}

bool StopSignals::pending() const {
  if (pipe_[0] < 0) return false;
  pollfd fd{pipe_[0], POLLIN, 0};
  return poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
}

void StopSignals::rearm() {
  gCount.fetch_sub(taken_);
  taken_ = 0;
}

const char* StopSignals::word(int signal) { return signal == SIGTERM ? "terminated" : "interrupted"; }
