// The exported facade over the process-wide scheduler. Each test leaves the scheduler stopped.
#include "QVRampUpVusersActionRunner.h"
#include "QVRunAllVusersActionRunner.h"
#include "QVStopAllVusersActionRunner.h"
#include "QVRunDurationActionRunner.h"
#include "QVScheduler.h"
#include "QVSchedulerFacade.h"
#include "ScheduleTestSupport.h"

#include "QVEventsManager.h"
#include "QVHostEventDefs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Puts runners into the process-wide root the way the loader does.
class FacadeSchedule {
 public:
  FacadeSchedule() : scheduler(*CQVScheduler::getInstance()) {
    CQVSchedulerFacade::stop();
    scheduler.getRoot().setServices(&scheduler.getServices());
  }
  ~FacadeSchedule() { CQVSchedulerFacade::stop(); }

  CQVGroupRunner* addGroup(const std::string& name) {
    const CQVSchedulerLockGuard lock(scheduler.getServices().getSchedulerLock());
    scheduler.getServices().setScheduleByGroup();
    auto* runner = new CQVGroupRunner();
    runner->setServices(&scheduler.getServices());
    runner->setContext(new CQVGroupContext(name));
    scheduler.getRoot().addSchedulerRunner(runner);
    return runner;
  }
  CQVScenarioRunner* addScenario() {
    const CQVSchedulerLockGuard lock(scheduler.getServices().getSchedulerLock());
    scheduler.getServices().setScheduleByScenario();
    auto* runner = new CQVScenarioRunner();
    runner->setServices(&scheduler.getServices());
    runner->setContext(new CQVScenarioContext());
    scheduler.getRoot().addSchedulerRunner(runner);
    return runner;
  }
  template <typename Action>
  Action* add(CQVSchedulerRunner* runner, Action* action) {
    return appendChainedAction(scheduler.getServices(), runner, action);
  }
  bool empty() {
    const CQVSchedulerLockGuard lock(scheduler.getServices().getSchedulerLock());
    return scheduler.getRoot().getSchedulerRunners().empty();
  }

  CQVScheduler& scheduler;
};

CQVRunDurationActionRunner* duration(int seconds) {
  auto* action = new CQVRunDurationActionRunner(false);
  action->setDurationSeconds(seconds);
  return action;
}

// A gate the test holds shut: waiters block until it opens, at the latest when it is destroyed
// (declare it after anything that waits for a waiter).
class Latch {
 public:
  ~Latch() { open(); }
  void wait() const { opened_.wait(); }
  void open() {
    if (!open_.exchange(true)) promise_.set_value();
  }

 private:
  std::promise<void> promise_;
  std::shared_future<void> opened_ = promise_.get_future().share();
  std::atomic<bool> open_{false};
};

// Tells once that a thread got somewhere.
class Signal {
 public:
  void raise() {
    if (!raised_.exchange(true)) promise_.set_value();
  }
  bool waitFor(std::chrono::seconds bound) { return future_.wait_for(bound) == std::future_status::ready; }

 private:
  std::promise<void> promise_;
  std::future<void> future_ = promise_.get_future();
  std::atomic<bool> raised_{false};
};

// A thread joined when it goes out of scope.
struct JoinedThread {
  ~JoinedThread() {
    if (thread.joinable()) thread.join();
  }
  std::thread thread;
};

// Every query's answer, asked on another thread.
struct Answers {
  bool running = false, paused = false, scenarioTime = false, groupTime = false, scenarioMode = false,
       groupMode = false, stageKnown = false;
  long seconds = -1;
  CQVVusersServices::RunMode mode = CQVVusersServices::RUN_UNTIL_COMPLETE;
  CQVSchedulerStage stage;
};

std::future<Answers> askEveryQuery(const std::string& group) {
  return std::async(std::launch::async, [group] {
    Answers a;
    long groupSeconds = 0;
    CQVVusersServices::RunMode groupMode = CQVVusersServices::RUN_UNTIL_COMPLETE;
    a.running = CQVSchedulerFacade::isRunning();
    a.paused = CQVSchedulerFacade::isPaused();
    a.scenarioTime = CQVSchedulerFacade::getScenarioRunTime(a.seconds);
    a.groupTime = CQVSchedulerFacade::getGroupRunTime(group, groupSeconds);
    a.scenarioMode = CQVSchedulerFacade::GetScenarioRunMode(a.mode);
    a.groupMode = CQVSchedulerFacade::GetGroupRunMode(group, groupMode);
    a.stageKnown = CQVSchedulerFacade::getSchedulerStage(a.stage);
    return a;
  });
}

