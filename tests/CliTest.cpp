// The qvschedule program, run as a subprocess: check, preview (timeline, SVG, CSV) and run at a
// high speed, with pause, resume and stop driven through standard input.
#include "ChildProcess.h"
#include "ScheduleTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kCli = QVSCHEDULE_CLI;
const std::string kExamples = QVSCHEDULE_EXAMPLES_DIR;

// How a qvschedule subprocess is started.
struct Launch {
  bool closeInput = false;       // started with no standard input at all
  bool separateErrors = false;   // standard error to a pipe of its own (errors())
  std::string outputFile;        // standard output to this file instead of the pipe
  bool ignoreSigpipe = false;    // started with SIGPIPE ignored
  bool keepOutputWriter = false;  // keep the output pipe's write end, for fillOutputPipe()
};

// A running qvschedule with a pipe on its standard input and one on its standard output and
// error (merged unless separated). Killed if still running when destroyed.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& args, const Launch& launch = {}) {
    std::signal(SIGPIPE, SIG_IGN);  // a write to a child that has gone must not end the tests
    int in[2], out[2], err[2] = {-1, -1};
    if (pipe(in) != 0 || pipe(out) != 0 || (launch.separateErrors && pipe(err) != 0)) {
      throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (launch.closeInput) {
      posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
    } else {
      posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    }
    if (launch.outputFile.empty()) {
      posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, launch.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
    posix_spawn_file_actions_adddup2(&actions, launch.separateErrors ? err[1] : out[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      if (fd > STDERR_FILENO) posix_spawn_file_actions_addclose(&actions, fd);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!launch.ignoreSigpipe) sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> all{kCli};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, kCli.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(in[0]);
    if (launch.keepOutputWriter) {
      outputWriter_ = out[1];
    } else {
      close(out[1]);
    }
    if (err[1] >= 0) close(err[1]);
    input_ = in[1];
    output_ = out[0];
    errors_ = err[0];
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + kCli);
    }
  }

  ~CliProcess() {
    closeInput();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {output_, errors_, outputWriter_}) {
      if (fd >= 0) close(fd);
    }
  }

  pid_t pid() const { return pid_; }

  void write(const std::string& text) {
    ASSERT_EQ(::write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  void closeInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }

  // Closes our end of the output pipe: the program's next write finds no reader.
  void closeOutput() {
    if (output_ >= 0) close(output_);
    output_ = -1;
    eof_ = true;
  }

  // Fills the output pipe (with launch.keepOutputWriter) so that the program's next write blocks.
  // The program shares the pipe's flags: it must not write while they are non-blocking here.
  void fillOutputPipe() {
    ASSERT_GE(outputWriter_, 0);
    const int flags = fcntl(outputWriter_, F_GETFL);
    fcntl(outputWriter_, F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, 'x');
    while (::write(outputWriter_, block.data(), block.size()) > 0) {
    }
    while (::write(outputWriter_, "x", 1) > 0) {
    }
    fcntl(outputWriter_, F_SETFL, flags);
  }

  // Reads lines until one contains `needle` (copied to `matched`); false at the end of the output
  // or after `timeout`. Each line is looked at once over all calls.
  bool waitForLine(const std::string& needle, std::string* matched = nullptr, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      while (scanned_ < lines_.size()) {
        const std::string& line = lines_[scanned_++];
        if (line.find(needle) != std::string::npos) {
          if (matched) *matched = line;
          return true;
        }
      }
      if (!readSome(deadline)) return false;
    }
  }

  // Reads everything until the program exits; returns its exit status, 128 + the signal that
  // ended it, or -1 on timeout.
  int finish(std::chrono::milliseconds timeout = 20s) {
    closeInput();
    if (outputWriter_ >= 0) close(outputWriter_);  // or the output never ends
    outputWriter_ = -1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (readSome(deadline)) {
    }
    for (;;) {  // the output may have been closed by us: wait for the exit itself
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (done < 0 || std::chrono::steady_clock::now() > deadline) return -1;  // the destructor kills it
      std::this_thread::sleep_for(5ms);
    }
  }

  const std::vector<std::string>& lines() const { return lines_; }
  std::string output() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all + partial_;
  }
  // Standard error, when separated.
  const std::string& errors() const { return errorText_; }

 private:
  bool readSome(std::chrono::steady_clock::time_point deadline) {
    if (eof_) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) return true;
    if (ready <= 0) return false;
    char buffer[4096];
    if (fds[1].revents != 0) {
      const ssize_t n = read(errors_, buffer, sizeof buffer);
      if (n > 0) errorText_.append(buffer, static_cast<std::size_t>(n));
      if (n <= 0) {
        close(errors_);
        errors_ = -1;
      }
      if (fds[0].revents == 0) return true;
    }
    const ssize_t n = read(output_, buffer, sizeof buffer);
    if (n <= 0) {
      eof_ = true;
      if (!partial_.empty()) lines_.push_back(partial_);
      partial_.clear();
      return false;
    }
    partial_.append(buffer, static_cast<std::size_t>(n));
    std::size_t newline;
    while ((newline = partial_.find('\n')) != std::string::npos) {
      lines_.push_back(partial_.substr(0, newline));
      partial_.erase(0, newline + 1);
    }
    return true;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  int outputWriter_ = -1;
  bool eof_ = false;
  std::vector<std::string> lines_;
  std::size_t scanned_ = 0;
  std::string partial_;
  std::string errorText_;
};

struct Result {
  int exitCode;
  std::string output;
  std::vector<std::string> lines;
  double realSeconds;
  std::string errors;  // standard error, when separated
};

Result runCli(const std::vector<std::string>& args, const std::string& input = "", const Launch& launch = {}) {
  const auto start = std::chrono::steady_clock::now();
  CliProcess process(args, launch);
  if (!input.empty()) process.write(input);
  const int code = process.finish();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {code, process.output(), process.lines(), seconds, process.errors()};
}

// "mm:ss.mmm" or "h:mm:ss.mmm" in seconds; -1 when the text is not such a time.
double parseTime(const std::string& text) {
  int hours = 0, minutes = 0, seconds = 0, millis = 0;
  char a = 0, b = 0, c = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c%d%c%d", &hours, &a, &minutes, &b, &seconds, &c, &millis) == 7 && a == ':' &&
      b == ':' && c == '.') {
    return hours * 3600.0 + minutes * 60.0 + seconds + millis / 1000.0;
  }
  if (std::sscanf(text.c_str(), "%d%c%d%c%d", &minutes, &a, &seconds, &b, &millis) == 5 && a == ':' && b == '.') {
    return minutes * 60.0 + seconds + millis / 1000.0;
  }
  return -1;
}

