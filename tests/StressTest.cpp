// Several host threads drive the process-wide facade at once, in a seeded pseudo-random order,
// while another thread raises host events and the schedule runs on a fast clock. Only invariants
// that hold under every interleaving are checked:
//   - no host call arrives after a stop (or a load, which stops) returned while no start has
//     begun since that stop began, but for the isInFinalStage question of a getSchedulerStage
//     the host's own thread was making meanwhile;
//   - onSchedulerFinished never comes more often than start was called;
//   - inside onSchedulerPaused / onSchedulerResumed (scheduler lock held) the queries agree;
//   - run times are never negative nor longer than the virtual time that passed;
//   - the process neither crashes nor hangs (a watchdog aborts after 120 s).
#include "QVClock.h"
#include "QVSchedulerFacade.h"
#include "qveventsmanagement.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kDefinitions[] = {"global_typical_road.xml", "groups_example.xml", "groups_start_conditions.xml",
                                    "global_all_actions.xml"};
const char* const kGroups[] = {"g1", "g2", "begin", "delayed", "zero", "after", "afterInit", "nobody"};

std::string dataPath(const std::string& name) { return std::string(QV_TEST_DATA_DIR) + "/" + name; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Set while this thread is inside its own getSchedulerStage: the question that query may put to
// the host (isInFinalStage) comes on this thread and is the host's own doing, so it may come after
// a stop that another thread made while the query was under way.
thread_local bool tInStageQuery = false;

void askStage() {
  const bool outer = tInStageQuery;
  tInStageQuery = true;
  CQVSchedulerStage stage;
  CQVSchedulerFacade::getSchedulerStage(stage);
  tInStageQuery = outer;
}

std::uint64_t mix(std::uint64_t x) {  // splitmix64
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// Shared bookkeeping of the starts and stops made by any thread (host threads or the host's
// own callbacks).
struct Epochs {
  std::atomic<std::int64_t> startsBegun{0};
  std::atomic<std::int64_t> startsDone{0};
  // The value of startsBegun that a stop saw when it began with no start in flight; the schedule
  // must stay quiet for as long as startsBegun still has this value. -1: no such stop yet.
  std::atomic<std::int64_t> quietAt{-1};

  bool start() {
    ++startsBegun;
    const bool started = CQVSchedulerFacade::start();
    ++startsDone;
    return started;
  }
  // `stopCall` is stop, setXMLString or setXMLFile: all of them stop a running schedule.
  template <typename F>
  bool stopWith(F stopCall) {
    const std::int64_t begun = startsBegun.load();
    const std::int64_t done = startsDone.load();
    const bool result = stopCall();
    if (begun == done) quietAt.store(begun);
    return result;
  }
  // True when a host call now contradicts a returned stop.
  bool mustBeQuiet() const {
    const std::int64_t quiet = quietAt.load();
    return quiet >= 0 && startsBegun.load() == quiet;
  }
};

// A thread-safe host: counts every call, answers pseudo-random statuses (0..4, sometimes 7) and
// now and then calls back into the facade from inside a call.
class StressHost : public CQVVusersServices {
 public:
  explicit StressHost(Epochs& epochs) : epochs_(epochs) {}

  void onSchedulerFinished() override {
    note("onSchedulerFinished");
    const std::int64_t finished = ++finished_;
    if (finished > epochs_.startsBegun.load()) violation("onSchedulerFinished came more often than start was called");
  }
  void onSchedulerPaused() override {
    note("onSchedulerPaused");
    ++paused_;
    // The scheduler lock is held by this thread: nobody else can change the state meanwhile.
    if (!CQVSchedulerFacade::isPaused()) violation("isPaused() is false inside onSchedulerPaused");
    if (!CQVSchedulerFacade::isRunning()) violation("isRunning() is false inside onSchedulerPaused");
  }
  void onSchedulerResumed() override {
    note("onSchedulerResumed");
    ++resumed_;
    if (CQVSchedulerFacade::isPaused()) violation("isPaused() is true inside onSchedulerResumed");
    if (!CQVSchedulerFacade::isRunning()) violation("isRunning() is false inside onSchedulerResumed");
  }
  void onGroupFinished(const std::string& groupName) override { note("onGroupFinished " + groupName); }

  int initAllVusers(RunMode) override { return vusers("initAllVusers"); }
  int initVusers(long count, RunMode) override { return vusersCount("initVusers", count); }
  int runAllVusers(RunMode) override { return vusers("runAllVusers"); }
  int runVusers(RunMode, long count) override { return vusersCount("runVusers", count); }
  int stopAllVusers() override { return vusers("stopAllVusers"); }
  int stopVusers(long count) override { return vusersCount("stopVusers", count); }
  int canStartDuration() override { return vusers("canStartDuration"); }
  bool isInFinalStage() override { return vusers("isInFinalStage") % 2 == 0; }
  int initAllGroupVusers(const std::string& g, RunMode) override { return vusers(g + " initAllGroupVusers"); }
  int initGroupVusers(const std::string& g, long count, RunMode) override {
    return vusersCount(g + " initGroupVusers", count);
  }
  int runAllGroupVusers(const std::string& g, RunMode) override { return vusers(g + " runAllGroupVusers"); }
  int runGroupVusers(const std::string& g, RunMode, long count) override {
    return vusersCount(g + " runGroupVusers", count);
  }
  int stopAllGroupVusers(const std::string& g) override { return vusers(g + " stopAllGroupVusers"); }
  int stopGroupVusers(const std::string& g, long count) override { return vusersCount(g + " stopGroupVusers", count); }
  int canStartGroupDuration(const std::string& g) override { return vusers(g + " canStartGroupDuration"); }

  std::vector<std::string> violations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
  }
  std::int64_t calls() const { return calls_.load(); }
  std::int64_t finished() const { return finished_.load(); }
  std::int64_t paused() const { return paused_.load(); }
  std::int64_t resumed() const { return resumed_.load(); }
  std::int64_t reentrantCalls() const { return reentrant_.load(); }

  void violation(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (violations_.size() < 20) violations_.push_back(what + " (last calls: " + lastCallsLocked() + ")");
    ++violationCount_;
  }
  std::int64_t violationCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return violationCount_;
  }

 private:
  void note(const std::string& what) {
    ++calls_;
    const bool ownQuestion = tInStageQuery && what == "isInFinalStage";
    if (epochs_.mustBeQuiet() && !ownQuestion) violation("host call after a returned stop with no start since: " + what);
    std::lock_guard<std::mutex> lock(mutex_);
    log_[logNext_++ % log_.size()] = what;
  }
  int vusersCount(const std::string& what, long count) {
    if (count < 0) violation(what + " with a negative count " + std::to_string(count));
    return vusers(what + " " + std::to_string(count));
  }
  int vusers(const std::string& what) {
    note(what);
    const std::uint64_t r = mix(seq_.fetch_add(1));
    if (r % 64 == 0) reenter(r >> 8);
    const std::uint64_t pick = (r >> 16) % 32;
    if (pick == 0) return 7;
    if (pick < 12) return 0;
    return static_cast<int>(pick % 5);
  }
  // Calls the facade from inside a host call, as a host may.
  void reenter(std::uint64_t r) {
    ++reentrant_;
    switch (r % 6) {
      case 0:
        epochs_.stopWith([] { return CQVSchedulerFacade::stop(); });
        if (CQVSchedulerFacade::isRunning()) violation("isRunning() right after a stop made inside a host call");
        break;
      case 1:
        CQVSchedulerFacade::pause();
        break;
      case 2:
        CQVSchedulerFacade::resume();
        break;
      case 3:
        askStage();
        break;
      default: {
        long seconds = 0;
        CQVSchedulerFacade::getScenarioRunTime(seconds);
        CQVSchedulerFacade::getGroupRunTime("g1", seconds);
        break;
      }
    }
  }
  std::string lastCallsLocked() const {
    std::string text;
    const std::size_t n = log_.size();
    for (std::size_t i = 0; i < n; ++i) {
      const std::string& entry = log_[(logNext_ + i) % n];
      if (entry.empty()) continue;
      if (!text.empty()) text += ", ";
      text += entry;
    }
    return text;
  }

  Epochs& epochs_;
  std::atomic<std::uint64_t> seq_{1};
  std::atomic<std::int64_t> calls_{0};
  std::atomic<std::int64_t> finished_{0};
  std::atomic<std::int64_t> paused_{0};
  std::atomic<std::int64_t> resumed_{0};
  std::atomic<std::int64_t> reentrant_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> violations_;
  std::int64_t violationCount_ = 0;
  std::vector<std::string> log_ = std::vector<std::string>(8);
  std::size_t logNext_ = 0;
};