constexpr auto kAtOnce = std::chrono::seconds(10);  // a bound, not a pause: met in microseconds

}  // namespace

TEST(Facade, QueriesAnswerForAnEmptyScheduler) {
  EXPECT_FALSE(CQVSchedulerFacade::isRunning());
  EXPECT_FALSE(CQVSchedulerFacade::isPaused());
  CQVSchedulerStage stage;
  stage.setSecondsToNextStage(77);
  EXPECT_FALSE(CQVSchedulerFacade::getSchedulerStage(stage));
  EXPECT_EQ(stage.getSecondsToNextStage(), 77);
  long seconds = 5;
  EXPECT_FALSE(CQVSchedulerFacade::getScenarioRunTime(seconds));
  EXPECT_FALSE(CQVSchedulerFacade::getGroupRunTime("nobody", seconds));
  EXPECT_EQ(seconds, 5);
  CQVVusersServices::RunMode mode = CQVVusersServices::RUN_UNTIL_COMPLETE;
  EXPECT_FALSE(CQVSchedulerFacade::GetScenarioRunMode(mode));
  EXPECT_EQ(mode, CQVVusersServices::RUN_UNTIL_COMPLETE);
}

TEST(Facade, NullServicesAreRefusedAndLaterServicesReachTheAdapter) {
  RecordingHost host;
  CQVScheduler& scheduler = *CQVScheduler::getInstance();
  CQVScheduleServices& services = scheduler.getServices();
  const CQVSchedulerLockGuard lock(services.getSchedulerLock());  // as the loader installs adapters
  EXPECT_FALSE(CQVSchedulerFacade::setVusersServices(nullptr));
  services.setScheduleByGroup();  // an adapter installed before the services
  EXPECT_TRUE(CQVSchedulerFacade::setVusersServices(&host));
  EXPECT_EQ(services.getWrapper()->getVusersServices(), &host);
  EXPECT_FALSE(CQVSchedulerFacade::setVusersServices(nullptr));
  EXPECT_EQ(services.getVusersServices(), &host) << "a null pointer leaves the previous services";
  services.setScheduleByScenario();
  EXPECT_EQ(services.getWrapper()->getVusersServices(), &host) << "new adapters get the services too";
}

TEST(Facade, StageNeedsExactlyOneSchedulerRunnerAndRunTimeByGroup) {
  ScopedManualClock clock;
  RecordingHost host;
  CQVSchedulerFacade::setVusersServices(&host);
  FacadeSchedule schedule;
  CQVGroupRunner* g1 = schedule.addGroup("g1");
  schedule.add(g1, duration(30));
  CQVGroupRunner* g2 = schedule.addGroup("g2");
  schedule.add(g2, duration(30));
  CQVSchedulerStage stage;
  EXPECT_FALSE(CQVSchedulerFacade::getSchedulerStage(stage));
  long seconds = -1;
  EXPECT_TRUE(CQVSchedulerFacade::getGroupRunTime("g1", seconds));
  EXPECT_EQ(seconds, 0) << "no run start recorded yet";
  EXPECT_TRUE(CQVSchedulerFacade::start());
  clock->advance(12s);
  EXPECT_TRUE(CQVSchedulerFacade::getGroupRunTime("g2", seconds));
  EXPECT_EQ(seconds, 12);
  seconds = -1;
  EXPECT_FALSE(CQVSchedulerFacade::getGroupRunTime("G1", seconds)) << "group names are case-sensitive";
  EXPECT_EQ(seconds, -1);
  CQVVusersServices::RunMode mode = CQVVusersServices::RUN_UNTIL_COMPLETE;
  EXPECT_TRUE(CQVSchedulerFacade::GetGroupRunMode("g1", mode));
  EXPECT_EQ(mode, CQVVusersServices::RUN_INDEFINITELY);
  EXPECT_FALSE(CQVSchedulerFacade::GetScenarioRunMode(mode));
  // Two runners of one group (assembled in code only): the first in the list, the last added, answers.
  schedule.addGroup("g1")->getContext()->runMode = CQVVusersServices::RUN_UNTIL_COMPLETE;
  EXPECT_TRUE(CQVSchedulerFacade::GetGroupRunMode("g1", mode));
  EXPECT_EQ(mode, CQVVusersServices::RUN_UNTIL_COMPLETE);
}

