#include "ConsoleInput.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

termios gOldTerminal;

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

ConsoleInput::ConsoleInput(StopSignals& signals, std::function<void(Command)> onCommand, LineCallback onOtherLine)
    : onCommand_(std::move(onCommand)), onOtherLine_(std::move(onOtherLine)), signals_(signals) {
  if (pipe2(quit_, O_CLOEXEC) != 0) quit_[0] = quit_[1] = -1;
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
  if (quit_[1] >= 0) {
    const char byte = 'q';
    [[maybe_unused]] const ssize_t written = write(quit_[1], &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (int& fd : quit_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (terminalChanged_) tcsetattr(STDIN_FILENO, TCSANOW, &gOldTerminal);
}

void ConsoleInput::readLoop() {
  // Standard input is never one of our pipes (the program keeps 0-2 open), but do not read a
  // descriptor twice even if it were.
  bool inputOpen = STDIN_FILENO != quit_[0] && STDIN_FILENO != signals_.readFd();
  for (;;) {
    pollfd fds[3] = {{quit_[0], POLLIN, 0}, {signals_.readFd(), POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;  // close(), or our own pipe broke
    if (fds[1].revents & POLLIN) serveSignal();
    if (fds[2].revents & POLLNVAL) {
      inputOpen = false;
    } else if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
      readInput(inputOpen);
    }
  }
}

void ConsoleInput::serveSignal() {
  const int signal = signals_.take();
  if (signal == SIGTERM) onCommand_(Command::Terminate);
  if (signal == SIGINT) onCommand_(Command::Interrupt);
}

void ConsoleInput::readInput(bool& inputOpen) {
  char buffer[256];
  const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n > 0) {
    handleText(buffer, n);
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    if (!terminal_) handleLine();  // a last line without its newline
    inputOpen = false;
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
  if (word == "p" || word == "pause") {
    onCommand_(Command::Pause);
  } else if (word == "r" || word == "resume") {
    onCommand_(Command::Resume);
  } else if (word == "s" || word == "stop") {
    onCommand_(Command::Stop);
  } else if (onOtherLine_ && !word.empty()) {
    onOtherLine_(word);
  }
}
