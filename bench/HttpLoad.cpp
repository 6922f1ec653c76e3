// HTTP vusers against a local nginx (started here on a free loopback port with a generated
// configuration serving a small file), next to wrk on the same server:
// - requests per second of 64 vusers without think time vs wrk with 64 connections, same time;
// - 10,000 vusers at 1 request a second: resident memory per vuser, and the scheduler's timer
//   lateness (the gaps between the batches of a ramp that runs meanwhile) vs the same ramp
//   without the 10,000;
// - a batch of 1,000 vusers: from the scheduler's call to the last one's first request.
// The vusers run in this process (HttpVusers driven by the scheduler's facade). Needs nginx and
// wrk (./scripts/bench installs them). Usage: qvschedule_bench_http [--smoke]
#include "BenchTable.h"
#include "HttpVusers.h"
#include "QVClock.h"
#include "QVSchedule.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

pid_t spawn(std::vector<std::string> args, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0] + " (is it installed? ./scripts/bench installs it)");
  return pid;
}

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// nginx in the foreground on 127.0.0.1, serving /small.txt (100 bytes); stopped when destroyed.
class Nginx {
 public:
  Nginx() {
    std::string pattern = (fs::temp_directory_path() / "qvschedule-nginx-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    fs::create_directories(dir_ / "html");
    fs::create_directories(dir_ / "logs");
    std::ofstream(dir_ / "html" / "small.txt") << std::string(99, 'x') << '\n';
    port_ = freePort();
    std::ofstream(dir_ / "nginx.conf")
        << "worker_processes auto;\nworker_rlimit_nofile 65536;\nerror_log " << (dir_ / "logs/error.log").string()
        << ";\npid " << (dir_ / "nginx.pid").string() << ";\nevents { worker_connections 30000; }\n"
        << "http {\n  access_log off;\n  keepalive_requests 100000000;\n  keepalive_timeout 300s;\n"
        << "  client_body_temp_path " << (dir_ / "body").string() << ";\n  proxy_temp_path "
        << (dir_ / "proxy").string() << ";\n  fastcgi_temp_path " << (dir_ / "fastcgi").string()
        << ";\n  uwsgi_temp_path " << (dir_ / "uwsgi").string() << ";\n  scgi_temp_path " << (dir_ / "scgi").string()
        << ";\n  server { listen 127.0.0.1:" << port_ << " backlog=4096; root " << (dir_ / "html").string()
        << "; }\n}\n";
    pid_ = spawn({"nginx", "-p", dir_.string(), "-c", (dir_ / "nginx.conf").string(), "-g", "daemon off;"},
                 (dir_ / "logs/stdout").string());
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!accepts(port_)) {
      if (Clock::now() > deadline) throw std::runtime_error("nginx did not start; see " + dir_.string());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Nginx() {
    kill(pid_, SIGQUIT);
    waitpid(pid_, nullptr, 0);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/small.txt"; }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

double wrkRps(const Nginx& nginx, int seconds) {
  const std::string out = (nginx.dir() / "wrk.out").string();
  const pid_t pid = spawn({"wrk", "-t", std::to_string(std::max(1u, std::thread::hardware_concurrency())), "-c", "64",
                           "-d", std::to_string(seconds) + "s", nginx.url()},
                          out);
  waitpid(pid, nullptr, 0);
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Requests/sec:", 0) == 0) return std::stod(line.substr(13));
  }
  throw std::runtime_error("no Requests/sec in the output of wrk");
}

double residentKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6));
  }
  return 0;
}

// HTTP vusers that note the real time of each run call of the scheduler.
class TimedVusers : public HttpVusers {
 public:
  using HttpVusers::HttpVusers;
  int runVusers(RunMode mode, long count) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(Clock::now());
    }
    return HttpVusers::runVusers(mode, count);
  }
  std::vector<Clock::time_point> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;  // guards calls_; a leaf lock
  std::vector<Clock::time_point> calls_;
};

// A definition for the whole scenario: run `first` vusers, then (unless `ramp` is 0) wait
// settleSeconds() and ramp up `ramp` more one a second, then wait `seconds` and stop them all.
long settleSeconds() { return qvbench::smokeMode() ? 2 : 10; }
// With `initialized`, all vusers are initialized (their connections opened) first.
std::string definition(long first, long ramp, long seconds, bool initialized = false) {
  std::ostringstream xml;
  xml << "<T><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID='1'><Manual>"
      << "<SchedulerType>Global</SchedulerType><Global><Scheduling>"
      << (initialized ? "<Initialization><InitAll/></Initialization>" : "")
      << "<DynamicScheduling><Run><TotalVusersNumber>" << first << "</TotalVusersNumber></Run>";
  if (ramp) {
    // The ramp starts once the first vusers have all settled.
    xml << "<Duration><RunFor>" << settleSeconds() << "</RunFor></Duration>"
        << "<RampUp><Batch><Count>1</Count><Interval>1</Interval></Batch><TotalVusersNumber>" << ramp
        << "</TotalVusersNumber></RampUp>";
  }
  xml << "<Duration><RunFor>" << seconds << "</RunFor></Duration><StopAll/></DynamicScheduling></Scheduling>"
      << "</Global></Manual></Scheduler></T>";
  return xml.str();
}

