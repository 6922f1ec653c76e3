// HTTP vusers: the histogram and thresholds they report with, and `qvschedule run --http` as a
// subprocess against servers on 127.0.0.1 started by the test (TargetServer, and TlsServer for
// HTTPS).
#include "ChildProcess.h"
#include "Histogram.h"
#include "TargetServer.h"
#include "Thresholds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>

#if defined(__SANITIZE_THREAD__)
// The test server's library (Debian's libcpp-httplib.so) is not built with ThreadSanitizer: it
// cannot see that library's own synchronization and reports races between two of its threads.
extern "C" const char* __tsan_default_suppressions() { return "race:libcpp-httplib.so\n"; }
#endif

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::HasSubstr;
using testing::Not;
using Clock = std::chrono::steady_clock;

// ---- histogram and thresholds ----

TEST(HttpHistogram, QuantilesAreWithinOnePercent) {
  for (const std::uint64_t value : {std::uint64_t{1}, std::uint64_t{127}, std::uint64_t{128}, std::uint64_t{1000},
                                    std::uint64_t{12345}, std::uint64_t{999999}, (std::uint64_t{1} << 33) + 12345,
                                    (std::uint64_t{1} << 40) - 1}) {
    LatencyHistogram h;
    h.add(value);
    EXPECT_NEAR(h.quantile(0.5), static_cast<double>(value), 0.01 * static_cast<double>(value)) << value;
  }
  LatencyHistogram uniform;
  for (std::uint64_t v = 1; v <= 100000; ++v) uniform.add(v);
  for (const double q : {0.5, 0.9, 0.95, 0.99}) EXPECT_NEAR(uniform.quantile(q), q * 100000, q * 1000) << q;

  // Merged per-thread copies and a span between two readings count every value once.
  LatencyHistogram before = uniform;
  LatencyHistogram more;
  more.add(5000, 3);
  uniform.merge(more);
  EXPECT_EQ(uniform.count(), 100003u);
  const LatencyHistogram span = uniform.since(before);
  EXPECT_EQ(span.count(), 3u);
  EXPECT_NEAR(span.quantile(1.0), 5000, 50);
}

TEST(HttpThresholds, ParseAndEvaluate) {
  MetricsTotals totals;  // 200 requests, 4 HTTP errors, latencies 1..200 ms, 1 init error
  for (std::uint64_t ms = 1; ms <= 200; ++ms) totals.latencyUs.add(ms * 1000);
  totals.requests = 200;
  totals.errors[static_cast<std::size_t>(ErrorKind::Http)] = 4;
  totals.latencyMaxUs = 200000;
  totals.initErrors = 1;
  struct Row {
    const char* text;
    const char* group;
    bool passed;  // over `totals` in 2 seconds
  };
  for (const Row& row : {Row{"p95<250ms", "", true}, Row{"p95 < 0.15s", "", false}, Row{"p99<=200000us", "", true},
                         Row{"p50>=99", "", true}, Row{"max<200ms", "", false}, Row{"errors<1%", "", false},
                         Row{"errors<=4", "", true}, Row{"rps>100", "", false}, Row{"rps>=100", "", true},
                         Row{"g1:p90<200ms", "g1", true}, Row{"requests>199", "", true},
                         Row{"init-errors<1", "", false}, Row{"mean<101ms", "", true}}) {
    Threshold t;
    ASSERT_EQ(parseThreshold(row.text, t), "") << row.text;
    EXPECT_EQ(t.group, row.group) << row.text;
    EXPECT_EQ(evaluateThreshold(t, totals, 2.0).passed, row.passed) << row.text;
  }
  for (const auto& bad : std::vector<std::pair<const char*, const char*>>{
           {"p95<<3", "number"}, {"latency<3ms", "unknown measurement"}, {"p95=3", "expected <"},
           {"p95<", "no value"}, {"p95<3min", "us, ms or s"}, {"rps>1%", "plain number"}, {":p95<1", "no group"},
           {"errors<-1", "number >= 0"}}) {
    Threshold t;
    EXPECT_THAT(parseThreshold(bad.first, t), HasSubstr(bad.second)) << bad.first;
  }
}

// ---- the program against a local server ----

const std::string kCli = QVSCHEDULE_CLI;
const std::string kData = QV_TEST_DATA_DIR;

class TempFiles {
 public:
  TempFiles() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qvschedule-http-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
  }
  ~TempFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