// One timeline line: TIME KIND GROUP WHAT COUNT STATUS ...
struct Line {
  double time;
  std::string kind, group, what, count, status;
};

std::vector<Line> timeline(const std::vector<std::string>& lines, const std::string& kind = "") {
  std::vector<Line> result;
  for (const std::string& text : lines) {
    std::istringstream in(text);
    std::string time;
    Line line;
    if (!(in >> time >> line.kind)) continue;
    line.time = parseTime(time);
    if (line.time < 0) continue;
    if (line.kind != "call" && line.kind != "event" && line.kind != "vusers") continue;
    in >> line.group >> line.what >> line.count >> line.status;
    if (kind.empty() || line.kind == kind) result.push_back(line);
  }
  return result;
}

// The host calls of the vusers operations (no notifications).
std::vector<Line> vusersCalls(const std::vector<std::string>& lines) {
  std::vector<Line> calls;
  for (const Line& line : timeline(lines, "call")) {
    if (line.what.rfind("on", 0) != 0) calls.push_back(line);
  }
  return calls;
}

const Line* find(const std::vector<Line>& lines, const std::string& what, const std::string& group = "") {
  for (const Line& line : lines) {
    if (line.what == what && (group.empty() || line.group == group)) return &line;
  }
  return nullptr;
}

// The typical road's host calls: what, count, seconds after the start.
struct Expected {
  std::string what, count;
  double time;
};
const std::vector<Expected> kTypicalRoad = {
    {"runVusers", "3", 0},   {"runVusers", "3", 15}, {"runVusers", "3", 30},       {"runVusers", "1", 45},
    {"canStartDuration", "-", 45}, {"stopAllVusers", "all", 105},
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "qvschedule-cli-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name, const std::string& text = "") const {
    const fs::path p = path_ / name;
    if (!text.empty()) std::ofstream(p) << text;
    return p.string();
  }

 private:
  fs::path path_;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A definition for the whole scenario around the given DynamicScheduling children.
std::string globalDefinition(const std::string& actions) {
  return "<?xml version=\"1.0\"?><LoadTest><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers>"
         "<Scheduler ID=\"1\"><Manual><SchedulerType>Global</SchedulerType><Global><Scheduling><DynamicScheduling>" +
         actions + "</DynamicScheduling></Scheduling></Global></Manual></Scheduler></LoadTest>";
}

// ---------------------------------------------------------------------------------------------

TEST(CliCheckTest, BuiltinExampleIsValidWithSummary) {
  const Result r = runCli({"check"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_THAT(r.output, testing::StartsWith("valid: built-in example (typical road)"));
  EXPECT_THAT(r.output, testing::HasSubstr("type:            Global"));
  EXPECT_THAT(r.output, testing::HasSubstr("1. RampUp       total 10 vusers, 3 every 15 s"));
  EXPECT_THAT(r.output, testing::HasSubstr("2. Duration     keep for 60 s"));
  EXPECT_THAT(r.output, testing::HasSubstr("3. StopAll"));
  EXPECT_THAT(r.output, testing::HasSubstr("run mode:       indefinitely"));
}

TEST(CliCheckTest, EveryExampleFileIsValid) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kExamples)) {
    if (entry.path().extension() == ".xml") names.push_back(entry.path().filename().string());
  }
  ASSERT_GE(names.size(), 6u);
  for (const std::string& name : names) {
    const std::string path = kExamples + "/" + name;
    const Result r = runCli({"check", path});
    EXPECT_EQ(r.exitCode, 0) << name << "\n" << r.output;
    EXPECT_THAT(r.output, testing::StartsWith("valid: " + path)) << name;
  }
}

TEST(CliCheckTest, GroupsSummaryShowsStartModesAndRunModes) {
  const Result r = runCli({"check", kExamples + "/groups.xml"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_THAT(r.output, testing::HasSubstr("Groups (one schedule per vuser group, 2 groups)"));
  EXPECT_THAT(r.output, testing::HasSubstr("group g1\n    start:          at scenario begin"));
  EXPECT_THAT(r.output, testing::HasSubstr("initialization: RampInitAll 5 every 10 s"));
  EXPECT_THAT(r.output, testing::HasSubstr("1. RampUpAll    all vusers, 2 every 15 s"));
  EXPECT_THAT(r.output, testing::HasSubstr("group g2\n    start:          after group g1 finished running"));
  EXPECT_THAT(r.output, testing::HasSubstr("run mode:       until complete"));
}

// ---------------------------------------------------------------------------------------------

TEST(CliPreviewTest, TypicalRoadTimelineInVirtualTime) {
  const Result r = runCli({"preview"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_LT(r.realSeconds, 5.0) << "a preview runs in virtual time";
  const std::vector<Line> calls = vusersCalls(r.lines);
  ASSERT_EQ(calls.size(), kTypicalRoad.size()) << r.output;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].what, kTypicalRoad[i].what) << i;
    EXPECT_EQ(calls[i].count, kTypicalRoad[i].count) << i;
    EXPECT_DOUBLE_EQ(calls[i].time, kTypicalRoad[i].time) << i;
    EXPECT_EQ(calls[i].group, "scenario") << i;
    EXPECT_EQ(calls[i].status, "succeeded") << i;
  }
  const std::vector<Line> all = timeline(r.lines, "call");
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().what, "onSchedulerFinished");
  EXPECT_DOUBLE_EQ(all.back().time, 105.0);
  EXPECT_THAT(r.output, testing::HasSubstr("scheduler finished after 01:45.000"));
}