TEST(Facade, PauseAndResumeLinesAndStates) {
  ScopedManualClock clock;
  ScopedMemoryLog log;
  RecordingHost host;
  CQVSchedulerFacade::setVusersServices(&host);
  FacadeSchedule schedule;
  schedule.add(schedule.addScenario(), duration(100));

  CQVSchedulerFacade::pause();  // not running: one line, nothing else
  EXPECT_EQ((*log).count("SCHEDULER @  @ Paused"), 1u);
  EXPECT_FALSE(CQVSchedulerFacade::isPaused());

  CQVSchedulerFacade::start();
  clock->settle();
  CQVSchedulerFacade::resume();  // running, not paused: one line, nothing else
  EXPECT_EQ((*log).count("SCHEDULER @  @ Resumed"), 1u);
  CQVSchedulerFacade::pause();
  EXPECT_EQ((*log).count("SCHEDULER @  @ Paused"), 3u) << "the facade's line and the root runner's";
  EXPECT_TRUE(CQVSchedulerFacade::isPaused());
  clock->advance(500s);
  CQVSchedulerFacade::resume();
  EXPECT_FALSE(CQVSchedulerFacade::isPaused());
  EXPECT_TRUE(CQVSchedulerFacade::isRunning());
  clock->advance(99s);
  EXPECT_TRUE(CQVSchedulerFacade::isRunning());
  clock->advance(1s);
  EXPECT_FALSE(CQVSchedulerFacade::isRunning());
  EXPECT_THAT(host.calls(), testing::ElementsAre("0s canStartDuration", "0s onSchedulerPaused", "500s onSchedulerResumed",
                                                 "600s onSchedulerFinished"));
}

TEST(Facade, StartWhileRunningLeavesTheScheduleAloneAndStopDiscardsIt) {
  ScopedManualClock clock;
  RecordingHost host;
  CQVSchedulerFacade::setVusersServices(&host);
  FacadeSchedule schedule;
  CQVScenarioRunner* scenario = schedule.addScenario();
  schedule.add(scenario, duration(10));
  schedule.add(scenario, new CQVRunAllVusersActionRunner());
  CQVSchedulerFacade::start();
  clock->advance(5s);
  EXPECT_TRUE(CQVSchedulerFacade::start());
  clock->advance(5s);
  EXPECT_THAT(host.calls(), testing::ElementsAre("0s canStartDuration", "10s runAllVusers mode=1", "10s onSchedulerFinished"));

  CQVSchedulerFacade::stop();
  EXPECT_TRUE(schedule.empty());
  host.clearCalls();
  // Start after stop without a new load: an empty schedule that runs until stopped.
  EXPECT_TRUE(CQVSchedulerFacade::start());
  EXPECT_TRUE(CQVSchedulerFacade::isRunning());
  clock->advance(60s);
  EXPECT_TRUE(host.calls().empty());
  CQVSchedulerFacade::stop();
  EXPECT_FALSE(CQVSchedulerFacade::isRunning());
}

TEST(Facade, RootWithoutServicesStartsEmptyWithoutTouchingTheEventsManager) {
  CQVLoadTestSchedulerRunner root;
  {
    QVCriticalSection* const none = nullptr;  // no services: no scheduler lock to take
    const CQVSchedulerLockGuard lock(none);
    EXPECT_TRUE(root.start());
  }
  EXPECT_TRUE(root.isRunning());
  root.stop();  // no services: no lock, only the flags
  EXPECT_FALSE(root.isRunning());
}

TEST(ReentrantHost, StopFromInsideAHostCallEndsTheScheduleSafely) {
  ScopedManualClock clock;
  RecordingHost host;
  CQVSchedulerFacade::setVusersServices(&host);
  FacadeSchedule schedule;
  CQVScenarioRunner* scenario = schedule.addScenario();
  auto* ramp = new CQVRampUpVusersActionRunner();
  ramp->setBatchData(3, 15, 10);
  schedule.add(scenario, ramp);
  schedule.add(scenario, new CQVStopAllVusersActionRunner());
  int batches = 0;
  ON_CALL(host, runVusers(testing::_, testing::_)).WillByDefault([&](CQVVusersServices::RunMode, long n) {
    host.record("runVusers " + std::to_string(n));
    if (++batches == 2) {
      CQVSchedulerFacade::stop();  // on the timer thread, inside the ramp's own call
      host.record(CQVSchedulerFacade::isRunning() ? "still running" : "stopped");
    }
    return 0;
  });
  CQVSchedulerFacade::start();
  clock->advance(100s);
  EXPECT_THAT(host.calls(), testing::ElementsAre("0s runVusers 3", "15s runVusers 3", "15s stopped"));
  EXPECT_TRUE(schedule.empty());
  CQVSchedulerStage stage;
  EXPECT_FALSE(CQVSchedulerFacade::getSchedulerStage(stage));
  EXPECT_EQ(schedule.scheduler.getServices().getEventsManager()->getTimer().registrationCount(), 0u);
}

