// The control API of `qvschedule run --serve`, against the real server of a real run as a
// subprocess (ChildProcess) at --speed 50, through a client on 127.0.0.1. Every wait polls with a
// deadline.
#include "ChildProcess.h"
#include "TargetServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <cmath>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::HasSubstr;
using Clock = std::chrono::steady_clock;

const std::string kCli = QVSCHEDULE_CLI;
constexpr auto kDeadline = 30s;

// "mm:ss.mmm" at the start of a timeline line, in seconds.
double lineSeconds(const std::string& line) {
  return std::stoi(line.substr(0, 2)) * 60 + std::stod(line.substr(3, 6));
}

// One event of a stream: its id (0: none), type and data.
struct SseEvent {
  std::uint64_t id = 0;
  std::string type;
  json data;
};

std::vector<SseEvent> parseEvents(const std::string& text) {
  std::vector<SseEvent> events;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\n\n", start)) != std::string::npos; start = end + 2) {
    SseEvent event;
    std::istringstream lines(text.substr(start, end - start));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("id: ", 0) == 0) event.id = std::stoull(line.substr(4));
      if (line.rfind("event: ", 0) == 0) event.type = line.substr(7);
      if (line.rfind("data: ", 0) == 0) event.data = json::parse(line.substr(6));
    }
    if (!event.type.empty()) events.push_back(std::move(event));
  }
  return events;
}

// An answer of the server: status, headers and body.
struct Answer {
  int status = 0;
  httplib::Headers headers;
  std::string body;
  json document() const { return json::parse(body, nullptr, false); }
};

// `qvschedule run ... --serve ...` and a client of its API.
class ServedRun {
 public:
  explicit ServedRun(std::vector<std::string> args) : child_(withCli(std::move(args))) {
    const long line = child_.waitFor("live page: ", 30s);
    if (line < 0) throw std::runtime_error("no live page in:\n" + child_.output());
    const std::string text = child_.lines()[static_cast<std::size_t>(line)].text;
    const auto port = text.find(':', text.find("://") + 3) + 1;
    port_ = std::stoi(text.substr(port));
    const auto token = text.find("?token=");
    if (token != std::string::npos) token_ = text.substr(token + 7, 32);
  }

  ChildProcess& child() { return child_; }
  const std::string& token() const { return token_; }

  // A request; `stopAfter`: bytes of body after which the reading stops (an event stream).
  Answer request(const std::string& method, const std::string& path, httplib::Headers headers = {},
                 std::size_t stopAfter = 1 << 20) {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    Answer answer;
    const auto onResponse = [&](const httplib::Response& r) {
      answer.status = r.status;
      answer.headers = r.headers;
      return true;
    };
    const auto onBody = [&](const char* data, std::size_t size) {
      answer.body.append(data, size);
      return answer.body.size() < stopAfter;
    };
    if (method == "GET") {
      client.Get(path, headers, onResponse, onBody);
    } else if (const auto r = client.Post(path, headers, "", "text/plain")) {
      onResponse(*r);
      answer.body = r->body;
    }
    return answer;
  }
  json status() { return request("GET", "/api/status", auth()).document(); }
  json post(const std::string& path) { return request("POST", path, auth()).document(); }
  httplib::Headers auth() const {
    return token_.empty() ? httplib::Headers{} : httplib::Headers{{"Authorization", "Bearer " + token_}};
  }

  // Reads the event stream from `lastEventId` on until `enough` says so (or the deadline).
  std::vector<SseEvent> events(const std::function<bool(const std::vector<SseEvent>&)>& enough,
                               std::uint64_t lastEventId = 0) {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(10);
    httplib::Headers headers = auth();
    if (lastEventId) headers.emplace("Last-Event-ID", std::to_string(lastEventId));
    std::string text;
    std::vector<SseEvent> events;
    const auto deadline = Clock::now() + kDeadline;
    client.Get("/api/events", headers, [&](const char* data, std::size_t size) {
      text.append(data, size);
      events = parseEvents(text);
      return !enough(events) && Clock::now() < deadline;
    });
    return events;
  }

 private:
  static std::vector<std::string> withCli(std::vector<std::string> args) {
    args.insert(args.begin(), kCli);
    return args;
  }

  ChildProcess child_;
  int port_ = 0;
  std::string token_;
};

// ---- the status through a whole run, with simulated and with HTTP vusers ----

