// Test helpers for schedules assembled in code: a host that records every call with its time on
// the manual clock, and a schedule (services + root runner) whose actions are numbered and chained
// the way the definition loader does it.
#pragma once

#include "QVByGroupVusersServicesWrapper.h"
#include "QVGroupContext.h"
#include "QVGroupRunner.h"
#include "QVLoadTestSchedulerRunner.h"
#include "QVScenarioContext.h"
#include "QVScenarioRunner.h"
#include "QVSchedBaseBuilder.h"
#include "QVScheduleServices.h"
#include "QVTestSupport.h"
#include "QVVusersServices.h"

#include <gmock/gmock.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A definition of `groups` groups g0, g1, ... that each run all their vusers: all with the
// scenario, or all but the first after the first.
inline std::string runAllGroups(int groups, bool afterTheFirst) {
  std::string xml =
      "<D><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID='1'><Manual>"
      "<SchedulerType>Groups</SchedulerType><Groups><InitAllBeforeStart>false</InitAllBeforeStart>";
  for (int i = 0; i < groups; ++i) {
    xml += "<GroupScheduler><GroupName>g" + std::to_string(i) + "</GroupName><StartupMode>";
    xml += afterTheFirst && i > 0 ? "<StartAfterGroup>g0</StartAfterGroup>" : "<StartAtScenarioBegining/>";
    xml += "</StartupMode><Scheduling><DynamicScheduling><RunAll/></DynamicScheduling></Scheduling></GroupScheduler>";
  }
  return xml + "</Groups></Manual></Scheduler></D>";
}

class MockHost : public CQVVusersServices {
 public:
  MOCK_METHOD(void, onSchedulerFinished, (), (override));
  MOCK_METHOD(void, onSchedulerPaused, (), (override));
  MOCK_METHOD(void, onSchedulerResumed, (), (override));
  MOCK_METHOD(void, onGroupFinished, (const std::string&), (override));
  MOCK_METHOD(int, initAllVusers, (RunMode), (override));
  MOCK_METHOD(int, initVusers, (long, RunMode), (override));
  MOCK_METHOD(int, runAllVusers, (RunMode), (override));
  MOCK_METHOD(int, runVusers, (RunMode, long), (override));
  MOCK_METHOD(int, stopAllVusers, (), (override));
  MOCK_METHOD(int, stopVusers, (long), (override));
  MOCK_METHOD(int, canStartDuration, (), (override));
  MOCK_METHOD(bool, isInFinalStage, (), (override));
  MOCK_METHOD(int, initAllGroupVusers, (const std::string&, RunMode), (override));
  MOCK_METHOD(int, initGroupVusers, (const std::string&, long, RunMode), (override));
  MOCK_METHOD(int, runAllGroupVusers, (const std::string&, RunMode), (override));
  MOCK_METHOD(int, runGroupVusers, (const std::string&, RunMode, long), (override));
  MOCK_METHOD(int, stopAllGroupVusers, (const std::string&), (override));
  MOCK_METHOD(int, stopGroupVusers, (const std::string&, long), (override));
  MOCK_METHOD(int, canStartGroupDuration, (const std::string&), (override));
};

// Records "<seconds since start>s <call>" for every host call (all succeed unless told otherwise
// with ON_CALL/EXPECT_CALL on top).
class RecordingHost : public testing::NiceMock<MockHost> {
 public:
  RecordingHost() : start_(QVNowFileTime()) {
    using testing::_;
    ON_CALL(*this, onSchedulerFinished()).WillByDefault([this] { record("onSchedulerFinished"); });
    ON_CALL(*this, onSchedulerPaused()).WillByDefault([this] { record("onSchedulerPaused"); });
    ON_CALL(*this, onSchedulerResumed()).WillByDefault([this] { record("onSchedulerResumed"); });
    ON_CALL(*this, onGroupFinished(_)).WillByDefault([this](const std::string& g) { record("onGroupFinished " + g); });
    ON_CALL(*this, initAllVusers(_)).WillByDefault([this](RunMode m) { return ok("initAllVusers mode=" + std::to_string(m)); });
    ON_CALL(*this, initVusers(_, _)).WillByDefault([this](long n, RunMode m) {
      return ok("initVusers " + std::to_string(n) + " mode=" + std::to_string(m));
    });
    ON_CALL(*this, runAllVusers(_)).WillByDefault([this](RunMode m) { return ok("runAllVusers mode=" + std::to_string(m)); });
    ON_CALL(*this, runVusers(_, _)).WillByDefault([this](RunMode m, long n) {
      return ok("runVusers " + std::to_string(n) + " mode=" + std::to_string(m));
    });
    ON_CALL(*this, stopAllVusers()).WillByDefault([this] { return ok("stopAllVusers"); });
    ON_CALL(*this, stopVusers(_)).WillByDefault([this](long n) { return ok("stopVusers " + std::to_string(n)); });
    ON_CALL(*this, canStartDuration()).WillByDefault([this] { return ok("canStartDuration"); });
    ON_CALL(*this, isInFinalStage()).WillByDefault([this] {
      record("isInFinalStage");
      return finalStage;
    });
    ON_CALL(*this, initAllGroupVusers(_, _)).WillByDefault([this](const std::string& g, RunMode m) {
      return ok(g + " initAllGroupVusers mode=" + std::to_string(m));
    });
    ON_CALL(*this, initGroupVusers(_, _, _)).WillByDefault([this](const std::string& g, long n, RunMode m) {
      return ok(g + " initGroupVusers " + std::to_string(n) + " mode=" + std::to_string(m));
    });
    ON_CALL(*this, runAllGroupVusers(_, _)).WillByDefault([this](const std::string& g, RunMode m) {
      return ok(g + " runAllGroupVusers mode=" + std::to_string(m));
    });
    ON_CALL(*this, runGroupVusers(_, _, _)).WillByDefault([this](const std::string& g, RunMode m, long n) {
      return ok(g + " runGroupVusers " + std::to_string(n) + " mode=" + std::to_string(m));
    });
    ON_CALL(*this, stopAllGroupVusers(_)).WillByDefault([this](const std::string& g) { return ok(g + " stopAllGroupVusers"); });
    ON_CALL(*this, stopGroupVusers(_, _)).WillByDefault([this](const std::string& g, long n) {
      return ok(g + " stopGroupVusers " + std::to_string(n));
    });
    ON_CALL(*this, canStartGroupDuration(_)).WillByDefault([this](const std::string& g) {
      return ok(g + " canStartGroupDuration");
    });
  }