TEST(CliPreviewTest, PoolAnswersNoMoreVusersWhenExhausted) {
  // 7 vusers for a ramp of 10: the third batch gets 1 of 3 (status 2), the fourth none.
  const Result r = runCli({"preview", "--vusers", "7"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<Line> calls = vusersCalls(r.lines);
  ASSERT_GE(calls.size(), 4u) << r.output;
  EXPECT_EQ(calls[0].status, "succeeded");
  EXPECT_EQ(calls[1].status, "succeeded");
  EXPECT_EQ(calls[2].status, "no-more-vusers");
  EXPECT_EQ(calls[3].status, "no-more-vusers");
  EXPECT_THAT(r.output, testing::HasSubstr("[idle 0, init 0, run 7, done 0]"));
}

TEST(CliPreviewTest, GroupsFollowInitializationAndFinishedEvents) {
  const Result r = runCli({"preview", kExamples + "/groups.xml", "--init-seconds", "12"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<Line> lines = timeline(r.lines);
  std::vector<Line> inits;
  for (const Line& line : lines) {
    if (line.what == "initGroupVusers") inits.push_back(line);
  }
  ASSERT_EQ(inits.size(), 3u) << r.output;
  EXPECT_DOUBLE_EQ(inits[0].time, 0);
  EXPECT_DOUBLE_EQ(inits[1].time, 10);
  EXPECT_DOUBLE_EQ(inits[2].time, 20);
  EXPECT_EQ(inits[2].status, "no-more-vusers");

  // All initialized 12 s after the last initialization call; the ramp up starts then.
  const Line* initialized = find(lines, "groupAllVusersInit", "g1");
  ASSERT_NE(initialized, nullptr) << r.output;
  EXPECT_DOUBLE_EQ(initialized->time, 32);
  const Line* firstRun = find(lines, "runGroupVusers", "g1");
  ASSERT_NE(firstRun, nullptr);
  EXPECT_DOUBLE_EQ(firstRun->time, 32);

  // g2 starts when g1 has finished running: right after g1's stop of all its vusers.
  const Line* stopAll = find(lines, "stopAllGroupVusers", "g1");
  const Line* finished = find(lines, "groupFinishedRunning", "g1");
  const Line* g2Run = find(lines, "runAllGroupVusers", "g2");
  ASSERT_TRUE(stopAll && finished && g2Run) << r.output;
  EXPECT_DOUBLE_EQ(finished->time, stopAll->time);
  EXPECT_DOUBLE_EQ(g2Run->time, stopAll->time);
  EXPECT_LT(stopAll - &lines[0], g2Run - &lines[0]);
  EXPECT_EQ(find(lines, "runAllGroupVusers", "g1"), nullptr);
  EXPECT_NE(find(lines, "onSchedulerFinished"), nullptr);
}

TEST(CliPreviewTest, RunUntilCompleteGroupFinishesWhenItsVusersComplete) {
  const Result r = runCli({"preview", kExamples + "/run-until-complete.xml", "--complete-seconds", "20"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<Line> lines = timeline(r.lines);
  double lastStart = -1, lastCompletion = -1;
  for (const Line& line : lines) {
    if (line.what == "runGroupVusers" && line.group == "warmup") lastStart = line.time;
    if (line.kind == "vusers" && line.what == "completed" && line.group == "warmup") lastCompletion = line.time;
  }
  ASSERT_GE(lastStart, 0) << r.output;
  EXPECT_DOUBLE_EQ(lastCompletion, lastStart + 20);
  const Line* finished = find(lines, "groupFinishedRunning", "warmup");
  const Line* mainRun = find(lines, "runAllGroupVusers", "main");
  ASSERT_TRUE(finished && mainRun) << r.output;
  EXPECT_DOUBLE_EQ(finished->time, lastCompletion);
  EXPECT_DOUBLE_EQ(mainRun->time, lastCompletion);
}

TEST(CliPreviewTest, InitAllBeforeStartWaitsForTheWholeScenario) {
  const Result r = runCli({"preview", kExamples + "/init-all-before-start.xml"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<Line> lines = timeline(r.lines);
  const Line* scenarioInit = find(lines, "scenarioAllVusersInit");
  ASSERT_NE(scenarioInit, nullptr) << r.output;
  // Every group initializes at the start; nobody runs before the scenario-wide event.
  for (const std::string group : {"browsers", "buyers", "admins"}) {
    bool initializedAtStart = false;
    for (const Line& line : lines) {
      if (line.group == group && line.what.rfind("init", 0) == 0 && line.time == 0) initializedAtStart = true;
      if (line.group == group && line.what.rfind("run", 0) == 0) {
        EXPECT_GE(line.time, scenarioInit->time) << group;
      }
    }
    EXPECT_TRUE(initializedAtStart) << group;
  }
  // buyers: its own 10 s wait after its initialization (which ends with the scenario-wide event
  // here), then its 60 s start delay counted from the scenario-wide event on.
  const Line* buyersRun = find(lines, "runAllGroupVusers", "buyers");
  ASSERT_NE(buyersRun, nullptr);
  EXPECT_DOUBLE_EQ(buyersRun->time, scenarioInit->time + 10 + 60);
}

TEST(CliPreviewTest, RefusedDefinitionExitsNonZero) {
  TempDir dir;
  const Result r = runCli({"preview", dir.file("bad.xml", globalDefinition("<Duration/>"))});
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_THAT(r.output, testing::HasSubstr("Failed to create duration action runner - missing \"RunFor\" node."));
  EXPECT_TRUE(vusersCalls(r.lines).empty());
}

// The series of a chart by group: polyline points per class.
std::map<std::string, std::map<std::string, std::vector<std::pair<double, double>>>> chartSeries(
    const pugi::xml_document& svg) {
  std::map<std::string, std::map<std::string, std::vector<std::pair<double, double>>>> series;
  for (const pugi::xpath_node& g : svg.select_nodes("//*[local-name()='g'][@class='series']")) {
    const std::string group = g.node().attribute("data-group").value();
    series[group];
    for (const pugi::xml_node& polyline : g.node().children("polyline")) {
      std::istringstream in(polyline.attribute("points").value());
      double x, y;
      char comma;
      while (in >> x >> comma >> y) series[group][polyline.attribute("class").value()].push_back({x, y});
    }
  }
  return series;
}

TEST(CliPreviewTest, SvgIsWellFormedWithOneSeriesPerGroup) {
  TempDir dir;
  const std::string svgPath = dir.file("groups.svg");
  const Result r = runCli({"preview", kExamples + "/groups.xml", "--svg", svgPath});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  pugi::xml_document svg;
  const pugi::xml_parse_result parsed = svg.load_file(svgPath.c_str());
  ASSERT_TRUE(parsed) << parsed.description();
  ASSERT_STREQ(svg.document_element().name(), "svg");
  EXPECT_STREQ(svg.document_element().attribute("xmlns").value(), "http://www.w3.org/2000/svg");

  const auto series = chartSeries(svg);
  ASSERT_EQ(series.size(), 2u);
  for (const std::string group : {"g1", "g2"}) {
    ASSERT_TRUE(series.count(group)) << group;
    EXPECT_GE(series.at(group).at("running").size(), 2u) << group;
    EXPECT_GE(series.at(group).at("initialized").size(), 2u) << group;
  }
  // g1 goes up and comes down again; g2 only rises at the end.
  auto heights = [](const std::vector<std::pair<double, double>>& points) {
    std::set<double> ys;
    for (const auto& p : points) ys.insert(p.second);
    return ys.size();
  };
  EXPECT_GT(heights(series.at("g1").at("running")), 3u);
  EXPECT_EQ(heights(series.at("g2").at("running")), 2u);

  // Axes, their labels and a legend naming every group.
  EXPECT_TRUE(svg.select_node("//*[@class='x-axis']"));
  EXPECT_TRUE(svg.select_node("//*[@class='y-axis']"));
  EXPECT_TRUE(svg.select_node("//*[@class='x-label']"));
  EXPECT_TRUE(svg.select_node("//*[@class='y-label']"));
  std::set<std::string> legend;
  for (const pugi::xpath_node& text : svg.select_nodes("//*[@class='legend']/*[local-name()='text']")) {
    legend.insert(text.node().text().get());
  }
  EXPECT_THAT(legend, testing::IsSupersetOf({"g1", "g2", "running", "initialized"}));
}

TEST(CliPreviewTest, CsvHoldsTheSameSeries) {
  TempDir dir;
  const std::string csvPath = dir.file("road.csv");
  const std::string svgPath = dir.file("road.svg");
  const Result r = runCli({"preview", "--csv", csvPath, "--svg", svgPath});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::istringstream csv(readFile(csvPath));
  std::string header;
  std::getline(csv, header);
  EXPECT_EQ(header, "time_s,group,running,initialized");
  // One row per change, none repeated: running 3, 6, 9, 10 at 0, 15, 30, 45, then 0 at 105.
  std::vector<std::pair<double, long>> running;
  std::string row;
  while (std::getline(csv, row)) {
    double time;
    char group[64];
    long run, init;
    ASSERT_EQ(std::sscanf(row.c_str(), "%lf,%63[^,],%ld,%ld", &time, group, &run, &init), 4) << row;
    EXPECT_EQ(std::string(group), "scenario");
    EXPECT_EQ(init, 0) << row;
    running.push_back({time, run});
  }
  const std::vector<std::pair<double, long>> expected = {{0, 3}, {15, 3 + 3}, {30, 9}, {45, 10}, {105, 0}};
  EXPECT_EQ(running, expected);

  pugi::xml_document svg;
  ASSERT_TRUE(svg.load_file(svgPath.c_str()));
  const auto series = chartSeries(svg);
  ASSERT_EQ(series.size(), 1u);
  EXPECT_TRUE(series.count("scenario"));
}

TEST(CliPreviewTest, SummaryOfTheLoadPoolWarningsAndJson) {
  TempDir dir;
  Launch separate;
  separate.separateErrors = true;
  // The typical road asks for 10 vusers: a pool of 7 gets a warning at the RampUp, --strict refuses.
  const std::string jsonPath = dir.file("road.json");
  const Result r = runCli({"preview", "--vusers", "7", "--json", jsonPath}, "", separate);
  ASSERT_EQ(r.exitCode, 0) << r.output << r.errors;
  EXPECT_THAT(r.errors, testing::StartsWith("built-in example (typical road):12:13: warning: the scenario asks for 10 "
                                            "vusers, more than the 7 of its pool (--vusers)"));
  EXPECT_THAT(r.output, testing::HasSubstr("load: 01:45.000; peak 7 vusers running at 00:30.000\n"
                                           "  group            peak running   asks for     pool\n"
                                           "  scenario                    7         10        7  more than its pool\n"));
  const nlohmann::json preview = nlohmann::json::parse(readFile(jsonPath));
  EXPECT_EQ(preview["end"], "finished");
  EXPECT_EQ(preview["summary"]["duration_s"], 105.0);
  EXPECT_EQ(preview["summary"]["peak_running"], 7);
  EXPECT_EQ(preview["summary"]["groups"][0],
            nlohmann::json::parse(R"({"name":"scenario","peak_running":7,"asks_for":10,"pool":7})"));
  std::vector<std::pair<double, long>> series;
  for (const nlohmann::json& row : preview["series"]) series.push_back({row["time_s"], row["running"]});
  EXPECT_EQ(series, (std::vector<std::pair<double, long>>{{0, 3}, {15, 6}, {30, 7}, {105, 0}}));
  std::vector<std::string> calls;
  for (const nlohmann::json& line : preview["timeline"]) {
    if (line["kind"] == "call") calls.push_back(line["call"]);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"runVusers", "runVusers", "runVusers", "runVusers", "canStartDuration",
                                             "stopAllVusers", "onSchedulerFinished"}));
  EXPECT_EQ(preview["timeline"].back()["text"], "scheduler finished after 01:45.000; vusers: scenario: 0 running, "
                                                "0 initialized, 7 done of 7");

  const Result strict = runCli({"preview", "--vusers", "7", "--strict"}, "", separate);
  EXPECT_EQ(strict.exitCode, 1);
  EXPECT_THAT(strict.errors, testing::HasSubstr("error: the scenario asks for 10 vusers"));
  EXPECT_THAT(strict.errors, testing::HasSubstr("[--strict]"));
  EXPECT_TRUE(timeline(strict.lines).empty()) << strict.output;

  // Vusers running until complete go on after the scheduler's finish: g2's 4 run from 06:40 to
  // 07:10, no drop to 0 at the finish.
  const Result groups = runCli({"preview", kExamples + "/groups.xml", "--group-vusers", "g2=4", "--json", jsonPath});
  ASSERT_EQ(groups.exitCode, 0) << groups.output;
  const nlohmann::json untilComplete = nlohmann::json::parse(readFile(jsonPath));
  EXPECT_EQ(untilComplete["summary"]["scheduler_finished_s"], 400.0);
  EXPECT_EQ(untilComplete["summary"]["duration_s"], 430.0);
  std::vector<std::pair<double, long>> g2;
  for (const nlohmann::json& row : untilComplete["series"]) {
    if (row["group"] == "g2") g2.push_back({row["time_s"], row["running"]});
  }
  EXPECT_EQ(g2, (std::vector<std::pair<double, long>>{{0, 0}, {400, 4}, {430, 0}}));
  EXPECT_THAT(groups.output, testing::HasSubstr("completed after 07:10.000"));
}

// ---------------------------------------------------------------------------------------------

// Checks a timeline of real-clock calls against the typical road: the same calls in the same
// order, and every gap, rounded to the second, at least the scheduled one (a timer never fires
// early). A gap can only grow by the threads' wake-up latency, which at 1000 times real time
// turns a busy machine's few milliseconds into seconds of schedule time; `slack` bounds that.
// The exact times are checked on the manual clock by the preview tests.
void expectTypicalRoadGaps(const std::vector<Line>& calls, double slack, const std::string& output) {
  ASSERT_EQ(calls.size(), kTypicalRoad.size()) << output;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].what, kTypicalRoad[i].what) << i;
    EXPECT_EQ(calls[i].count, kTypicalRoad[i].count) << i;
    if (i == 0) continue;
    const double gap = calls[i].time - calls[i - 1].time;
    const double expected = kTypicalRoad[i].time - kTypicalRoad[i - 1].time;
    EXPECT_GE(std::round(gap), expected) << "call " << i << "\n" << output;
    EXPECT_LE(std::round(gap), expected + slack) << "call " << i << "\n" << output;
  }
}

TEST(CliRunTest, TypicalRoadAtHighSpeedFinishes) {
  const Result r = runCli({"run", "--speed", "1000", "--progress-every", "20", "--log-lines"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_LT(r.realSeconds, 5.0);
  expectTypicalRoadGaps(vusersCalls(r.lines), 30, r.output);
  const std::vector<Line> all = timeline(r.lines, "call");
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().what, "onSchedulerFinished");
  EXPECT_THAT(r.output, testing::HasSubstr("scheduler finished after"));
  // The library's test log, and progress lines from the stage query.
  EXPECT_THAT(r.output, testing::HasSubstr("log    SCHEDULER @  @ Started"));
  EXPECT_THAT(r.output, testing::HasSubstr("log    SCENARIO @  @ called QVE @ Run @ 3 vusers @ Indefinitely"));
  EXPECT_THAT(r.output, testing::HasSubstr("progress stage RampUp, next RampUp in"));
  EXPECT_THAT(r.output, testing::HasSubstr("progress stage Duration, next Stop in"));
}

TEST(CliRunTest, LogFileGetsTheLibraryLog) {
  TempDir dir;
  const std::string log = dir.file("run.log");
  const Result r = runCli({"run", "--speed", "1000", "--no-library-lines", "--log", log});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_THAT(r.output, testing::Not(testing::HasSubstr("called QVE")));
  const std::string text = readFile(log);
  EXPECT_THAT(text, testing::HasSubstr("QVScheduleTest"));
  EXPECT_THAT(text, testing::HasSubstr("called QVE @ StopAll"));
  EXPECT_THAT(text, testing::HasSubstr("CQVScheduler::start"));
}

TEST(CliRunTest, PauseAndResumeThroughStandardInputDelayLaterCalls) {
  // Schedule time moves only by the "advance" lines, so every time is exact: paused at 20 s, 10 s
  // before the third batch, resumed 30 s later, the rest comes 30 s late.
  CliProcess cli({"run", "--virtual-clock", "--progress-every", "10", "--no-library-lines"});
  cli.write("advance 20\np\nadvance 30\nr\nadvance 200\n");
  ASSERT_EQ(cli.finish(), 0) << cli.output();
  std::vector<std::string> calls;
  for (const Line& line : timeline(cli.lines(), "call")) {
    calls.push_back(std::to_string(std::lround(line.time * 1000)) + " " + line.what + " " + line.count);
  }
  EXPECT_THAT(calls, testing::ElementsAre("0 runVusers 3", "15000 runVusers 3", "20000 onSchedulerPaused -",
                                          "50000 onSchedulerResumed -", "60000 runVusers 3", "75000 runVusers 1",
                                          "75000 canStartDuration -", "135000 stopAllVusers all",
                                          "135000 onSchedulerFinished -"))
      << cli.output();
  EXPECT_THAT(cli.output(), testing::HasSubstr("00:40.000  progress"));
  EXPECT_THAT(cli.output(), testing::ContainsRegex("00:40.000  progress .*\\(paused\\)"));
  EXPECT_THAT(cli.output(), testing::HasSubstr("scheduler finished after 02:15.000"));
}

TEST(CliRunTest, StopThroughStandardInputEndsCleanly) {
  CliProcess cli({"run", "--speed", "100", "--no-library-lines"});
  ASSERT_TRUE(cli.waitForLine("runVusers")) << cli.output();
  cli.write("s\n");
  ASSERT_EQ(cli.finish(), 3) << "stopped before the end\n" << cli.output();
  EXPECT_THAT(cli.output(), testing::HasSubstr("stopping (s)"));
  EXPECT_THAT(cli.output(), testing::HasSubstr("scheduler stopped cleanly"));
  const std::vector<Line> lines = timeline(cli.lines(), "call");
  EXPECT_EQ(find(lines, "onSchedulerFinished"), nullptr);
  EXPECT_EQ(find(lines, "stopAllVusers"), nullptr);
  EXPECT_EQ(find(lines, "canStartDuration"), nullptr);
}

TEST(CliRunTest, RefusedDefinitionExitsNonZero) {
  TempDir dir;
  const Result r = runCli({"run", "--speed", "1000", dir.file("bad.xml", globalDefinition("<Fly/>"))});
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_THAT(r.output, testing::HasSubstr("Unknown action runner name: Fly"));
  EXPECT_TRUE(vusersCalls(r.lines).empty());
}

TEST(CliUsageTest, HelpVersionAndUsageErrors) {
  const Result help = runCli({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.output, testing::HasSubstr("Simulated vusers"));
  EXPECT_THAT(help.output, testing::HasSubstr("p pause, r resume, s stop"));
  EXPECT_THAT(help.output, testing::HasSubstr("3    run: stopped before the schedule finished"));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"version"}}) {
    const Result version = runCli(args);
    EXPECT_EQ(version.exitCode, 0) << args[0];
    EXPECT_THAT(version.output, testing::MatchesRegex("qvschedule [0-9]+\\.[0-9]+\\.[0-9]+\n")) << args[0];
  }
  const Result misspelt = runCli({"chek", "x.xml"});
  EXPECT_EQ(misspelt.exitCode, 2);
  EXPECT_THAT(misspelt.output,
              testing::HasSubstr("unknown command 'chek'; the commands are run, preview, check, version"));

  // Usage errors, ranges said in words (never a long number echoed digit by digit).
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string speedRange = "--speed: must be a number from 0.001 to 1,000,000";
  const std::vector<Case> cases = {
      {{"run", "--no-such-option"}, "--no-such-option"},
      {{}, "subcommand"},
      {{"preview", "--group-vusers", "g1"}, "NAME=N"},
      {{"preview", "--group-vusers", "g1=2000000"}, "from 0 to 1,000,000"},
      {{"run", "--speed", "0.0009"}, speedRange},
      {{"run", "--speed", "1000001"}, speedRange},
      {{"run", "--speed", "nan"}, speedRange},
      {{"run", "--speed", "inf"}, speedRange},
      {{"run", "--speed", "1e-300"}, speedRange},
      {{"run", "--speed", "1e308"}, speedRange},
      {{"run", "--speed", std::string(400, '9')}, speedRange},
      {{"preview", "--vusers", "-1"}, "--vusers: must be a whole number from 0 to 1,000,000"},
      {{"preview", "--init-seconds", "1e400"}, "from 0 to 31,536,000"},
      {{"run", "--progress-every", "100000"}, "from 0 to 86,400"},
      {{"check", "--format", "xml"}, "--format"},
      {{"run", "--serve", "localhost"}, "--serve port must be a whole number from 0 to 65,535"},
      {{"run", "--serve", "127.0.0.1:70000"}, "from 0 to 65,535"},
      {{"run", "--serve", "::1:8080"}, "an IPv6 address in brackets"},
      {{"run", "--serve-linger", "5"}, "--serve-linger and --serve-token need --serve"},
      {{"run", "--serve", "0", "--serve-linger", "-1"}, "--serve-linger: must be a number from 0 to 86,400"},
  };
  for (const Case& c : cases) {
    const Result r = runCli(c.args);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(c.args) << "\n" << r.output;
    EXPECT_THAT(r.output, testing::HasSubstr(c.message)) << testing::PrintToString(c.args);
    EXPECT_THAT(r.output, testing::Not(testing::ContainsRegex("[0-9]{30}"))) << testing::PrintToString(c.args);
  }
}

// ---------------------------------------------------------------------------------------------
// Signals and exit codes of a run.

TEST(CliSignalTest, InterruptAndTerminateStopTheRunCleanly) {
  struct Case {
    int signal;
    bool closeInput;
    std::string speed, note;
  };
  // Standard input closed used to put the interrupt pipe on descriptor 0, read twice; 0.001 is
  // the slowest speed, where a wait used to spin.
  const std::vector<Case> cases = {{SIGINT, true, "1", "stopping (interrupted)"},
                                   {SIGTERM, false, "1", "stopping (terminated)"},
                                   {SIGINT, false, "0.001", "stopping (interrupted)"}};
  for (const Case& c : cases) {
    Launch launch;
    launch.closeInput = c.closeInput;
    CliProcess cli({"run", "--speed", c.speed}, launch);
    ASSERT_TRUE(cli.waitForLine("runVusers")) << cli.output();
    ASSERT_TRUE(pollUntil([&] { return allThreadsAsleep(cli.pid()); }, 10s)) << c.speed;
    kill(cli.pid(), c.signal);
    EXPECT_EQ(cli.finish(10s), 3) << cli.output();
    EXPECT_THAT(cli.output(), testing::HasSubstr(c.note));
    EXPECT_THAT(cli.output(), testing::HasSubstr("scheduler stopped cleanly before it finished"));
  }
}

TEST(CliSignalTest, SecondInterruptExitsAtOnce) {
  Launch launch;
  launch.keepOutputWriter = true;
  CliProcess cli({"run", "--progress-every", "0"}, launch);
  ASSERT_TRUE(cli.waitForLine("runVusers")) << cli.output();
  // Nothing more is written for 15 s. With its output blocked the program cannot finish the clean
  // stop the first signal asks for.
  cli.fillOutputPipe();
  ASSERT_TRUE(pollUntil([&] { return allThreadsAsleep(cli.pid()); }, 10s));
  kill(cli.pid(), SIGINT);
  pollUntil([&] { return !signalPending(cli.pid(), SIGINT); }, 10s);
  kill(cli.pid(), SIGINT);
  EXPECT_EQ(cli.finish(10s), 130);
}

TEST(CliSignalTest, SpeedRangeEndsRun) {
  // The fastest speed runs the typical road at once, calls in their order.
  const Result fast = runCli({"run", "--speed", "1000000"});
  ASSERT_EQ(fast.exitCode, 0) << fast.output;
  const std::vector<Line> calls = vusersCalls(fast.lines);
  ASSERT_EQ(calls.size(), kTypicalRoad.size()) << fast.output;
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].what, kTypicalRoad[i].what) << i;
  EXPECT_THAT(fast.output, testing::HasSubstr("speed 1000000x"));
  // A duration of decades at a slow speed (its deadline used to overflow into the past and the
  // wait to spin): the duration starts, then a stop line ends the run.
  TempDir dir;
  const std::string decades = dir.file(
      "decades.xml", globalDefinition("<RunAll/><Duration><RunFor>2000000000</RunFor></Duration><StopAll/>"));
  CliProcess slow({"run", "--speed", "0.2", decades});
  ASSERT_TRUE(slow.waitForLine("canStartDuration")) << slow.output();
  slow.write("s\n");
  EXPECT_EQ(slow.finish(10s), 3) << slow.output();
}