void expectPlanOfTheTypicalRoad(ServedRun& run) {
  const json plan = run.request("GET", "/api/plan").document();
  ASSERT_TRUE(plan.is_object()) << plan;
  EXPECT_EQ(plan["complete"], true);
  EXPECT_EQ(plan["end_s"], 105.0);
  EXPECT_EQ(plan["groups"], json::array({"scenario"}));
  std::vector<std::pair<double, long>> steps;  // (time, running) where running changes
  for (const json& point : plan["series"]["scenario"]) {
    if (steps.empty() || steps.back().second != point[1].get<long>()) steps.emplace_back(point[0], point[1]);
  }
  // The series holds changes only: at 0 s the state after the first batch.
  const std::vector<std::pair<double, long>> expected = {{0, 3}, {15, 6}, {30, 9}, {45, 10}, {105, 0}};
  EXPECT_EQ(steps, expected);
}

void expectCoherent(const json& status) {
  const json& pool = status["total"]["pool"];
  EXPECT_EQ(pool["total"], 10);
  EXPECT_EQ(pool["idle"].get<long>() + pool["initialized"].get<long>() + pool["running"].get<long>() +
                pool["done"].get<long>(),
            10);
  const json& group = status["groups"][0];
  EXPECT_EQ(group["name"], "scenario");
  EXPECT_EQ(group["pool"], pool);
  EXPECT_EQ(group["run_time_s"], status["run_time_s"]);
  if (status["stage"].is_object() && status["stage"]["has_next"] == true) {
    EXPECT_GE(status["stage"]["seconds_to_next"].get<long>(), 0);
    EXPECT_LE(status["stage"]["seconds_to_next"].get<long>(), 60);
  }
}

TEST(WebApi, StatusFollowsAWholeRun) {
  for (const bool http : {false, true}) {
    SCOPED_TRACE(http ? "HTTP vusers" : "simulated vusers");
    TargetServer server;
    std::vector<std::string> args = {"run", "--speed", "50", "--serve", "127.0.0.1:0", "--serve-linger", "60"};
    if (http) args.insert(args.end(), {"--http", server.url("/ok"), "--think-ms", "5"});
    ServedRun run(args);
    std::vector<json> seen;
    ASSERT_TRUE(pollUntil([&] {
      seen.push_back(run.status());
      return seen.back()["state"] == "finished";
    })) << run.child().output();

    std::set<std::string> states, stages;
    double time = 0;
    long runTime = 0, mostRunning = 0, requests = 0, rps = 0;
    for (const json& status : seen) {
      expectCoherent(status);
      states.insert(status["state"]);
      if (status["stage"].is_object()) stages.insert(status["stage"]["current"]);
      EXPECT_GE(status["time_s"].get<double>(), time);
      time = status["time_s"];
      EXPECT_GE(status["run_time_s"].get<long>(), runTime);
      runTime = status["run_time_s"];
      mostRunning = std::max(mostRunning, status["total"]["pool"]["running"].get<long>());
      EXPECT_EQ(status["total"]["http"].is_null(), !http);
      if (!http) continue;
      requests = std::max(requests, status["groups"][0]["http"]["total"]["requests"].get<long>());
      rps = std::max(rps, status["total"]["http"]["last_second"]["rps"].get<long>());
    }
    EXPECT_THAT(states, testing::IsSubsetOf({"loaded", "running", "finished"}));
    EXPECT_THAT(stages, testing::IsSupersetOf({"RampUp", "Duration"}));
    EXPECT_EQ(mostRunning, 10);
    EXPECT_EQ(requests > 0 && rps > 0, http) << requests << " requests, at most " << rps << " a second";
    const json& last = seen.back();
    EXPECT_NEAR(last["time_s"].get<double>(), 105, 2);
    EXPECT_NEAR(last["run_time_s"].get<long>(), 105, 2);
    EXPECT_EQ(last["groups"][0]["state"], "finished");
    EXPECT_EQ(last["total"]["pool"]["done"], 10);
    expectPlanOfTheTypicalRoad(run);
    run.child().send("s\n");  // ends the linger
    EXPECT_EQ(run.child().wait(30s), 0) << run.child().output();
  }
}

// ---- control calls ----

