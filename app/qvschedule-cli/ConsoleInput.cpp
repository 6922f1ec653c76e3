#include "ConsoleInput.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// The pipe the SIGINT handler writes to; -1 when no reader is active.
std::atomic<int> gInterruptPipe{-1};
int gPipe[2] = {-1, -1};
struct sigaction gOldAction;
termios gOldTerminal;

extern "C" void onInterrupt(int) {
  const int fd = gInterruptPipe.load();
  if (fd >= 0) {
    const char byte = 'i';
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
  }
}

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

ConsoleInput::ConsoleInput(std::function<void(Command)> onCommand) : onCommand_(std::move(onCommand)) {
  if (pipe(gPipe) != 0) gPipe[0] = gPipe[1] = -1;
  if (gPipe[1] >= 0) {
    fcntl(gPipe[1], F_SETFL, fcntl(gPipe[1], F_GETFL) | O_NONBLOCK);
    gInterruptPipe.store(gPipe[1]);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &gOldAction);
  }
  terminal_ = isatty(STDIN_FILENO) == 1;
  if (terminal_ && tcgetattr(STDIN_FILENO, &gOldTerminal) == 0) {
    termios raw = gOldTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    terminalChanged_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  thread_ = std::thread([this] { readLoop(); });
}

ConsoleInput::~ConsoleInput() { close(); }

void ConsoleInput::close() {
  if (closed_) return;
  closed_ = true;
  if (gPipe[1] >= 0) {
    const char byte = 'q';
    [[maybe_unused]] const ssize_t written = write(gPipe[1], &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
  if (gPipe[1] >= 0) {
    sigaction(SIGINT, &gOldAction, nullptr);
    gInterruptPipe.store(-1);
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
  }
  if (terminalChanged_) tcsetattr(STDIN_FILENO, TCSANOW, &gOldTerminal);
}

void ConsoleInput::readLoop() {
  bool inputOpen = true;
  for (;;) {
    pollfd fds[2];
    nfds_t count = 0;
    if (gPipe[0] >= 0) fds[count++] = pollfd{gPipe[0], POLLIN, 0};
    const nfds_t inputIndex = count;
    if (inputOpen) fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
    if (count == 0) return;
    const int ready = poll(fds, count, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (gPipe[0] >= 0 && (fds[0].revents & POLLIN)) {
      char bytes[16];
      const ssize_t n = read(gPipe[0], bytes, sizeof bytes);
      for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] == 'q') return;
        if (bytes[i] == 'i') onCommand_(Command::Interrupt);
      }
    }
    if (inputOpen && (fds[inputIndex].revents & POLLNVAL)) {
      inputOpen = false;  // no standard input at all
      continue;
    }
    if (inputOpen && (fds[inputIndex].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buffer[256];
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n > 0) {
        handleText(buffer, n);
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        if (!terminal_) handleLine();  // a last line without its newline
        inputOpen = false;
      }
    }
  }
}

void ConsoleInput::handleText(const char* data, long size) {
  for (long i = 0; i < size; ++i) {
    const char c = data[i];
    if (terminal_) {
      if (c == 'p' || c == 'P') onCommand_(Command::Pause);
      if (c == 'r' || c == 'R') onCommand_(Command::Resume);
      if (c == 's' || c == 'S' || c == 'q' || c == 'Q') onCommand_(Command::Stop);
    } else if (c == '\n') {
      handleLine();
    } else {
      line_ += c;
    }
  }
}

void ConsoleInput::handleLine() {
  const std::string word = trim(line_);
  line_.clear();
  if (word == "p" || word == "pause") onCommand_(Command::Pause);
  if (word == "r" || word == "resume") onCommand_(Command::Resume);
  if (word == "s" || word == "stop") onCommand_(Command::Stop);
}
