// The start handshake of runners: permission and start condition, in either order, start once.
#include "QVBaseRunner.h"
#include "QVEventsManager.h"
#include "QVHostEventDefs.h"
#include "QVRampDownVusersActionRunner.h"
#include "QVRampUpAllVusersActionRunner.h"
#include "QVRampUpVusersActionRunner.h"
#include "QVScheduleServices.h"
#include "QVScheduler.h"
#include "QVTestSupport.h"
#include "ScheduleTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

namespace {

class CountingRunner : public CQVBaseRunner {
 public:
  bool start() override {
    ++starts;
    startedOnTimerThread = services->getEventsManager()->getTimer().isTimerThread();
    return true;
  }
  void onTimeArrived(CQVBaseRunnerTimeHandler* handler) override { otherTimes.push_back(handler); }
  int starts = 0;
  bool startedOnTimerThread = false;
  std::vector<CQVBaseRunnerTimeHandler*> otherTimes;
};

struct Fixture {
  ScopedManualClock clock;
  CQVScheduleServices services;
  CountingRunner runner;
  Fixture() { runner.setServices(&services); }
  ~Fixture() { runner.unregisterOnEvents(); }
  void raise(const CQVEventDef& def) {
    CQVEventsManager::instance()->notifyOnEvent(def);
    clock->settle();
  }
};

}  // namespace

TEST(BaseRunner, WithoutEventsStartsOnTheZeroDelayCallbackNeverInsideRegistration) {
  Fixture f;
  // Under the scheduler lock the zero-delay callback cannot come in between.
  {
    const CQVSchedulerLockGuard lock(f.services.getSchedulerLock());
    f.runner.registerOnStartCondition();
    EXPECT_EQ(f.runner.starts, 0);
    f.runner.mayStart();
    EXPECT_EQ(f.runner.getRunState(), CQVBaseRunner::MAY_START);
  }
  f.clock->settle();
  EXPECT_EQ(f.runner.starts, 1);
  EXPECT_TRUE(f.runner.startedOnTimerThread);
  EXPECT_EQ(f.runner.getRunState(), CQVBaseRunner::RUNNING);
  {
    const CQVSchedulerLockGuard lock(f.services.getSchedulerLock());
    f.runner.mayStart();
  }
  EXPECT_EQ(f.runner.starts, 1);
}

TEST(BaseRunner, ZeroDelayCallbackFirstThenStartsInsideMayStart) {
  Fixture f;
  {
    const CQVSchedulerLockGuard lock(f.services.getSchedulerLock());
    f.runner.registerOnStartCondition();
  }
  f.clock->settle();
  EXPECT_EQ(f.runner.getRunState(), CQVBaseRunner::START_CONDITION_MET);
  {
    const CQVSchedulerLockGuard lock(f.services.getSchedulerLock());
    f.runner.mayStart();
  }
  EXPECT_EQ(f.runner.starts, 1);
  EXPECT_FALSE(f.runner.startedOnTimerThread);
}

TEST(BaseRunner, TwoStartEventsAreBothNeededAndRepeatsDoNothing) {
  Fixture f;
  f.runner.addStartConditionEvent(CQVGroupFinishedRunningEventDef("a"));
  f.runner.addStartConditionEvent(CQVScenarioAllVusersInitEventDef());
  {
    const CQVSchedulerLockGuard lock(f.services.getSchedulerLock());
    f.runner.registerOnStartCondition();
    f.runner.mayStart();
    f.runner.mayStart();
  }
  EXPECT_EQ(f.runner.getRunState(), CQVBaseRunner::MAY_START);
  f.raise(CQVScenarioAllVusersInitEventDef());
  f.raise(CQVScenarioAllVusersInitEventDef());
  f.raise(CQVGroupFinishedRunningEventDef("b"));
  EXPECT_EQ(f.runner.starts, 0);
  f.raise(CQVGroupFinishedRunningEventDef("a"));
  EXPECT_EQ(f.runner.starts, 1);
  f.raise(CQVGroupFinishedRunningEventDef("a"));
  EXPECT_EQ(f.runner.starts, 1);
}

