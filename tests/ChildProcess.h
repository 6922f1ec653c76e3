// A program run as a child process for a test: standard input through a pipe, standard output and
// error merged into one pipe that a reader thread splits into lines, each with the steady-clock
// time it arrived. The child is killed if it still runs when the object goes. Every wait has a
// deadline. mutex_ guards the lines and is a leaf lock.
#pragma once

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <system_error>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;
  struct Line {
    Clock::time_point at;
    std::string text;
  };

  explicit ChildProcess(std::vector<std::string> argv) {
    std::signal(SIGPIPE, SIG_IGN);  // a write to a child that has ended fails instead
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    if (rc != 0) {
      ::close(out[0]);
      throw std::runtime_error(std::string("cannot start ") + args[0]);
    }
    reader_ = std::thread([this, fd = out[0]] { readAll(fd); });
  }

  ~ChildProcess() {
    closeInput();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  bool send(const std::string& text) {
    return input_ >= 0 && ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }

  // The first line from index `from` on that contains `needle`, waiting up to `timeout`; its
  // index, or -1.
  long waitFor(const std::string& needle, std::chrono::milliseconds timeout, std::size_t from = 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    long found = -1;
    changed_.wait_for(lock, timeout, [&] {
      for (std::size_t i = from; i < lines_.size() && found < 0; ++i) {
        if (lines_[i].text.find(needle) != std::string::npos) found = static_cast<long>(i);
      }
      return found >= 0 || ended_;
    });
    return found;
  }

  // Waits for the end of the output and the exit; the exit status, -1 on a timeout or a signal.
  int wait(std::chrono::milliseconds timeout) {
    closeInput();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!changed_.wait_for(lock, timeout, [this] { return ended_; })) return -1;
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<Line> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::string output() const {
    std::string all;
    for (const Line& line : lines()) all += line.text + '\n';
    return all;
  }

 private:
  void readAll(int fd) {
    std::string partial;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n < 0) continue;
      partial.append(buffer, static_cast<std::size_t>(n));
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1)) {
        lines_.push_back(Line{Clock::now(), partial.substr(0, end)});
      }
      changed_.notify_all();
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!partial.empty()) lines_.push_back(Line{Clock::now(), partial});
    ended_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  int input_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Line> lines_;
  bool ended_ = false;
};

// Polls `done` every 5 ms until it holds or `timeout` passes; whether it held. For what a child
// process does that no line of its output tells.
template <typename Done>
bool pollUntil(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Whether `signal` is still pending for the process (not yet taken by a handler).
inline bool signalPending(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const unsigned long long bit = 1ULL << (signal - 1);
  while (std::getline(status, line)) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      if (std::stoull(line.substr(7), nullptr, 16) & bit) return true;
    }
  }
  return false;
}

// Whether every thread of `pid` sleeps. Signals are sent only then: under the thread sanitizer's
// runtime, a signal that lands while a thread of the program is still starting was seen to vanish
// (the handler never ran, nothing stayed pending). A spinning wait never lets this hold.
inline bool allThreadsAsleep(pid_t pid) {
  bool asleep = true;
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (std::filesystem::directory_iterator task(tasks, error), end; !error && task != end; task.increment(error)) {
    std::ifstream stat(task->path() / "stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t name = text.rfind(')');  // the state follows the command name: "pid (comm) S ..."
    asleep = asleep && name != std::string::npos && text.compare(name, 3, ") S") == 0;
  }
  return asleep && !error;
}
