// Runs a program to its end with its standard output and standard error kept apart, in a given
// working directory, and answers its exit status and both texts. A program still running after
// the deadline is killed (status -1).
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

struct ProcessResult {
  int exitCode = -1;  // 128 + the signal that ended it; -1 when it ran past the deadline
  std::string output;
  std::string errors;
};

namespace processrun {

// An unlinked temporary file: the program writes it, we read it once it has ended.
class TempFile {
 public:
  TempFile() {
    char name[] = "/tmp/qvschedule-process-XXXXXX";
    fd_ = mkstemp(name);
    if (fd_ < 0) throw std::runtime_error("mkstemp failed");
    unlink(name);
  }
  ~TempFile() { close(fd_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int fd() const { return fd_; }
  std::string text() const {
    std::string text;
    char buffer[4096];
    ssize_t n;
    for (off_t at = 0; (n = pread(fd_, buffer, sizeof buffer, at)) > 0; at += n) text.append(buffer, n);
    return text;
  }

 private:
  int fd_;
};

}  // namespace processrun

inline ProcessResult runProcess(const std::vector<std::string>& args, const std::string& directory = "",
                                std::chrono::seconds deadline = std::chrono::seconds(60)) {
  processrun::TempFile out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.fd(), STDERR_FILENO);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  std::vector<std::string> all = args;
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
  ProcessResult result;
  // Blocks until the child ends or the deadline passes: its pidfd becomes readable when it exits.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  pollfd ended{pidfd, POLLIN, 0};
  const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline).count());
  const bool exited = pidfd >= 0 && poll(&ended, 1, ms) == 1;
  if (pidfd >= 0) close(pidfd);
  if (!exited) kill(pid, SIGKILL);  // past the deadline (or no pidfd): status -1
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && exited) {
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  result.output = out.text();
  result.errors = err.text();
  return result;
}