// One run of the scheduler over HTTP vusers in this process.
class Run {
 public:
  Run(const Nginx& nginx, long vusers, long thinkMs, const std::string& xml) {
    HttpSettings settings;
    settings.defaultVusers = vusers;
    settings.target.url = nginx.url();
    prepare(settings.target);
    settings.loop.thinkMs = thinkMs;
    settings.loops = std::max(1u, std::thread::hardware_concurrency());
    host_ = std::make_unique<TimedVusers>(settings, false, std::vector<std::string>{}, nullptr, nullptr);
    CQVSchedulerFacade::setVusersServices(host_.get());
    if (!CQVSchedulerFacade::setXMLString(xml.c_str())) throw std::runtime_error("definition refused");
    rssBefore_ = residentKb();
    host_->begin(QVNowFileTime());
    CQVSchedulerFacade::start();
  }
  ~Run() {
    CQVSchedulerFacade::stop();
    host_->shutdown();
  }
  TimedVusers& host() { return *host_; }
  double rssBefore() const { return rssBefore_; }
  // Waits (bounded) until `n` vusers run and each has sent a request.
  void waitRunning(long n, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      const HttpSnapshot s = host_->snapshot();
      if (s.total.counts.running >= n && s.total.cumulative.requests >= static_cast<std::uint64_t>(n)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("the vusers did not all start in time");
  }

 private:
  std::unique_ptr<TimedVusers> host_;
  double rssBefore_ = 0;
};

void benchRate(const Nginx& nginx, int seconds) {
  double ours = 0;
  {
    Run run(nginx, 64, 0, definition(64, 0, 3600));
    run.waitRunning(64, std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::uint64_t before = run.host().snapshot().total.cumulative.requests;
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const std::uint64_t after = run.host().snapshot().total.cumulative.requests;
    ours = static_cast<double>(after - before) / std::chrono::duration<double>(Clock::now() - start).count();
  }
  const double wrk = wrkRps(nginx, seconds);
  qvbench::printRow("HTTP requests/s, 64 vusers without think time (vs wrk -c64, same nginx)",
                    qvbench::formatNumber(ours, "req/s"), qvbench::formatNumber(wrk, "req/s"),
                    qvbench::formatRatio(ours / wrk), "ratio ≥ 0.7", ours >= 0.7 * wrk);
}

// Gaps between the ramp's batches beyond their 1 s, in seconds.
std::vector<double> rampLateness(TimedVusers& host, std::size_t skip) {
  const std::vector<Clock::time_point> calls = host.calls();
  std::vector<double> late;
  for (std::size_t i = skip + 1; i < calls.size(); ++i) {
    late.push_back(std::chrono::duration<double>(calls[i] - calls[i - 1]).count() - 1.0);
  }
  return late;
}

// Waits (bounded) for the ramp's last batch.
void waitRamp(TimedVusers& host, long batches) {
  const auto deadline = Clock::now() + std::chrono::seconds(settleSeconds() + batches + 10);
  while (host.calls().size() < static_cast<std::size_t>(batches + 1) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::vector<double> rampAlone(const Nginx& nginx, long batches) {
  Run run(nginx, 1 + batches, 1000, definition(1, batches, 1));
  waitRamp(run.host(), batches);
  return rampLateness(run.host(), 1);
}

void benchManyVusers(const Nginx& nginx, long vusers, long batches) {
  const std::vector<double> alone = rampAlone(nginx, batches);
  Run run(nginx, vusers + batches, 1000, definition(vusers, batches, 1));
  run.waitRunning(vusers, std::chrono::seconds(settleSeconds()));
  waitRamp(run.host(), batches);
  const double perVuserKb = (residentKb() - run.rssBefore()) / static_cast<double>(vusers + batches);
  const std::vector<double> loaded = rampLateness(run.host(), 1);
  const std::string n = std::to_string(vusers);
  qvbench::printRow("resident memory per HTTP vuser, " + n + " vusers at 1 request/s", qvbench::formatNumber(perVuserKb, "kB"),
                    "—", "—", "≤ 64 kB", perVuserKb <= 64);
  const double p50 = qvbench::median(loaded), p50Alone = qvbench::median(alone);
  const double worst = qvbench::percentile(loaded, 100), worstAlone = qvbench::percentile(alone, 100);
  qvbench::printRow("timer lateness p50 with " + n + " HTTP vusers running (vs none)", qvbench::formatSeconds(p50),
                    qvbench::formatSeconds(p50Alone), "—", "≤ none + 1 ms", p50 <= p50Alone + 1e-3);
  qvbench::printRow("timer lateness max with " + n + " HTTP vusers running (vs none)", qvbench::formatSeconds(worst),
                    qvbench::formatSeconds(worstAlone), "—", "≤ none + 2 ms", worst <= worstAlone + 2e-3);
}

// From the scheduler's run call to the last vuser's first request leaving; `initialized`: their
// connections were opened by an initialization before (else they connect on the way).
void benchBatch(const Nginx& nginx, long vusers, bool initialized) {
  Run run(nginx, vusers, 1000, definition(vusers, 0, 3600, initialized));
  run.waitRunning(vusers, std::chrono::seconds(30));
  const double lag = static_cast<double>(run.host().snapshot().total.cumulative.startLagMaxUs) / 1e6;
  const std::string figure = "batch of " + std::to_string(vusers) + " HTTP vusers" +
                             (initialized ? ", initialized before" : ", connecting on the way") +
                             ": scheduler's call to the last first request";
  qvbench::printRow(figure, qvbench::formatSeconds(lag), "—", "—", "≤ 50 ms", lag <= 0.050);
}

}  // namespace

int main(int argc, char** argv) {
  qvbench::parseSmoke(argc, argv);
  const bool smoke = qvbench::smokeMode();
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  try {
    Nginx nginx;
    qvbench::printHeader();
    benchRate(nginx, smoke ? 1 : 10);
    benchManyVusers(nginx, smoke ? 1000 : 10000, smoke ? 3 : 10);
    benchBatch(nginx, smoke ? 100 : 1000, true);
    benchBatch(nginx, smoke ? 100 : 1000, false);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvschedule_bench_http: %s\n", e.what());
    return 1;
  }
  return 0;
}