std::unique_ptr<ChildProcess> startCli(std::vector<std::string> args) {
  args.insert(args.begin(), {kCli, "run"});
  args.push_back("--no-library-lines");
  return std::make_unique<ChildProcess>(std::move(args));
}

json readJson(const std::string& path) {
  std::ifstream in(path);
  json document;
  in >> document;
  return document;
}

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Requests and distinct client connections the server saw in [from, to).
struct Window {
  std::size_t requests = 0;
  std::size_t connections = 0;
  double seconds = 0;
};
Window window(const std::vector<TargetServer::Hit>& hits, Clock::time_point from, Clock::time_point to) {
  Window w;
  std::set<int> ports;
  for (const auto& hit : hits) {
    if (hit.at < from || hit.at >= to) continue;
    ++w.requests;
    ports.insert(hit.clientPort);
  }
  w.connections = ports.size();
  w.seconds = secondsBetween(from, to);
  return w;
}

// The built-in typical road at 20x: batches of 3, 3, 3 and 1 vusers every 15 s of schedule
// (0.75 s of real time), 60 s of duration, stop all. Each vuser keeps its own connection.
TEST(HttpRun, TypicalRoadRequestRateFollowsTheRunningVusers) {
  TargetServer server;
  TempFiles files;
  auto cli = startCli({"--speed", "20", "--http", server.url("/ok"), "--think-ms", "20", "--out", files.path("run.json")});
  const long stopLine = cli->waitFor("stopAllVusers", 30s);
  ASSERT_GE(stopLine, 0) << cli->output();
  const Clock::time_point stopSeen = cli->lines()[static_cast<std::size_t>(stopLine)].at;
  ASSERT_EQ(cli->wait(20s), 0) << cli->output();

  const std::vector<TargetServer::Hit> hits = server.hits();
  // Each level holds from the line of its batch call to the next batch's (the last: to the stop),
  // less the first 0.15 s and the last 0.1 s.
  std::vector<Clock::time_point> starts;
  for (const auto& line : cli->lines()) {
    if (line.text.find("runVusers") != std::string::npos) starts.push_back(line.at);
  }
  ASSERT_EQ(starts.size(), 4u) << cli->output();
  starts.push_back(stopSeen);
  std::vector<Window> levels;
  for (std::size_t i = 0; i < 4; ++i) levels.push_back(window(hits, starts[i] + 150ms, starts[i + 1] - 100ms));
  const std::size_t vusers[] = {3, 6, 9, 10};
  const double perVuser = static_cast<double>(levels[3].requests) / levels[3].seconds / 10;
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(levels[i].connections, vusers[i]) << i;
    const double expected = perVuser * static_cast<double>(vusers[i]);
    // The first level is the run's first half second, where a stall under a sanitizer weighs most
    // (once 23% low in CI): it gets more room than the others.
    const double room = i == 0 ? 0.35 : 0.2;
    EXPECT_NEAR(static_cast<double>(levels[i].requests) / levels[i].seconds, expected, room * expected) << i;
  }
  for (const auto& hit : hits) EXPECT_LT(secondsBetween(stopSeen, hit.at), 0.05) << "a request after the stop";

  // The program's own record says the same.
  const json run = readJson(files.path("run.json"));
  EXPECT_EQ(run["total"]["requests"].get<std::size_t>(), hits.size());
  EXPECT_EQ(run["total"]["errors"]["total"].get<int>(), 0);
  EXPECT_EQ(run["total"]["protocols"], json({{"HTTP/1.1", hits.size()}}));
  int checked = 0;
  double previous = 0;
  for (const json& sample : run["series"]) {
    const double at = sample["schedule_s"].get<double>();
    const int running = sample["total"]["running"].get<int>();
    const double since = previous;
    previous = at;
    if (at > 104) continue;
    const bool nearBatch = std::fabs(std::fmod(at + 2, 15.0) - 2) < 2 && at < 48;
    if (!nearBatch) {
      EXPECT_EQ(running, at < 45 ? 3 * (static_cast<int>(at) / 15 + 1) : 10) << at;
    }
    if (since >= 47) {
      EXPECT_NEAR(sample["total"]["rps"].get<double>(), 10 * perVuser, 2 * perVuser) << at;
      ++checked;
    }
  }
  EXPECT_GE(checked, 1);
}