// ---------------------------------------------------------------------------------------------
// Outputs: every write checked.

// A tmpfs of 64 KiB, full; skipped (with the reason) where it cannot be mounted.
class FullFilesystem {
 public:
  FullFilesystem() {
    if (::mount("qvschedule-test", dir_.file("").c_str(), "tmpfs", 0, "size=64k") != 0) {
      reason_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
    std::ofstream filler(path("filler"), std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  ~FullFilesystem() {
    if (mounted_) umount(dir_.file("").c_str());
  }
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  std::string path(const std::string& name) const { return dir_.file(name); }

 private:
  TempDir dir_;
  bool mounted_ = false;
  std::string reason_;
};

TEST(CliOutputTest, FailedWritesAreErrorsWithPathAndReason) {
  struct Case {
    std::vector<std::string> args;
    std::string outputFile;  // standard output
    std::string failed;      // named in the message
    std::string notSaid;     // must not be printed
  };
  const std::vector<Case> cases = {
      {{"preview", "--svg", "/dev/full"}, "", "/dev/full", "chart written"},
      {{"preview", "--csv", "/dev/full"}, "", "/dev/full", "series written"},
      {{"run", "--speed", "1000", "--log", "/dev/full"}, "", "/dev/full", "scheduler finished"},
      {{"preview"}, "/dev/full", "standard output", ""},
      {{"check", "--format", "json"}, "/dev/full", "standard output", ""},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.outputFile = c.outputFile;
    const Result r = runCli(c.args, "", launch);
    EXPECT_EQ(r.exitCode, 5) << testing::PrintToString(c.args) << "\n" << r.output;
    EXPECT_THAT(r.output, testing::HasSubstr("cannot write " + c.failed + ": No space left on device"));
    if (!c.notSaid.empty()) {
      EXPECT_THAT(r.output, testing::Not(testing::HasSubstr(c.notSaid))) << testing::PrintToString(c.args);
    }
  }
}

TEST(CliOutputTest, FullFilesystemIsAFailedOutput) {
  FullFilesystem full;
  if (!full.mounted()) GTEST_SKIP() << full.reason();
  const std::string svg = full.path("chart.svg");
  const Result r = runCli({"preview", kExamples + "/groups.xml", "--svg", svg});
  EXPECT_EQ(r.exitCode, 5) << r.output;
  EXPECT_THAT(r.output, testing::HasSubstr("cannot write " + svg + ": No space left on device"));
  EXPECT_THAT(r.output, testing::Not(testing::HasSubstr("chart written")));
}

TEST(CliOutputTest, ClosedPipeEndsTheProgramQuietlyAtOnce) {
  // A real-time run takes 105 s; with SIGPIPE ignored it must still end at its first write.
  Launch launch;
  launch.ignoreSigpipe = true;
  launch.separateErrors = true;
  CliProcess cli({"run"}, launch);
  cli.closeOutput();
  EXPECT_EQ(cli.finish(10s), 128 + SIGPIPE);
  EXPECT_EQ(cli.errors(), "");
}

// ---------------------------------------------------------------------------------------------
// Definitions from pipes and standard input, in any encoding the program reads.

// The text in UTF-16 (little or big endian) or UTF-32 LE, with a byte-order mark; ASCII only.
std::string wide(const std::string& ascii, int width, bool bigEndian) {
  std::string out;
  const auto put = [&](char c) {
    std::string unit(width, '\0');
    unit[bigEndian ? width - 1 : 0] = c;
    out += unit;
  };
  out += width == 2 ? (bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) : std::string("\xFF\xFE\0\0", 4);
  for (char c : ascii) put(c);
  return out;
}

TEST(CliDefinitionTest, ReadOnceFromPipesAndStandardInput) {
  const std::string text = readFile(kExamples + "/groups.xml");
  for (const std::string path : {"-", "/dev/stdin"}) {
    const Result r = runCli({"check", path}, text);
    EXPECT_EQ(r.exitCode, 0) << path << "\n" << r.output;
    EXPECT_THAT(r.output, testing::HasSubstr("2 groups")) << path;
  }
  // A named pipe can be read once only.
  TempDir dir;
  const std::string fifo = dir.file("def.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    int fd = -1;
    while (fd < 0 && std::chrono::steady_clock::now() < deadline) {
      fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // ENXIO until the program opens it
      if (fd < 0) std::this_thread::sleep_for(2ms);
    }
    if (fd < 0) return;
    fcntl(fd, F_SETFL, 0);
    [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
    close(fd);
  });
  const Result fromFifo = runCli({"preview", fifo});
  writer.join();
  EXPECT_EQ(fromFifo.exitCode, 0) << fromFifo.output;
  const std::vector<Line> fifoLines = timeline(fromFifo.lines);
  EXPECT_NE(find(fifoLines, "runAllGroupVusers", "g2"), nullptr) << fromFifo.output;
}

TEST(CliDefinitionTest, EveryEncodingReadsAsTheLibraryLoadsIt) {
  TempDir dir;
  const std::string utf8 = readFile(kExamples + "/groups.xml");
  const Result reference = runCli({"preview", kExamples + "/groups.xml"});
  ASSERT_EQ(reference.exitCode, 0) << reference.output;
  const std::vector<Line> expected = timeline(reference.lines);
  ASSERT_NE(find(expected, "runAllGroupVusers", "g2"), nullptr);

  auto declared = [&](const std::string& encoding) {
    std::string text = utf8;
    text.replace(text.find("utf-8"), 5, encoding);
    return text;
  };
  struct Case {
    std::string name, bytes;
  };
  const std::vector<Case> cases = {
      {"utf16le.xml", wide(declared("UTF-16"), 2, false)},
      {"utf16be.xml", wide(declared("UTF-16"), 2, true)},
      {"utf32le.xml", wide(declared("UTF-32"), 4, false)},
      {"bom.xml", "\xEF\xBB\xBF" + utf8},
      {"mislabelled.xml", declared("UTF-16")},  // single-byte text: read as UTF-8
  };
  for (const Case& c : cases) {
    const std::string path = dir.file(c.name, c.bytes);
    const Result check = runCli({"check", path});
    EXPECT_EQ(check.exitCode, 0) << c.name << "\n" << check.output;
    EXPECT_THAT(check.output, testing::HasSubstr("2 groups")) << c.name;
    EXPECT_THAT(check.output, testing::HasSubstr("group g2\n")) << c.name;
    // The pools are the library's groups: the same timeline, pool by pool, as from UTF-8.
    const Result preview = runCli({"preview", path});
    ASSERT_EQ(preview.exitCode, 0) << c.name << "\n" << preview.output;
    const std::vector<Line> lines = timeline(preview.lines);
    ASSERT_EQ(lines.size(), expected.size()) << c.name << "\n" << preview.output;
    EXPECT_EQ(preview.output.substr(preview.output.find('\n')), reference.output.substr(reference.output.find('\n')))
        << c.name;
  }
  // A declared single-byte encoding is converted: the group name reads in UTF-8.
  std::string latin1 = declared("ISO-8859-1");
  latin1.replace(latin1.find("<GroupName>g2<"), 14, "<GroupName>g\xE9<");
  latin1.replace(latin1.find("<StartAfterGroup>g1"), 19, "<StartAfterGroup>g1");
  const Result named = runCli({"check", dir.file("latin1.xml", latin1)});
  EXPECT_EQ(named.exitCode, 0) << named.output;
  EXPECT_THAT(named.output, testing::HasSubstr("group g\xC3\xA9\n"));
  const Result unknown = runCli({"check", dir.file("unknown.xml", declared("X-NO-SUCH-CODE"))});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_THAT(unknown.output, testing::HasSubstr("unsupported encoding \"X-NO-SUCH-CODE\""));
}

// ---------------------------------------------------------------------------------------------
// Machine-readable output.

TEST(CliJsonTest, NdjsonTimelineParsesLineByLine) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"preview", "--format", "ndjson"}, {"run", "--speed", "1000", "--format", "ndjson"}}) {
    Launch launch;
    launch.separateErrors = true;
    const Result r = runCli(args, "", launch);
    ASSERT_EQ(r.exitCode, 0) << r.output << r.errors;
    std::vector<nlohmann::json> calls;
    for (const std::string& line : r.lines) {
      const nlohmann::json object = nlohmann::json::parse(line);  // throws on a line that is not JSON
      ASSERT_TRUE(object.contains("time") && object.contains("kind")) << line;
      if (object["kind"] == "call" && object["call"].get<std::string>().rfind("on", 0) != 0) calls.push_back(object);
    }
    ASSERT_EQ(calls.size(), kTypicalRoad.size()) << r.output;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i]["call"], kTypicalRoad[i].what) << i;
      EXPECT_EQ(calls[i]["group"], "scenario") << i;
      EXPECT_EQ(calls[i]["status"], "succeeded") << i;
      if (args[0] == "preview") {
        EXPECT_EQ(calls[i]["time"], kTypicalRoad[i].time) << i;
      }
    }
    EXPECT_EQ(calls[0]["count"], 3);
    EXPECT_EQ(calls[0]["pool"]["running"], 3);
    EXPECT_EQ(calls.back()["count"], "all");
    EXPECT_THAT(r.errors, testing::HasSubstr("scheduler finished after"));  // the human lines
  }
}

