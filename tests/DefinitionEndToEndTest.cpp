// Definitions from tests/data/ loaded through the facade and run on the manual clock against a
// mock host: which host calls come when.
#include "QVEventsManager.h"
#include "QVHostEventDefs.h"
#include "QVSchedulerFacade.h"
#include "QVTestSupport.h"
#include "QVVusersServices.h"
#include "ScheduleTestSupport.h"

#include <algorithm>
#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using testing::_;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::UnorderedElementsAre;

namespace {

std::string dataPath(const std::string& name) { return std::string(QV_TEST_DATA_DIR) + "/" + name; }

// Writes down every call as "<seconds since construction>s <call>" and answers success, unless a
// test sets other answers.
class RecordingHostMock : public testing::NiceMock<MockHost> {
 public:
  RecordingHostMock() : start_(QVNowFileTime()) {
    ON_CALL(*this, onSchedulerFinished()).WillByDefault([this] { record("onSchedulerFinished"); });
    ON_CALL(*this, onGroupFinished(_)).WillByDefault([this](const std::string& g) { record("onGroupFinished " + g); });
    ON_CALL(*this, runVusers(_, _)).WillByDefault([this](RunMode m, long n) {
      return answer("runVusers " + std::to_string(n) + " mode=" + std::to_string(m));
    });
    ON_CALL(*this, stopAllVusers()).WillByDefault([this] { return answer("stopAllVusers"); });
    ON_CALL(*this, canStartDuration()).WillByDefault([this] { return answer("canStartDuration"); });
    ON_CALL(*this, initAllGroupVusers(_, _)).WillByDefault([this](const std::string& g, RunMode m) {
      return answer(g + " initAllGroupVusers mode=" + std::to_string(m));
    });
    ON_CALL(*this, initGroupVusers(_, _, _)).WillByDefault([this](const std::string& g, long n, RunMode m) {
      return answer(g + " initGroupVusers " + std::to_string(n) + " mode=" + std::to_string(m));
    });
    ON_CALL(*this, runAllGroupVusers(_, _)).WillByDefault([this](const std::string& g, RunMode m) {
      return answer(g + " runAllGroupVusers mode=" + std::to_string(m));
    });
    ON_CALL(*this, runGroupVusers(_, _, _)).WillByDefault([this](const std::string& g, RunMode m, long n) {
      return answer(g + " runGroupVusers " + std::to_string(n) + " mode=" + std::to_string(m));
    });
    ON_CALL(*this, stopAllGroupVusers(_)).WillByDefault([this](const std::string& g) {
      return answer(g + " stopAllGroupVusers");
    });
    ON_CALL(*this, canStartGroupDuration(_)).WillByDefault([this](const std::string& g) {
      return answer(g + " canStartGroupDuration");
    });
  }

  // Records the call and answers `status`.
  int answer(const std::string& what, int status = VUSERS_STATUS_SUCCEEDED) {
    record(what);
    return status;
  }
  void record(const std::string& what) {
    const std::uint64_t seconds = (QVNowFileTime() - start_) / QV_FILE_TIME_UNITS_PER_SECOND;
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::to_string(seconds) + "s " + what);
  }
  // Calls recorded since the last take.
  std::vector<std::string> takeCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> taken;
    taken.swap(calls_);
    return taken;
  }

 private:
  std::uint64_t start_;
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