TEST(ReentrantHost, PauseAndQueriesFromInsideAHostCall) {
  ScopedManualClock clock;
  RecordingHost host;
  CQVSchedulerFacade::setVusersServices(&host);
  FacadeSchedule schedule;
  CQVScenarioRunner* scenario = schedule.addScenario();
  auto* ramp = new CQVRampUpVusersActionRunner();
  ramp->setBatchData(3, 15, 9);
  schedule.add(scenario, ramp);
  ON_CALL(host, runVusers(testing::_, testing::_)).WillByDefault([&](CQVVusersServices::RunMode, long n) {
    host.record("runVusers " + std::to_string(n));
    CQVSchedulerStage stage;
    long seconds = -1;
    // Queries from inside a host call answer like any other (they take no scheduler lock).
    CQVSchedulerFacade::getSchedulerStage(stage);
    EXPECT_TRUE(CQVSchedulerFacade::getScenarioRunTime(seconds));
    if (n == 3 && !CQVSchedulerFacade::isPaused()) CQVSchedulerFacade::pause();
    return 0;
  });
  CQVSchedulerFacade::start();
  clock->advance(40s);
  EXPECT_TRUE(CQVSchedulerFacade::isPaused());
  CQVSchedulerFacade::resume();
  clock->advance(15s);
  EXPECT_TRUE(CQVSchedulerFacade::isPaused()) << "the second batch paused again";
  EXPECT_THAT(host.calls(), testing::ElementsAre("0s runVusers 3", "0s onSchedulerPaused", "40s onSchedulerResumed",
                                                 "55s runVusers 3", "55s onSchedulerPaused"));
}

// Each finished group costs the same whatever the number of groups: 100,000 groups that start
// together, and 10,000 groups that all start after one group, run to their end, and then answer
// a run-time and a run-mode query each, within a bound that a linear algorithm meets about ten
// times over on a loaded 2-core machine (a scan over every group per finished group, or per query,
// takes longer than the bound there). The sanitizers slow the road down ten to
// fifteen times: under them a fifth of the groups keeps that margin within the test's time limit.
TEST(Facade, ManyGroupsFinishInLinearTime) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const int share = 5;
  const double boundSeconds = 50;
#else
  const int share = 1;
  const double boundSeconds = 20;
#endif
  const struct {
    const char* shape;
    int groups;
    bool afterTheFirst;
  } cases[] = {{"flat", 100000 / share, false}, {"fan", 10000 / share, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    ScopedManualClock clock;
    testing::NiceMock<MockHost> host;
    std::atomic<int> groupsFinished{0};
    ON_CALL(host, onGroupFinished(testing::_)).WillByDefault([&](const std::string&) { ++groupsFinished; });
    EXPECT_CALL(host, onSchedulerFinished()).Times(1);
    CQVSchedulerFacade::setVusersServices(&host);
    ASSERT_TRUE(CQVSchedulerFacade::setXMLString(runAllGroups(c.groups, c.afterTheFirst).c_str()));
    const auto began = std::chrono::steady_clock::now();
    CQVSchedulerFacade::start();
    clock->settle();
    if (c.afterTheFirst) CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef("g0"));
    clock->settle();
    int answered = 0;
    int unknownAnswered = 0;  // a name no group has, asked as often
    for (int i = 0; i < c.groups; ++i) {
      long runTime = -1;
      CQVVusersServices::RunMode mode{};
      const std::string name = "g" + std::to_string(i);
      answered += CQVSchedulerFacade::getGroupRunTime(name, runTime) && runTime == 0 &&
                  CQVSchedulerFacade::GetGroupRunMode(name, mode) && mode == CQVVusersServices::RUN_INDEFINITELY;
      unknownAnswered += CQVSchedulerFacade::getGroupRunTime("no " + name, runTime);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(answered, c.groups);
    EXPECT_EQ(unknownAnswered, 0);
    EXPECT_EQ(groupsFinished.load(), c.groups);
    EXPECT_FALSE(CQVSchedulerFacade::isRunning());
    EXPECT_LT(seconds, boundSeconds);
    CQVSchedulerFacade::stop();
  }
}