  // Records a call at the current clock time and answers `status` (0 by default).
  int ok(const std::string& what, int status = 0) {
    record(what);
    return status;
  }
  void record(const std::string& what) {
    const std::uint64_t elapsedMs = (QVNowFileTime() - start_) / QV_FILE_TIME_UNITS_PER_MILLISECOND;
    std::string time = std::to_string(elapsedMs / 1000);
    if (elapsedMs % 1000) time += "." + std::to_string(1000 + elapsedMs % 1000).substr(1);
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(time + "s " + what);
  }
  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  void clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

  bool finalStage = false;

 private:
  std::uint64_t start_;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// Numbers the action after the runner's last one and chains it to that action's finished event,
// with the definition loader's own setup.
template <typename Action>
Action* appendChainedAction(CQVScheduleServices& services, CQVSchedulerRunner* runner, Action* action) {
  const int previous = runner->getActionRunners().empty() ? 0 : runner->getActionRunners().back()->getActionId();
  CQVSchedBaseBuilder::setUpActionRunner(*action, &services, *runner, previous + 1, previous);
  runner->appendActionRunner(action);
  return action;
}

// A schedule assembled in code. The root runner is destroyed (after a stop) before the services.
class TestSchedule {
 public:
  TestSchedule() { root.setServices(&services); }
  ~TestSchedule() { stop(); }

  CQVScenarioRunner* addScenario(CQVVusersServices::RunMode mode = CQVVusersServices::RUN_INDEFINITELY) {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    auto* runner = new CQVScenarioRunner();
    auto* context = new CQVScenarioContext();
    context->runMode = mode;
    runner->setServices(&services);
    runner->setContext(context);
    root.addSchedulerRunner(runner);
    return runner;
  }

  CQVGroupRunner* addGroup(const std::string& name, CQVVusersServices::RunMode mode = CQVVusersServices::RUN_INDEFINITELY) {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    if (!services.isScheduleByGroup()) services.setScheduleByGroup();
    auto* runner = new CQVGroupRunner();
    auto* context = new CQVGroupContext(name);
    context->runMode = mode;
    runner->setServices(&services);
    runner->setContext(context);
    root.addSchedulerRunner(runner);
    return runner;
  }

  template <typename Action>
  Action* add(CQVSchedulerRunner* runner, Action* action) {
    return appendChainedAction(services, runner, action);
  }

  void setHost(CQVVusersServices* host) {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    services.setVusersServices(host);
  }
  bool start() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    return root.start();
  }
  // Starts and runs `then` before any timer or event callback can come.
  template <typename F>
  void startThen(F then) {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    root.start();
    then();
  }
  void stop() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    root.stop();
  }
  void pause() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    if (root.isRunning()) root.pause();
  }
  void resume() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    if (root.isRunning() && root.isPaused()) root.resume();
  }

  std::size_t runnerCount() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    return root.getSchedulerRunners().size();
  }
  // The log name of the first scheduler runner in the root's order.
  std::string firstRunnerName() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    return root.getSchedulerRunners().front()->getContext()->getLogName();
  }

  CQVScheduleServices services;
  CQVLoadTestSchedulerRunner root;
};