TEST(HttpRun, PauseHoldsTheLoopsAndResumeRestartsThem) {
  TargetServer server;
  auto cli = startCli({kData + "/http_run_then_wait.xml", "--http", server.url("/ok"), "--think-ms", "10"});
  ASSERT_TRUE(pollUntil([&] { return server.total() >= 10; }, 10s)) << cli->output();
  ASSERT_TRUE(cli->send("p\n"));
  const long paused = cli->waitFor("onSchedulerPaused", 10s);
  ASSERT_GE(paused, 0) << cli->output();
  const Clock::time_point pausedSeen = cli->lines()[static_cast<std::size_t>(paused)].at;
  // Watch a quiet spell: nothing may arrive while paused.
  std::this_thread::sleep_until(pausedSeen + 400ms);
  const std::size_t held = server.total();
  for (const auto& hit : server.hits()) EXPECT_LT(secondsBetween(pausedSeen, hit.at), 0.02) << "a request while paused";
  ASSERT_TRUE(cli->send("r\n"));
  EXPECT_TRUE(pollUntil([&] { return server.total() >= held + 10; }, 10s)) << cli->output();
  ASSERT_TRUE(cli->send("s\n"));
  EXPECT_EQ(cli->wait(20s), 3) << cli->output();
  EXPECT_LE(server.peakInProgress("/ok"), 2);  // one request at a time per vuser
}

TEST(HttpRun, GroupStartsAfterTheOtherCompletedItsIterations) {
  TargetServer server;
  TempFiles files;
  // g1's 40 vusers connect at once: none may wait for a connect to be tried again.
  auto cli = startCli({kData + "/http_groups_until_complete.xml", "--vusers", "3", "--group-vusers", "g1=40",
                       "--iterations", "4", "--think-ms", "5", "--group-http", "g1=" + server.url("/g1"),
                       "--group-http", "g2=" + server.url("/g2"), "--out", files.path("run.json")});
  ASSERT_EQ(cli->wait(30s), 0) << cli->output();
  EXPECT_EQ(server.count("/g1"), 160u);
  EXPECT_EQ(server.count("/g2"), 12u);
  Clock::time_point lastG1 = Clock::time_point::min(), firstG2 = Clock::time_point::max();
  for (const auto& hit : server.hits()) {
    if (hit.path == "/g1") lastG1 = std::max(lastG1, hit.at);
    if (hit.path == "/g2") firstG2 = std::min(firstG2, hit.at);
  }
  EXPECT_LT(lastG1, firstG2);
  const std::string out = cli->output();
  EXPECT_LT(out.find("g1         groupFinishedRunning"), out.find("g2         runAllGroupVusers"));
  const std::size_t initialized = out.find("g1         groupAllVusersInit");
  ASSERT_NE(initialized, std::string::npos) << out;
  EXPECT_LT(out.substr(out.rfind('\n', initialized) + 1, 9), "00:00.500") << out;
  const json run = readJson(files.path("run.json"));
  EXPECT_EQ(run["groups"][0]["requests"].get<int>(), 160);
  EXPECT_EQ(run["groups"][1]["requests"].get<int>(), 12);
  EXPECT_EQ(run["groups"][0]["init"]["ok"].get<int>(), 40);
}

TEST(HttpRun, ServerErrorsAndStallsFailAThreshold) {
  TargetServer server;
  TempFiles files;
  auto cli = startCli({kData + "/http_two_groups_short.xml", "--speed", "2", "--think-ms", "10", "--timeout-ms", "200",
                       "--group-http", "g1=" + server.url("/fail"), "--group-http",
                       "g2=" + server.url("/slow?ms=3000"), "--threshold", "g1:errors<1%", "--threshold",
                       "requests>0", "--out", files.path("run.json"), "--out-csv", files.path("series.csv")});
  EXPECT_EQ(cli->wait(30s), 6) << cli->output();
  const std::string out = cli->output();
  EXPECT_THAT(out, testing::ContainsRegex("threshold g1:errors<1% +errors = 100.00% +FAILED"));
  EXPECT_THAT(out, testing::ContainsRegex("threshold requests>0 +requests = [0-9]+ +passed"));
  EXPECT_THAT(out, HasSubstr("a threshold failed"));
  const json run = readJson(files.path("run.json"));
  const json& g1 = run["groups"][0];
  const json& g2 = run["groups"][1];
  // Every request fails: g1's with a 500 (or, on a slow machine, past the timeout), g2's past it.
  EXPECT_GT(g1["errors"]["http"].get<int>(), 0);
  EXPECT_EQ(g1["status_codes"]["500"], g1["errors"]["http"]);
  EXPECT_EQ(g1["errors"]["total"], g1["requests"]);
  EXPECT_GE(g2["errors"]["timeout"].get<int>(), 2);
  EXPECT_EQ(g2["errors"]["total"], g2["requests"]);
  EXPECT_EQ(g2["errors"]["http"].get<int>(), 0);
  EXPECT_EQ(run["exit_code"].get<int>(), 6);
  EXPECT_FALSE(run["thresholds"][0]["passed"].get<bool>());
  std::ifstream csv(files.path("series.csv"));
  std::string header;
  std::getline(csv, header);
  EXPECT_EQ(header, "time_s,schedule_s,group,running,requests_per_s,errors_per_s,p95_ms");
}

int closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);  // nothing listens there now
  return ntohs(address.sin_port);
}

TEST(HttpRun, RefusedConnectionGivesInitErrorsAndEnds) {
  const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/";
  auto cli = startCli({kData + "/http_run_short.xml", "--speed", "4", "--http", url});
  EXPECT_EQ(cli->wait(30s), 7) << cli->output();
  const std::string out = cli->output();
  EXPECT_THAT(out, HasSubstr("scenario: a vuser could not connect to " + url));
  EXPECT_THAT(out, HasSubstr("init errors: scenario: 2 of 2 vusers could not connect to " + url));
  EXPECT_THAT(out, HasSubstr("qvschedule: no vuser could connect to " + url));
  EXPECT_THAT(out, HasSubstr("ended-init-failed"));
}

// What one writer puts into the FIFO at `path` until it closes it; what came when `timeout` passed.
std::string readFifo(const std::string& path, std::chrono::milliseconds timeout) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // lets the writer's open return
  std::string text;
  const auto deadline = Clock::now() + timeout;
  for (bool closed = fd < 0; !closed && Clock::now() < deadline;) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;  // before a writer comes there is no hang-up either
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    closed = n == 0 || (n < 0 && errno != EAGAIN);
  }
  if (fd >= 0) close(fd);
  return text;
}

// A Ctrl-C after the run, while its results are written (to a FIFO here, which holds the program
// until the test reads it), used to kill the program with the file unwritten. It is caught now:
// the file is written whole and the linger does not begin.
TEST(HttpRun, SignalAfterTheRunLosesNoResultAndEndsTheLinger) {
  TempFiles files;
  const std::string fifo = files.path("results.json");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/";
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // for the check of --out at the start
  auto cli = startCli({kData + "/http_run_short.xml", "--speed", "4", "--http", url, "--out", fifo, "--serve", "0",
                       "--serve-linger", "60"});
  ASSERT_GE(cli->waitFor("live page: ", 30s), 0) << cli->output();
  close(reader);  // the final write now waits for readFifo
  ASSERT_GE(cli->waitFor("qvschedule: no vuser could connect", 30s), 0) << cli->output();
  ASSERT_TRUE(pollUntil([&] { return allThreadsAsleep(cli->pid()); }, 10s));
  kill(cli->pid(), SIGINT);
  pollUntil([&] { return !signalPending(cli->pid(), SIGINT); }, 10s);  // taken, or the program is gone
  const std::string results = readFifo(fifo, 10s);
  EXPECT_EQ(cli->wait(10s), 7) << cli->output();
  EXPECT_EQ(json::parse(results, nullptr, false).value("exit_code", -1), 7) << results;
  EXPECT_THAT(cli->output(), HasSubstr("results written to " + fifo));
  EXPECT_THAT(cli->output(), Not(HasSubstr("serving the final state")));
}

// An HTTPS server on 127.0.0.1 (cpp-httplib's on OpenSSL) with the certificate and key of two PEM
// files: it answers every GET at once and counts requests, the client connections they came over,
// and the TLS handshakes begun (OpenSSL's own counter). mutex_ guards the counts; a leaf lock.
class TlsServer {
 public:
  TlsServer(const std::string& cert, const std::string& key) : server_(cert.c_str(), key.c_str()) {
    if (!server_.is_valid()) throw std::runtime_error("cannot use " + cert + " and " + key);
    server_.set_keep_alive_max_count(1000000);
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_;
      ports_.insert(request.remote_port);
      response.set_content("ok", "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    const auto deadline = Clock::now() + 10s;
    while (!server_.is_running() && Clock::now() < deadline) std::this_thread::yield();
  }
  ~TlsServer() {
    server_.stop();
    thread_.join();
  }
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }
  long handshakes() const { return SSL_CTX_sess_accept(server_.ssl_context()); }
  std::size_t requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::size_t connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.size();
  }

 private:
  httplib::SSLServer server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::size_t requests_ = 0;
  std::set<int> ports_;
};