// Answers 1 to everything: installed at the end so that the facade keeps no pointer to a test's
// host that is gone.
class IdleHost : public CQVVusersServices {
 public:
  void onSchedulerFinished() override {}
  void onSchedulerPaused() override {}
  void onSchedulerResumed() override {}
  void onGroupFinished(const std::string&) override {}
  int initAllVusers(RunMode) override { return 1; }
  int initVusers(long, RunMode) override { return 1; }
  int runAllVusers(RunMode) override { return 1; }
  int runVusers(RunMode, long) override { return 1; }
  int stopAllVusers() override { return 1; }
  int stopVusers(long) override { return 1; }
  int canStartDuration() override { return 1; }
  bool isInFinalStage() override { return true; }
  int initAllGroupVusers(const std::string&, RunMode) override { return 1; }
  int initGroupVusers(const std::string&, long, RunMode) override { return 1; }
  int runAllGroupVusers(const std::string&, RunMode) override { return 1; }
  int runGroupVusers(const std::string&, RunMode, long) override { return 1; }
  int stopAllGroupVusers(const std::string&) override { return 1; }
  int stopGroupVusers(const std::string&, long) override { return 1; }
  int canStartGroupDuration(const std::string&) override { return 1; }
};

// Aborts the process when the test has not finished in time: a hang must fail, not stall CI.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "Stress test did not finish within %lld s: aborting\n",
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace

TEST(Stress, ConcurrentHostCallsKeepTheInvariants) {
  constexpr int kHostThreads = 3;
  constexpr int kIterations = 3000;
  Watchdog watchdog(std::chrono::seconds(120));

  std::vector<std::string> xml;
  for (const char* name : kDefinitions) {
    xml.push_back(readFile(dataPath(name)));
    ASSERT_FALSE(xml.back().empty()) << name;
  }

  // A schedule's second passes in 2 ms of real time.
  QVSetClock(std::make_shared<QVScaledClock>(500.0));
  const std::uint64_t begin = QVNowFileTime();
  Epochs epochs;
  StressHost host(epochs);
  ASSERT_TRUE(CQVSchedulerFacade::setVusersServices(&host));
  ASSERT_TRUE(epochs.stopWith([&] { return CQVSchedulerFacade::setXMLString(xml[0].c_str()); }));
  ASSERT_TRUE(epochs.start());

  std::atomic<int> hostThreadsLeft{kHostThreads};
  std::atomic<std::int64_t> failedLoads{0};
  std::atomic<std::int64_t> badRunTimes{0};
  std::atomic<std::int64_t> badModes{0};
  std::atomic<std::int64_t> stoppedButRunning{0};
  std::mutex sampleMutex;
  std::vector<std::string> badSamples;

  auto checkRunTime = [&](bool found, long seconds) {
    if (!found) return;
    const long elapsed = static_cast<long>((QVNowFileTime() - begin) / QV_FILE_TIME_UNITS_PER_SECOND) + 1;
    if (seconds < 0 || seconds > elapsed) {
      if (++badRunTimes <= 5) {
        std::lock_guard<std::mutex> lock(sampleMutex);
        badSamples.push_back(std::to_string(seconds) + " s after " + std::to_string(elapsed) + " s");
      }
    }
  };
  auto checkMode = [&](bool found, CQVVusersServices::RunMode mode) {
    if (found && mode != CQVVusersServices::RUN_UNTIL_COMPLETE && mode != CQVVusersServices::RUN_INDEFINITELY) {
      ++badModes;
    }
  };

  auto hostThread = [&](int index) {
    std::mt19937 random(20261207u + static_cast<unsigned>(index));
    for (int i = 0; i < kIterations; ++i) {
      const std::string& definition = xml[random() % xml.size()];
      const char* group = kGroups[random() % (sizeof(kGroups) / sizeof(kGroups[0]))];
      switch (random() % 16) {
        case 0:
        case 1:
          CQVSchedulerFacade::pause();
          break;
        case 2:
        case 3:
          CQVSchedulerFacade::resume();
          break;
        case 4:
          epochs.stopWith([] { return CQVSchedulerFacade::stop(); });
          break;
        case 5:
          if (!epochs.stopWith([&] { return CQVSchedulerFacade::setXMLString(definition.c_str()); })) ++failedLoads;
          break;
        case 6: {
          const std::string path = dataPath(kDefinitions[random() % xml.size()]);
          if (!epochs.stopWith([&] { return CQVSchedulerFacade::setXMLFile(path.c_str()); })) ++failedLoads;
          break;
        }
        case 7:
        case 8:
          epochs.start();
          break;
        case 9: {
          // Lock-free queries racing with every other call (their agreement is checked where the
          // scheduler lock is held, inside onSchedulerPaused / onSchedulerResumed).
          CQVSchedulerFacade::isRunning();
          CQVSchedulerFacade::isPaused();
          break;
        }
        case 10: {
          long seconds = -1;
          const bool found = CQVSchedulerFacade::getScenarioRunTime(seconds);
          checkRunTime(found, seconds);
          break;
        }
        case 11: {
          long seconds = -1;
          const bool found = CQVSchedulerFacade::getGroupRunTime(group, seconds);
          checkRunTime(found, seconds);
          break;
        }
        case 12:
          askStage();
          break;
        case 13: {
          CQVVusersServices::RunMode mode = CQVVusersServices::RUN_UNTIL_COMPLETE;
          const bool found = CQVSchedulerFacade::GetScenarioRunMode(mode);
          checkMode(found, mode);
          break;
        }
        case 14: {
          CQVVusersServices::RunMode mode = CQVVusersServices::RUN_UNTIL_COMPLETE;
          const bool found = CQVSchedulerFacade::GetGroupRunMode(group, mode);
          checkMode(found, mode);
          break;
        }
        default:
          if (random() % 4 == 0) std::this_thread::yield();
          break;
      }
    }
    --hostThreadsLeft;
  };

  // At most kMaxEvents: the thread that runs the events queue delivers until it is empty, holding
  // the scheduler lock, so a producer that stopped only once the host threads are done could keep
  // it busy for ever where delivery is slower than raising (ThreadSanitizer), and the host
  // threads, waiting for that lock, would never be done.
  constexpr std::int64_t kMaxEvents = 20000;
  auto eventsThread = [&] {
    std::mt19937 random(77u);
    std::int64_t raised = 0;
    while ((hostThreadsLeft.load() > 0 && raised < kMaxEvents) || raised < 100) {
      const char* group = kGroups[random() % (sizeof(kGroups) / sizeof(kGroups[0]))];
      switch (random() % 3) {
        case 0:
          CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
          break;
        case 1:
          CQVEventsManager::instance()->notifyOnEvent(CQVGroupAllVusersInitEventDef(std::string(group)));
          break;
        default:
          CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef(std::string(group)));
          break;
      }
      ++raised;
      std::this_thread::yield();
    }
  };

  std::vector<std::thread> threads;
  for (int i = 0; i < kHostThreads; ++i) threads.emplace_back(hostThread, i);
  threads.emplace_back(eventsThread);
  for (auto& thread : threads) thread.join();

  // Quiet end: after this stop no host call may come.
  epochs.stopWith([] { return CQVSchedulerFacade::stop(); });
  if (CQVSchedulerFacade::isRunning()) ++stoppedButRunning;
  const std::int64_t callsAtEnd = host.calls();
  CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef(std::string("g1")));
  CQVSchedulerFacade::resume();
  CQVSchedulerFacade::pause();
  EXPECT_EQ(host.calls(), callsAtEnd) << "host calls after the final stop";

  static IdleHost idle;
  CQVSchedulerFacade::setVusersServices(&idle);
  QVSetClock(nullptr);

  EXPECT_EQ(host.violationCount(), 0);
  for (const std::string& v : host.violations()) ADD_FAILURE() << v;
  EXPECT_EQ(failedLoads.load(), 0) << "a valid definition was refused";
  EXPECT_EQ(badRunTimes.load(), 0) << "a run time was negative or longer than the time that passed";
  for (const std::string& sample : badSamples) ADD_FAILURE() << "run time " << sample;
  EXPECT_EQ(badModes.load(), 0) << "a run mode outside RUN_UNTIL_COMPLETE / RUN_INDEFINITELY";
  EXPECT_EQ(stoppedButRunning.load(), 0);
  EXPECT_LE(host.finished(), epochs.startsBegun.load());
  // The run must actually have exercised the schedule, or it checked nothing.
  EXPECT_GT(host.calls(), 0);
  EXPECT_GT(epochs.startsDone.load(), kHostThreads * kIterations / 16);
  std::printf("[stress] starts=%lld host calls=%lld finished=%lld paused=%lld resumed=%lld reentrant=%lld\n",
              static_cast<long long>(epochs.startsDone.load()), static_cast<long long>(host.calls()),
              static_cast<long long>(host.finished()), static_cast<long long>(host.paused()),
              static_cast<long long>(host.resumed()), static_cast<long long>(host.reentrantCalls()));
}