TEST(Facade, QueriesAnswerWhileAHostCallIsUnderWay) {
  ScopedManualClock clock;
  RecordingHost host;
  CQVSchedulerFacade::setVusersServices(&host);
  FacadeSchedule schedule;
  CQVScenarioRunner* scenario = schedule.addScenario();
  schedule.add(scenario, new CQVRunAllVusersActionRunner());
  schedule.add(scenario, duration(30));
  schedule.add(scenario, new CQVStopAllVusersActionRunner());
  std::future<Answers> answers;
  JoinedThread timer;
  Signal entered;
  Latch hostCall;
  ON_CALL(host, runAllVusers(testing::_)).WillByDefault([&](CQVVusersServices::RunMode) {
    entered.raise();
    hostCall.wait();  // on the timer thread, with the scheduler lock held
    return 0;
  });
  CQVSchedulerFacade::start();
  timer.thread = std::thread([&] { clock->settle(); });
  ASSERT_TRUE(entered.waitFor(kAtOnce));
  answers = askEveryQuery("nobody");
  EXPECT_EQ(answers.wait_for(kAtOnce), std::future_status::ready) << "a query waited for the host call";
  hostCall.open();
  timer.thread.join();
  const Answers a = answers.get();
  EXPECT_TRUE(a.running);
  EXPECT_FALSE(a.paused);
  EXPECT_TRUE(a.scenarioTime);
  EXPECT_EQ(a.seconds, 0);
  EXPECT_FALSE(a.groupTime);
  EXPECT_TRUE(a.scenarioMode);
  EXPECT_EQ(a.mode, CQVVusersServices::RUN_INDEFINITELY);
  EXPECT_FALSE(a.groupMode);
  ASSERT_TRUE(a.stageKnown);
  EXPECT_EQ(a.stage.getCurrActionStage(), STAGE_RUN);
  EXPECT_EQ(a.stage.getNextActionStage(), STAGE_STOP);
  EXPECT_EQ(a.stage.getSecondsToNextStage(), 30);
  EXPECT_EQ(a.stage.getNumberOfVusersInNextBatch(), CQVSchedulerStage::ALL_VUSERS);
}

namespace {

// Holds the thread that writes a given trace until the latch opens; every other record passes.
class HoldingSink : public QVLogSink {
 public:
  HoldingSink(std::string trace, Signal& reached, Latch& latch)
      : trace_(std::move(trace)), reached_(reached), latch_(latch) {}
  void write(const QVLogRecord& record) override {
    if (record.kind != QVLogKind::TraceEnter || record.text != trace_ || held_.exchange(true)) return;
    reached_.raise();
    latch_.wait();
  }

 private:
  std::string trace_;
  Signal& reached_;
  Latch& latch_;
  std::atomic<bool> held_{false};
};

}  // namespace

TEST(Facade, QueriesAnswerDuringALoadOnAnotherThread) {
  ScopedManualClock clock;
  testing::NiceMock<MockHost> host;
  CQVSchedulerFacade::setVusersServices(&host);
  ASSERT_TRUE(CQVSchedulerFacade::setXMLString(runAllGroups(1, false).c_str()));
  std::future<Answers> answers;
  JoinedThread loader;
  Signal building;
  Latch load;
  QVLogger::SetSink(std::make_shared<HoldingSink>("CQVLoadTestSchedulerRunner::addSchedulerRunner", building, load));
  QVLogger::SetEnabled("QVSchedule", true);
  loader.thread = std::thread([] { EXPECT_TRUE(CQVSchedulerFacade::setXMLString(runAllGroups(2, false).c_str())); });
  const bool held = building.waitFor(kAtOnce);  // the load holds the scheduler lock, half done
  if (held) answers = askEveryQuery("g0");
  const bool answered = held && answers.wait_for(kAtOnce) == std::future_status::ready;
  load.open();
  loader.thread.join();
  QVLogger::SetEnabled("QVSchedule", false);
  QVLogger::SetSink(nullptr);
  ASSERT_TRUE(held);
  ASSERT_TRUE(answered) << "a query waited for the load";
  const Answers a = answers.get();
  EXPECT_FALSE(a.groupTime) << "no half-built schedule is seen";
  EXPECT_FALSE(a.groupMode);
  EXPECT_FALSE(a.running);
  CQVVusersServices::RunMode mode = CQVVusersServices::RUN_UNTIL_COMPLETE;
  EXPECT_TRUE(CQVSchedulerFacade::GetGroupRunMode("g1", mode)) << "the whole schedule once loaded";
  CQVSchedulerFacade::stop();
}