// A self-signed certificate for 127.0.0.1, and a target that uses it: trusted only when told.
// Each vuser opens one TLS connection when it is initialized and sends all its requests over it.
TEST(HttpRun, SelfSignedTargetIsTrustedOnlyWhenTold) {
  TempFiles files;
  const std::string cert = files.path("cert.pem"), key = files.path("key.pem");
  ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                         "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert +
                         " 2>/dev/null").c_str()),
            0);
  struct Row {
    std::vector<std::string> trust;
    int exit;
    std::vector<std::string> messages;
  };
  for (const Row& row : std::vector<Row>{
           {{}, 7, {"SSL certificate problem", "(trust its certificate with --cacert FILE", "no vuser could connect"}},
           {{"--cacert", cert}, 0, {"; trusting " + cert, "protocols: HTTP/1.1 6"}},
           {{"--insecure"}, 0, {"qvschedule: warning: --insecure: the certificates", "; certificates not verified"}}}) {
    const std::string what = row.trust.empty() ? "untrusted" : row.trust[0];
    TlsServer server(cert, key);
    std::vector<std::string> args{kData + "/http_init_until_complete.xml", "--vusers", "2", "--iterations", "3",
                                  "--http", server.url(), "--out", files.path("run.json")};
    args.insert(args.end(), row.trust.begin(), row.trust.end());
    auto cli = startCli(args);
    ASSERT_EQ(cli->wait(30s), row.exit) << what << '\n' << cli->output();
    for (const std::string& message : row.messages) EXPECT_THAT(cli->output(), HasSubstr(message)) << what;
    // Two connections and handshakes in all: the initializations', reused by the requests.
    EXPECT_EQ(server.handshakes(), 2) << what;
    EXPECT_EQ(server.requests(), row.exit == 0 ? 6u : 0u) << what;
    EXPECT_EQ(server.connections(), row.exit == 0 ? 2u : 0u) << what;
    EXPECT_EQ(readJson(files.path("run.json"))["total"]["init"]["ok"].get<int>(), row.exit == 0 ? 2 : 0) << what;
  }
}

TEST(HttpRun, BadInputIsRefusedBeforeAnythingStarts) {
  TempFiles files;
  const std::string ok = "http://127.0.0.1:9/";
  const std::string groups = kData + "/http_two_groups_short.xml";
  struct Row {
    std::vector<std::string> args;
    const char* message;
  };
  for (const Row& row : std::vector<Row>{
           {{"--http", "http://[::1/"}, "--http \"http://[::1/\": "},
           {{"--http", "ftp://127.0.0.1/"}, "the scheme must be http or https"},
           {{groups, "--http", ok, "--group-http", "g9=" + ok}, "has no group \"g9\""},
           {{groups, "--group-http", "g1=" + ok}, "no URL for g2"},
           {{"--http", ok, "--body-file", files.path("missing")}, "cannot read the file"},
           {{"--http", ok, "--threshold", "p95<<3"}, "--threshold \"p95<<3\": the value must be a number"},
           {{groups, "--http", ok, "--threshold", "g7:p95<1s"}, "has no group \"g7\""},
           {{"--http", ok, "--header", "NoColon"}, "a header is \"Name: value\""},
           {{"--threshold", "p95<1s"}, "need --http or --group-http"},
           {{"--http", ok, "--out", files.path("no/such/dir/run.json")}, "cannot write"},
           {{"--http", ok, "--cacert", "/no/such/ca.pem"}, "--cacert /no/such/ca.pem: cannot read the file"},
           {{"--http", ok, "--cacert", kData + "/http_run_short.xml"}, "no certificate in it (expected PEM"},
           {{"--http", ok, "--iterations", "1e30"}, "--iterations: must be a whole number from 1 to 2,147,483,647"}}) {
    auto cli = startCli(row.args);
    EXPECT_EQ(cli->wait(20s), 2) << row.message;
    const std::string out = cli->output();
    EXPECT_THAT(out, HasSubstr(row.message));
    EXPECT_THAT(out, testing::Not(HasSubstr(" call "))) << row.message;
  }
}

}  // namespace