TEST(CliJsonTest, CheckVerdictAsJson) {
  TempDir dir;
  const Result valid = runCli({"check", "--format", "json", kExamples + "/groups.xml"});
  ASSERT_EQ(valid.exitCode, 0) << valid.output;
  const nlohmann::json verdict = nlohmann::json::parse(valid.output);
  EXPECT_EQ(verdict["valid"], true);
  EXPECT_EQ(verdict["summary"]["type"], "Groups");
  ASSERT_EQ(verdict["summary"]["schedules"].size(), 2u);
  EXPECT_EQ(verdict["summary"]["schedules"][1]["start"], "after group g1 finished running");
  EXPECT_TRUE(verdict["diagnostics"].empty());

  const Result refused = runCli({"check", "--format", "json", dir.file("bad.xml", globalDefinition("<Jump/>"))});
  EXPECT_EQ(refused.exitCode, 1);
  const nlohmann::json no = nlohmann::json::parse(refused.output);
  EXPECT_EQ(no["valid"], false);
  EXPECT_TRUE(no["summary"].is_null());
  ASSERT_EQ(no["diagnostics"].size(), 1u);
  const nlohmann::json& error = no["diagnostics"][0];
  EXPECT_EQ(error["severity"], "error");
  EXPECT_EQ(error["message"], "Unknown action runner name: Jump");
  EXPECT_EQ(error["path"], "/LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Jump");
  EXPECT_EQ(error["line"], 1);
  EXPECT_GT(error["column"].get<int>(), 200);
  EXPECT_EQ(error["value"], "Jump");
}