TEST(WebApi, PauseThenResumeMovesLaterCallsByThePausedSpan) {
  ServedRun run({"run", "--speed", "50", "--serve", "127.0.0.1:0"});  // batches at 0, 15, 30 and 45 s
  ASSERT_TRUE(pollUntil([&] { return run.status()["total"]["pool"]["running"].get<long>() >= 3; }));
  const json paused = run.post("/api/pause");
  ASSERT_EQ(paused["state"], "paused") << paused;
  const long running = paused["total"]["pool"]["running"];
  const double pausedAt = paused["time_s"];
  ASSERT_TRUE(pollUntil([&] { return run.status()["time_s"].get<double>() >= pausedAt + 20; }));
  EXPECT_EQ(run.status()["total"]["pool"]["running"], running);  // nothing happened while paused
  EXPECT_EQ(run.post("/api/resume")["state"], "running");
  ASSERT_TRUE(pollUntil([&] { return run.status()["total"]["pool"]["running"].get<long>() > running; }));
  EXPECT_EQ(run.post("/api/stop")["state"], "stopped");
  ASSERT_EQ(run.child().wait(30s), 3) << run.child().output();

  // The batch due after the pause came the paused span later.
  double pause = -1, resume = -1, batch = -1;
  for (const ChildProcess::Line& line : run.child().lines()) {
    if (line.text.find("pausing (api)") != std::string::npos) pause = lineSeconds(line.text);
    if (line.text.find("resuming (api)") != std::string::npos) resume = lineSeconds(line.text);
    if (resume >= 0 && batch < 0 && line.text.find("runVusers") != std::string::npos) batch = lineSeconds(line.text);
  }
  ASSERT_GE(pause, 0);
  ASSERT_LT(pause, 40) << "paused after the last batch was due";
  ASSERT_GE(resume - pause, 20);
  const double due = (std::floor(pause / 15) + 1) * 15;
  // Without the shift it would be 20 s or more off; 2.5 s leaves room for a late timer at 50x.
  EXPECT_NEAR(batch, due + (resume - pause), 2.5) << run.child().output();
}

TEST(WebApi, CallsNeedTheTokenOffLoopbackAndAnswer409WhenTheyDoNotApply) {
  ServedRun run({"run", "--speed", "5", "--serve", "0.0.0.0:0", "--serve-linger", "60"});
  ASSERT_THAT(run.token(), testing::MatchesRegex("[0-9a-f]{32}")) << run.child().output();
  ASSERT_TRUE(pollUntil([&] { return run.status()["state"] == "running"; }));  // the server comes up first
  const std::string bearer = "Bearer " + run.token();
  struct Row {
    const char* method;
    std::string path;
    httplib::Headers headers;
    int status;
    const char* says;
  };
  const std::vector<Row> rows = {
      {"GET", "/api/status", {}, 401, "needs its token"},
      {"GET", "/api/status", {{"Authorization", "Bearer 0123"}}, 401, "needs its token"},
      {"GET", "/api/status", {{"Authorization", bearer}}, 200, "\"state\":\"running\""},
      {"GET", "/api/plan?token=" + run.token(), {}, 401, "needs its token"},  // a query token: the stream only
      {"GET", "/api/events", {}, 401, "needs its token"},
      {"GET", "/api/events?token=" + run.token(), {}, 200, "retry: "},
      {"POST", "/api/resume", {{"Authorization", bearer}}, 409, "not paused"},
      {"POST", "/api/pause", {}, 401, "needs its token"},
      {"POST", "/api/pause", {{"Authorization", bearer}}, 200, "\"state\":\"paused\""},
      {"POST", "/api/pause", {{"Authorization", bearer}}, 409, "already paused"},
      {"POST", "/api/stop", {{"Authorization", bearer}, {"Origin", "http://elsewhere.example"}}, 403, "own page"},
      {"GET", "/api/stop", {{"Authorization", bearer}}, 405, "use POST"},
      {"GET", "/", {}, 200, "<script src=\"app.js\">"},
      {"POST", "/api/stop", {{"Authorization", bearer}}, 200, "\"state\":\"stopped\""},
      {"POST", "/api/stop", {{"Authorization", bearer}}, 409, "the run is over"},
      {"GET", "/api/status", {{"Authorization", bearer}}, 200, "\"state\":\"stopped\""},
  };
  for (const Row& row : rows) {
    const bool stream = row.path.rfind("/api/events", 0) == 0;
    const Answer answer = run.request(row.method, row.path, row.headers, stream ? 16 : 1 << 20);
    EXPECT_EQ(answer.status, row.status) << row.method << ' ' << row.path << ": " << answer.body;
    EXPECT_THAT(answer.body, HasSubstr(row.says)) << row.method << ' ' << row.path;
    for (const auto& header : answer.headers) EXPECT_THAT(header.first, testing::Not(HasSubstr("Access-Control")));
  }
  run.child().send("s\n");
  EXPECT_EQ(run.child().wait(30s), 3) << run.child().output();
}

// A stop typed twice: the first stops the run; the second, left over, ends the program instead of
// being dropped, which kept the page up for the whole linger. So does a stop that comes as the run
// ends, between its loop and the linger.
TEST(WebApi, AStopLeftOverFromTheRunEndsTheLinger) {
  ServedRun run({"run", "--speed", "5", "--serve", "127.0.0.1:0", "--serve-linger", "60"});
  ASSERT_GE(run.child().waitFor("runVusers", 30s), 0) << run.child().output();
  run.child().send("s\ns\n");
  EXPECT_EQ(run.child().wait(10s), 3) << run.child().output();
  EXPECT_THAT(run.child().output(), testing::Not(HasSubstr("serving the final state")));
}