// Left with the facade after each test, so that it never keeps a pointer to a destroyed host.
class IdleHost : public CQVVusersServices {
 public:
  void onSchedulerFinished() override {}
  void onSchedulerPaused() override {}
  void onSchedulerResumed() override {}
  void onGroupFinished(const std::string&) override {}
  int initAllVusers(RunMode) override { return VUSERS_STATUS_FAILED; }
  int initVusers(long, RunMode) override { return VUSERS_STATUS_FAILED; }
  int runAllVusers(RunMode) override { return VUSERS_STATUS_FAILED; }
  int runVusers(RunMode, long) override { return VUSERS_STATUS_FAILED; }
  int stopAllVusers() override { return VUSERS_STATUS_FAILED; }
  int stopVusers(long) override { return VUSERS_STATUS_FAILED; }
  int canStartDuration() override { return VUSERS_STATUS_FAILED; }
  bool isInFinalStage() override { return false; }
  int initAllGroupVusers(const std::string&, RunMode) override { return VUSERS_STATUS_FAILED; }
  int initGroupVusers(const std::string&, long, RunMode) override { return VUSERS_STATUS_FAILED; }
  int runAllGroupVusers(const std::string&, RunMode) override { return VUSERS_STATUS_FAILED; }
  int runGroupVusers(const std::string&, RunMode, long) override { return VUSERS_STATUS_FAILED; }
  int stopAllGroupVusers(const std::string&) override { return VUSERS_STATUS_FAILED; }
  int stopGroupVusers(const std::string&, long) override { return VUSERS_STATUS_FAILED; }
  int canStartGroupDuration(const std::string&) override { return VUSERS_STATUS_FAILED; }
};

class DefinitionEndToEnd : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CQVSchedulerFacade::setVusersServices(&host)); }
  void TearDown() override {
    CQVSchedulerFacade::stop();
    static IdleHost idle;
    CQVSchedulerFacade::setVusersServices(&idle);
  }

  void load(const char* file) {
    ASSERT_TRUE(CQVSchedulerFacade::setXMLFile(dataPath(file).c_str()));
    ASSERT_THAT(log->texts("QVSchedule", QVLogKind::Error), IsEmpty());
  }

  ScopedManualClock clock;
  ScopedMemoryLog log;
  RecordingHostMock host;
};

}  // namespace

TEST_F(DefinitionEndToEnd, TypicalRoadOfAGlobalDefinition) {
  load("global_typical_road.xml");
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  ASSERT_TRUE(CQVSchedulerFacade::start());

  clock->advance(100s);
  EXPECT_THAT(host.takeCalls(), ElementsAre("0s runVusers 3 mode=1", "15s runVusers 3 mode=1", "30s runVusers 3 mode=1",
                                            "45s runVusers 1 mode=1", "45s canStartDuration"));
  EXPECT_TRUE(CQVSchedulerFacade::isRunning());

  clock->advance(100s);
  EXPECT_THAT(host.takeCalls(), ElementsAre("105s stopAllVusers", "105s onSchedulerFinished"));
  EXPECT_FALSE(CQVSchedulerFacade::isRunning());
}

TEST_F(DefinitionEndToEnd, GroupsExample) {
  load("groups_example.xml");
  // The host has no more vusers for the third batch of each ramp.
  int initBatches = 0;
  ON_CALL(host, initGroupVusers(_, _, _))
      .WillByDefault([&](const std::string& g, long n, CQVVusersServices::RunMode m) {
        return host.answer(g + " initGroupVusers " + std::to_string(n) + " mode=" + std::to_string(m),
                           ++initBatches == 3 ? CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS : 0);
      });
  int runBatches = 0;
  ON_CALL(host, runGroupVusers(_, _, _)).WillByDefault([&](const std::string& g, CQVVusersServices::RunMode m, long n) {
    return host.answer(g + " runGroupVusers " + std::to_string(n) + " mode=" + std::to_string(m),
                       ++runBatches == 3 ? CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS : 0);
  });
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  ASSERT_TRUE(CQVSchedulerFacade::start());

  // g1 initializes in batches and then waits for the host's word that all its vusers are ready;
  // g2 waits for g1.
  clock->advance(25s);
  EXPECT_THAT(host.takeCalls(), ElementsAre("0s g1 initGroupVusers 5 mode=1", "10s g1 initGroupVusers 5 mode=1",
                                            "20s g1 initGroupVusers 5 mode=1"));

  CQVEventsManager::instance()->notifyOnEvent(CQVGroupAllVusersInitEventDef("g1"));
  clock->advance(335s);
  EXPECT_THAT(host.takeCalls(), ElementsAre("25s g1 runGroupVusers 2 mode=1", "40s g1 runGroupVusers 2 mode=1",
                                            "55s g1 runGroupVusers 2 mode=1", "55s g1 canStartGroupDuration",
                                            "355s g1 stopAllGroupVusers", "355s onGroupFinished g1"));
  EXPECT_TRUE(CQVSchedulerFacade::isRunning());

  CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef("g1"));
  clock->settle();
  EXPECT_THAT(host.takeCalls(),
              ElementsAre("360s g2 runAllGroupVusers mode=0", "360s onGroupFinished g2", "360s onSchedulerFinished"));
  EXPECT_FALSE(CQVSchedulerFacade::isRunning());
}

