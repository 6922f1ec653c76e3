#include "PlanPreview.h"

#include "Output.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The longest a preview may take (it stops by itself after 30 days of schedule time).
constexpr auto kPreviewDeadline = std::chrono::seconds(120);

// The fields of one CSV line (quoted fields as the chart writes them).
std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

nlohmann::ordered_json planFromCsv(const std::string& csv, const std::vector<std::string>& pools, bool complete) {
  nlohmann::ordered_json series = nlohmann::ordered_json::object();
  for (const std::string& pool : pools) series[pool] = nlohmann::ordered_json::array();
  double end = 0;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = csvFields(line);
    if (f.size() != 4) continue;
    const double t = std::atof(f[0].c_str());
    series[f[1]].push_back({t, std::atol(f[2].c_str()), std::atol(f[3].c_str())});
    end = std::max(end, t);
  }
  return {{"complete", complete}, {"end_s", end}, {"groups", pools}, {"series", series}};
}

std::string selfPath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("/proc/self/exe");
}

}  // namespace

PlanPreview::PlanPreview(std::string definitionText, std::vector<std::string> arguments,
                         std::vector<std::string> pools)
    : text_(std::move(definitionText)), arguments_(std::move(arguments)), pools_(std::move(pools)) {}

PlanPreview::~PlanPreview() {
  quit_.store(true);
  if (thread_.joinable()) thread_.join();
}

void PlanPreview::start() { thread_ = std::thread([this] { body(); }); }

bool PlanPreview::get(std::chrono::milliseconds timeout, nlohmann::ordered_json& plan, std::string& problem) const {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!done_.wait_for(lock, timeout, [this] { return ready_; })) {
    problem = "the plan is still being computed";
    return false;
  }
  plan = plan_;
  problem = problem_;
  return problem.empty();
}

void PlanPreview::finish(nlohmann::ordered_json plan, std::string problem) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_ = std::move(plan);
    problem_ = std::move(problem);
    ready_ = true;
  }
  done_.notify_all();
}

void PlanPreview::body() {
  // A write to a preview that ended early fails with EPIPE instead of signalling the process;
  // a SIGPIPE left pending on this thread goes with it.
  sigset_t pipeOnly;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
  std::string csv, problem;
  int status = -1;
  if (!runChild(csv, status, problem)) return finish(nullptr, problem);
  if (status != 0 && status != 4) {  // 4: stopped at its 30-day limit, the series is still good
    return finish(nullptr, "the preview ended with status " + std::to_string(status));
  }
  finish(planFromCsv(csv, pools_, status == 0), std::string());
}

namespace {

// Starts `args` with standard input from `in`, the chart series to descriptor 3 (`out`) and its
// other output thrown away; 0 or the error number.
int spawnPreview(std::vector<std::string> args, int in, int out, pid_t& pid) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 3);
  posix_spawn_file_actions_addclosefrom_np(&actions, 4);  // nothing else of ours: no socket, no pipe
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

}  // namespace

bool PlanPreview::runChild(std::string& csv, int& status, std::string& problem) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    problem = "cannot make a pipe: " + errorText(errno);
    for (const int fd : {in[0], in[1], out[0], out[1]}) if (fd >= 0) ::close(fd);
    return false;
  }
  std::vector<std::string> args = {selfPath(), "preview", "-", "--csv", "/dev/fd/3"};
  args.insert(args.end(), arguments_.begin(), arguments_.end());
  pid_t pid = -1;
  const int rc = spawnPreview(args, in[0], out[1], pid);
  ::close(in[0]);
  ::close(out[1]);
  if (rc == 0) writeAll(in[1], text_);  // the preview reads all of it before it writes
  ::close(in[1]);
  const bool read = rc == 0 && readUntilEnd(out[0], csv, problem);
  ::close(out[0]);
  if (rc != 0) return problem = "cannot start the preview: " + errorText(rc), false;
  if (!read) kill(pid, SIGKILL);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return read;
}

// Reads `fd` to its end, giving up at the deadline or when asked to quit.
bool PlanPreview::readUntilEnd(int fd, std::string& out, std::string& problem) {
  const auto deadline = std::chrono::steady_clock::now() + kPreviewDeadline;
  char buffer[8192];
  while (!quit_.load()) {
    if (std::chrono::steady_clock::now() > deadline) return problem = "the preview took too long", false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0 && errno != EINTR) return problem = "cannot read the preview: " + errorText(errno), false;
    if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
  }
  return problem = "the run ended first", false;
}