// ---------------------------------------------------------------------------------------------
// Long schedules: hours in the times, and the preview's limit.

TEST(CliPreviewTest, HoursInTimesAndTheThirtyDayLimit) {
  TempDir dir;
  const std::string svgPath = dir.file("hours.svg");
  const Result hours = runCli(
      {"preview", dir.file("hours.xml", globalDefinition("<RunAll/><Duration><RunFor>4000</RunFor></Duration><StopAll/>")),
       "--svg", svgPath});
  ASSERT_EQ(hours.exitCode, 0) << hours.output;
  EXPECT_THAT(hours.output, testing::HasSubstr("1:06:40.000  call   scenario   stopAllVusers"));
  EXPECT_THAT(hours.output, testing::HasSubstr("scheduler finished after 1:06:40.000"));
  EXPECT_THAT(hours.output, testing::HasSubstr("load: 1:06:40.000; peak 10 vusers running at 00:00.000"));
  const std::string svg = readFile(svgPath);
  EXPECT_THAT(svg, testing::HasSubstr(">1:00:00</text>"));
  EXPECT_THAT(svg, testing::HasSubstr(">0:00:00</text>"));  // every tick in the axis title's format
  EXPECT_THAT(svg, testing::HasSubstr("time since start (h:mm:ss)"));
  const std::vector<Line> lines = timeline(hours.lines);
  const Line* stop = find(lines, "stopAllVusers");
  ASSERT_NE(stop, nullptr);
  EXPECT_DOUBLE_EQ(stop->time, 4000);

  const Result limit = runCli(
      {"preview", dir.file("long.xml", globalDefinition("<RunAll/><Duration><RunFor>3000000</RunFor></Duration><StopAll/>"))});
  EXPECT_EQ(limit.exitCode, 4) << limit.output;
  EXPECT_THAT(limit.output, testing::HasSubstr("the preview stopped at its limit"));
  const std::vector<Line> limitLines = timeline(limit.lines);
  EXPECT_EQ(find(limitLines, "stopAllVusers"), nullptr);
}