TEST(BaseRunner, StoppedRunnerRegistersNothingAndDetachedHandlersIgnoreEvents) {
  Fixture f;
  f.runner.addStartConditionEvent(CQVGroupFinishedRunningEventDef("a"));
  f.runner.setRunState(CQVBaseRunner::STOPPED);
  CQVBaseRunnerTimeHandler handler(&f.runner);
  {
    const CQVSchedulerLockGuard lock(f.services.getSchedulerLock());
    f.runner.registerOnStartCondition();
    EXPECT_TRUE(f.runner.registerOnRelativeTime(0, &handler));
  }
  CQVSchedulerEventsManager* manager = f.services.getEventsManager();
  EXPECT_EQ(manager->getTimer().registrationCount(), 0u);
  EXPECT_EQ(CQVEventsManager::instance()->registrationCount(manager), 0);

  Fixture g;
  g.runner.addStartConditionEvent(CQVGroupFinishedRunningEventDef("a"));
  {
    const CQVSchedulerLockGuard lock(g.services.getSchedulerLock());
    g.runner.registerOnStartCondition();
    g.runner.mayStart();
    g.runner.unregisterOnEvents();
  }
  g.raise(CQVGroupFinishedRunningEventDef("a"));
  EXPECT_EQ(g.runner.starts, 0);
  EXPECT_EQ(CQVEventsManager::instance()->registrationCount(g.services.getEventsManager()), 0);
}

TEST(BaseRunner, OtherTimeHandlersGoToOnTimeArrived) {
  Fixture f;
  f.runner.addStartConditionEvent(CQVGroupFinishedRunningEventDef("a"));
  CQVBaseRunnerTimeHandler handler(&f.runner);
  {
    const CQVSchedulerLockGuard lock(f.services.getSchedulerLock());
    f.runner.registerOnStartCondition();
    f.runner.mayStart();
    f.runner.registerOnRelativeTime(3, &handler);
  }
  f.clock->advance(std::chrono::seconds(3));
  ASSERT_EQ(f.runner.otherTimes.size(), 1u);
  EXPECT_EQ(f.runner.otherTimes[0], &handler);
  EXPECT_EQ(f.runner.getRunState(), CQVBaseRunner::MAY_START);
}

TEST(BaseRunner, OperationsTraceEnterAndExitWithTheirSourceFile) {
  ScopedMemoryLog log;
  struct PlainRunner : CQVBaseRunner {
    bool start() override { return true; }
  } runner;
  QVCriticalSection* const none = nullptr;  // no services: no scheduler lock to take
  const CQVSchedulerLockGuard lock(none);
  runner.startToRun();  // the base's beforeStartRunning
  runner.stopRunning();
  CQVBaseRunnerTimeHandler timeHandler(&runner);
  runner.onTime(&timeHandler);  // not the start-condition handler: onTimeArrived
  const CQVGroupFinishedRunningEventDef def("a");
  CQVBaseRunnerEventHandler eventHandler(def, &runner);
  runner.onEvent(def, &eventHandler);  // not a start-condition handler: onEventArrived
  delete new CQVRampUpVusersActionRunner();
  delete new CQVRampDownVusersActionRunner();
  delete new CQVRampUpAllVusersActionRunner();
  static testing::NiceMock<MockHost> host;
  CQVScheduler::getInstance()->setVusersServices(&host);

  const struct {
    const char* function;
    const char* file;
  } expected[] = {
      {"CQVBaseRunner::beforeStartRunning", ".\\src\\QVBaseRunner.cpp"},
      {"CQVBaseRunner::stopRunning", ".\\src\\QVBaseRunner.cpp"},
      {"CQVBaseRunner::onTimeArrived", ".\\src\\QVBaseRunner.cpp"},
      {"CQVBaseRunner::onEventArrived", ".\\src\\QVBaseRunner.cpp"},
      {"CQVRampVusersActionRunner::~CQVRampVusersActionRunner", ".\\src\\QVRampVusersActionRunner.cpp"},
      {"CQVRampUpVusersActionRunner::~CQVRampUpVusersActionRunner", ".\\src\\QVRampUpVusersActionRunner.cpp"},
      {"CQVRampDownVusersActionRunner::~CQVRampDownVusersActionRunner", ".\\src\\QVRampDownVusersActionRunner.cpp"},
      {"CQVBaseRampAllVusersActionRunner::CQVBaseRampAllVusersActionRunner",
       ".\\src\\QVBaseRampAllVusersActionRunner.cpp"},
      {"CQVBaseRampAllVusersActionRunner::~CQVBaseRampAllVusersActionRunner",
       ".\\src\\QVBaseRampAllVusersActionRunner.cpp"},
      {"CQVScheduler::setVusersServices", ".\\src\\QVScheduler.cpp"},
  };
  const std::vector<QVLogRecord> records = log->records();
  for (const auto& row : expected) {
    SCOPED_TRACE(row.function);
    for (QVLogKind kind : {QVLogKind::TraceEnter, QVLogKind::TraceExit}) {
      const bool found = std::any_of(records.begin(), records.end(), [&](const QVLogRecord& r) {
        return r.logger == "QVSchedule" && r.kind == kind && r.text == row.function && r.file == row.file;
      });
      EXPECT_TRUE(found) << QVLogKindName(kind);
    }
  }
}