TEST_F(DefinitionEndToEnd, GroupsInitializeAllBeforeTheyStart) {
  load("groups_init_all_before_start.xml");
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  ASSERT_TRUE(CQVSchedulerFacade::start());

  clock->advance(10s);
  EXPECT_THAT(host.takeCalls(),
              UnorderedElementsAre("0s early initAllGroupVusers mode=1", "0s late initAllGroupVusers mode=0",
                                   "0s follower initAllGroupVusers mode=0"));

  // Every group is initialized; still everyone waits for the whole scenario.
  for (const char* group : {"early", "late", "follower"}) {
    CQVEventsManager::instance()->notifyOnEvent(CQVGroupAllVusersInitEventDef(group));
  }
  clock->advance(10s);
  EXPECT_THAT(host.takeCalls(), IsEmpty());

  CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
  clock->settle();
  EXPECT_THAT(host.takeCalls(),
              UnorderedElementsAre("20s early runAllGroupVusers mode=1", "20s early canStartGroupDuration",
                                   "20s late canStartGroupDuration"));

  clock->advance(40s);
  EXPECT_THAT(host.takeCalls(), ElementsAre("50s early stopAllGroupVusers", "50s onGroupFinished early"));

  CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef("early"));
  clock->advance(10s);
  EXPECT_THAT(host.takeCalls(), ElementsAre("60s follower runAllGroupVusers mode=0", "60s onGroupFinished follower"));
  // The start delay of "late" runs from 20 s to 80 s; its run time counts from its end.
  long runTime = -1;
  EXPECT_TRUE(CQVSchedulerFacade::getGroupRunTime("late", runTime));
  EXPECT_EQ(runTime, 0);

  clock->advance(20s);
  EXPECT_THAT(host.takeCalls(),
              ElementsAre("80s late runAllGroupVusers mode=0", "80s onGroupFinished late", "80s onSchedulerFinished"));
  EXPECT_TRUE(CQVSchedulerFacade::getGroupRunTime("late", runTime));
  EXPECT_EQ(runTime, 10);
  EXPECT_FALSE(CQVSchedulerFacade::isRunning());
}

TEST_F(DefinitionEndToEnd, GroupsAfterAFailedGroupFailToo) {
  load("groups_failing_predecessor.xml");
  ON_CALL(host, runAllGroupVusers("g1", _)).WillByDefault([&](const std::string&, CQVVusersServices::RunMode m) {
    return host.answer("g1 runAllGroupVusers mode=" + std::to_string(m), CQVVusersServices::VUSERS_STATUS_FAILED);
  });
  EXPECT_CALL(host, onGroupFinished(_)).Times(0);
  EXPECT_CALL(host, onGroupFinished("g4")).Times(1);
  EXPECT_CALL(host, runAllGroupVusers(_, _)).Times(testing::AnyNumber());
  EXPECT_CALL(host, runAllGroupVusers("g2", _)).Times(0);
  EXPECT_CALL(host, runAllGroupVusers("g3", _)).Times(0);
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  ASSERT_TRUE(CQVSchedulerFacade::start());

  clock->advance(29s);
  // g1 fails at once, and so do g2 (after g1) and g3 (after g2); g4 goes on alone.
  EXPECT_THAT(host.takeCalls(), UnorderedElementsAre("0s g1 runAllGroupVusers mode=1", "0s g4 runGroupVusers 3 mode=1",
                                                     "0s g4 canStartGroupDuration"));
  EXPECT_TRUE(CQVSchedulerFacade::isRunning());

  clock->advance(10s);
  EXPECT_THAT(host.takeCalls(),
              ElementsAre("30s g4 stopAllGroupVusers", "30s onGroupFinished g4", "30s onSchedulerFinished"));
  EXPECT_FALSE(CQVSchedulerFacade::isRunning());
}