// The preview's summary costs the same per group whatever their number: 60,000 groups take about
// 1.5 s on a 2-core machine, where a scan of every group per group did not end within the 20 s
// that runCli waits. The sanitizers slow the whole road down ten times and more: under them a
// fifth of the groups runs, as a check of the summary only.
TEST(CliPreviewTest, ManyGroupsInLinearTime) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const int groups = 12000;
#else
  const int groups = 60000;
#endif
  TempDir dir;
  const Result r = runCli({"preview", dir.file("many.xml", runAllGroups(groups, false))});
  ASSERT_EQ(r.exitCode, 0) << r.output.substr(r.output.size() - std::min<std::size_t>(r.output.size(), 2000));
  EXPECT_LT(r.realSeconds, 15.0);
  EXPECT_THAT(r.output, testing::HasSubstr("; peak " + std::to_string(groups * 10) + " vusers running at 00:00.000\n"));
  // One row per group, each with its own peak and what its schedule asks for.
  std::size_t rows = 0;
  for (std::size_t at = 0; (at = r.output.find("10        all       10\n", at)) != std::string::npos; ++at) ++rows;
  EXPECT_EQ(rows, static_cast<std::size_t>(groups));
  EXPECT_THAT(r.output, testing::HasSubstr("\n  g0                         10        all       10\n"));
}

}  // namespace