// ---- the event stream ----

bool hasBatchOf(const std::vector<SseEvent>& events, long running) {
  return std::any_of(events.begin(), events.end(), [&](const SseEvent& e) {
    return e.type == "entry" && e.data.value("call", "") == "runVusers" && e.data["pool"]["running"] == running;
  });
}

TEST(WebApi, EventStreamGivesALateReaderWhatHappenedSoFar) {
  ServedRun run({"run", "--speed", "50", "--serve", "127.0.0.1:0", "--serve-linger", "60"});
  ASSERT_TRUE(pollUntil([&] { return run.status()["total"]["pool"]["running"].get<long>() >= 6; }));
  const std::vector<SseEvent> events = run.events([](const std::vector<SseEvent>& got) {
    return hasBatchOf(got, 10) &&
           std::any_of(got.begin(), got.end(), [](const SseEvent& e) { return e.type == "status"; });
  });
  std::vector<const SseEvent*> batches;
  std::uint64_t nextId = 1;
  for (const SseEvent& e : events) {
    if (e.id) {
      EXPECT_EQ(e.id, nextId++) << e.type << ' ' << e.data;  // every event since the start, in order
    }
    if (e.type == "entry" && e.data.value("call", "") == "runVusers") batches.push_back(&e);
    if (e.type == "sample") {
      EXPECT_TRUE(e.data["groups"].contains("scenario")) << e.data;
    }
  }
  ASSERT_GE(batches.size(), 4u);
  EXPECT_NEAR(batches[0]->data["time"].get<double>(), 0, 1);
  EXPECT_NEAR(batches[1]->data["time"].get<double>(), 15, 2.5);
  EXPECT_EQ(batches[1]->data["pool"]["running"], 6);
  EXPECT_EQ(batches[3]->data["pool"]["running"], 10);

  // Connected again after the second batch, the stream goes on from the event after it.
  const std::vector<SseEvent> again =
      run.events([](const std::vector<SseEvent>& got) { return got.size() >= 2; }, batches[1]->id);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front().id, batches[1]->id + 1);

  // Bound to loopback, a request naming another host is refused (DNS rebinding).
  EXPECT_EQ(run.request("GET", "/api/status", {{"Host", "attacker.example"}}).status, 403);
  ASSERT_TRUE(pollUntil([&] { return run.status()["state"] == "finished"; }));
  run.child().send("s\n");
  EXPECT_EQ(run.child().wait(30s), 0) << run.child().output();
}

// ---- ports ----

// Listening TCP sockets of process `pid` (its socket descriptors found listening in its network
// namespace's tables).
int listeningSockets(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::set<std::string> inodes;
  if (DIR* dir = opendir((proc + "/fd").c_str())) {
    while (const dirent* entry = readdir(dir)) {
      char target[256] = {};
      const std::string path = proc + "/fd/" + entry->d_name;
      const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
      const std::string link(target, n > 0 ? static_cast<std::size_t>(n) : 0);
      if (link.rfind("socket:[", 0) == 0) inodes.insert(link.substr(8, link.size() - 9));
    }
    closedir(dir);
  }
  int listening = 0;
  for (const char* table : {"/net/tcp", "/net/tcp6"}) {
    std::ifstream in(proc + table);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state == "0A" && inodes.count(inode)) ++listening;  // 0A: LISTEN
    }
  }
  return listening;
}

// A port on 127.0.0.1 that a socket of the test listens on.
struct BusyPort {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port = 0;
  BusyPort() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 1) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
  }
  ~BusyPort() { close(fd); }
};

TEST(WebApi, ARunOpensAPortOnlyWithServe) {
  BusyPort busy;
  struct Row {
    std::vector<std::string> serve;
    int listening;
    int exitCode;
    const char* says;
  };
  const std::vector<Row> rows = {
      {{}, 0, 3, "stopped cleanly"},
      {{"--serve", "127.0.0.1:0"}, 1, 3, "stopped cleanly"},
      {{"--serve", "127.0.0.1:" + std::to_string(busy.port)}, 0, 8, "Address already in use"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {kCli, "run"};
    args.insert(args.end(), row.serve.begin(), row.serve.end());
    ChildProcess child(args);
    if (row.exitCode == 3) {
      ASSERT_GE(child.waitFor("keys: ", 30s), 0) << child.output();
      EXPECT_EQ(listeningSockets(child.pid()), row.listening) << testing::PrintToString(row.serve);
      child.send("s\n");
    }
    EXPECT_EQ(child.wait(30s), row.exitCode) << child.output();
    EXPECT_THAT(child.output(), HasSubstr(row.says));
  }
}

}  // namespace
