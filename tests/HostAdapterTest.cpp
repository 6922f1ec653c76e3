// Host adapters: what reaches the host and which lines are written for each call.
#include "QVByGroupVusersServicesWrapper.h"
#include "QVByScenarioVusersServicesWrapper.h"
#include "QVVusersServicesBase.h"
#include "ScheduleTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

using testing::Return;
using testing::StrictMock;

TEST(HostAdapter, ByScenarioRunVusersCallsTheHostAndLogsTheCall) {
  ScopedMemoryLog log;
  StrictMock<MockHost> host;
  CQVByScenarioVusersServicesWrapper wrapper;
  wrapper.setVusersServices(&host);
  CQVScenarioContext context;
  EXPECT_CALL(host, runVusers(CQVVusersServices::RUN_INDEFINITELY, 5)).WillOnce(Return(0));
  EXPECT_EQ(wrapper.runVusers(&context, 5), 0);
  EXPECT_EQ((*log).count("CQVVusersServicesWrapper::runVusers of @ SCENARIO @  @ 5 vusers"), 1u);
  EXPECT_EQ((*log).count("SCENARIO @  @ called QVE @ Run @ 5 vusers @ Indefinitely"), 1u);
  EXPECT_EQ((*log).count("SCENARIO @  @ QVE returned status @ succeeded"), 1u);
  const auto traces = (*log).texts("QVSchedule", QVLogKind::TraceEnter);
  EXPECT_NE(std::find(traces.begin(), traces.end(), "CQVVusersServicesWrapper::runVusers"), traces.end());
}

TEST(HostAdapter, ByGroupInitVusersPassesGroupCountAndRunMode) {
  ScopedMemoryLog log;
  StrictMock<MockHost> host;
  CQVByGroupVusersServicesWrapper wrapper;
  wrapper.setVusersServices(&host);
  CQVGroupContext context("G1");
  context.runMode = CQVVusersServices::RUN_UNTIL_COMPLETE;
  EXPECT_CALL(host, initGroupVusers("G1", 3, CQVVusersServices::RUN_UNTIL_COMPLETE)).WillOnce(Return(2));
  EXPECT_EQ(wrapper.initVusers(&context, 3), 2);
  EXPECT_EQ((*log).count("GROUP @ G1 @ called QVE @ Init @ 3 vusers @ RunUntilComplete"), 1u);
  EXPECT_EQ((*log).count("GROUP @ G1 @ QVE returned status @ no more vusers"), 1u);

  // Every other group operation carries the group name.
  EXPECT_CALL(host, initAllGroupVusers("G1", CQVVusersServices::RUN_UNTIL_COMPLETE)).WillOnce(Return(0));
  EXPECT_CALL(host, runAllGroupVusers("G1", CQVVusersServices::RUN_UNTIL_COMPLETE)).WillOnce(Return(0));
  EXPECT_CALL(host, runGroupVusers("G1", CQVVusersServices::RUN_UNTIL_COMPLETE, 4)).WillOnce(Return(0));
  EXPECT_CALL(host, stopAllGroupVusers("G1")).WillOnce(Return(0));
  EXPECT_CALL(host, stopGroupVusers("G1", 6)).WillOnce(Return(0));
  EXPECT_CALL(host, canStartGroupDuration("G1")).WillOnce(Return(0));
  EXPECT_CALL(host, onGroupFinished("G1"));
  wrapper.initAllVusers(&context);
  wrapper.runAllVusers(&context);
  wrapper.runVusers(&context, 4);
  wrapper.stopAllVusers(&context);
  wrapper.stopVusers(&context, 6);
  wrapper.canStartDuration(&context);
  wrapper.notifyGroupFinished(&context);
  // A group schedule is never asked about the scenario's final stage.
  EXPECT_FALSE(wrapper.isInFinalStageOf(&context));
  EXPECT_EQ((*log).count("GROUP @ G1 @ called QVE @ StopAll @  @ "), 1u);
  EXPECT_EQ((*log).count("GROUP @ G1 @ called QVE @ Stop @ 6 vusers @ "), 1u);
  EXPECT_EQ((*log).count("GROUP @ G1 @ called QVE @ CanStartDuration @  @ "), 1u);
  EXPECT_EQ((*log).count("GROUP @ G1 @ called QVE @ InitAll @  @ RunUntilComplete"), 1u);
}

TEST(HostAdapter, StatusWordsAndUnknownStatus) {
  ScopedMemoryLog log;
  StrictMock<MockHost> host;
  CQVByScenarioVusersServicesWrapper wrapper;
  wrapper.setVusersServices(&host);
  CQVScenarioContext context;
  EXPECT_CALL(host, stopAllVusers()).WillOnce(Return(7)).WillOnce(Return(3));
  EXPECT_EQ(wrapper.stopAllVusers(&context), 7);
  EXPECT_EQ((*log).count("SCENARIO @  @ QVE returned status @ "), 1u);
  EXPECT_EQ(wrapper.stopAllVusers(&context), 3);
  EXPECT_EQ((*log).count("SCENARIO @  @ QVE returned status @ abandoned"), 1u);
}

TEST(HostAdapter, DisabledTestLoggerWritesNoStatusLine) {
  ScopedMemoryLog log(/*enableSchedule=*/false, /*enableScheduleTest=*/false);
  testing::NiceMock<MockHost> host;
  CQVByScenarioVusersServicesWrapper wrapper;
  wrapper.setVusersServices(&host);
  CQVScenarioContext context;
  wrapper.runAllVusers(&context);
  EXPECT_TRUE((*log).records().empty());
  QVLogger::SetEnabled("QVSchedule", true);
  wrapper.runAllVusers(&context);
  EXPECT_EQ((*log).count("CQVVusersServicesWrapper::runAllVusers of @ SCENARIO @ "), 1u)
      << "the description is built when either logger is enabled";
  EXPECT_TRUE((*log).texts("QVScheduleTest").empty());
}

TEST(HostAdapter, WithoutHostEveryCallFailsAndNothingIsAsked) {
  ScopedMemoryLog log;
  CQVByScenarioVusersServicesWrapper scenario;
  CQVByGroupVusersServicesWrapper group;
  CQVScenarioContext scenarioContext;
  CQVGroupContext groupContext("g");
  EXPECT_EQ(scenario.runVusers(&scenarioContext, 1), CQVVusersServices::VUSERS_STATUS_FAILED);
  EXPECT_EQ(group.canStartDuration(&groupContext), CQVVusersServices::VUSERS_STATUS_FAILED);
  EXPECT_FALSE(scenario.isInFinalStageOf(&scenarioContext));
  group.notifyGroupFinished(&groupContext);  // nothing to call: no crash
  EXPECT_EQ((*log).count("SCENARIO @  @ QVE returned status @ failed"), 1u);
}

TEST(HostAdapter, HostExceptionIsAFailedCall) {
  ScopedMemoryLog log;
  testing::NiceMock<MockHost> host;
  CQVByScenarioVusersServicesWrapper wrapper;
  wrapper.setVusersServices(&host);
  CQVScenarioContext context;
  ON_CALL(host, runAllVusers(testing::_)).WillByDefault([](CQVVusersServices::RunMode) -> int {
    throw std::runtime_error("pool exhausted");
  });
  ON_CALL(host, isInFinalStage()).WillByDefault([]() -> bool { throw 42; });
  EXPECT_EQ(wrapper.runAllVusers(&context), CQVVusersServices::VUSERS_STATUS_FAILED);
  EXPECT_FALSE(wrapper.isInFinalStageOf(&context));

  // The root runner's notifications go through the same guard.
  ON_CALL(host, onSchedulerPaused()).WillByDefault([] { throw std::runtime_error("pause refused"); });
  ON_CALL(host, onSchedulerResumed()).WillByDefault([] { throw 42; });
  TestSchedule schedule;
  schedule.setHost(&host);
  schedule.start();
  schedule.pause();
  schedule.resume();
  EXPECT_TRUE(schedule.root.isRunning());
  EXPECT_FALSE(schedule.root.isPaused());
  EXPECT_THAT((*log).texts("QVSchedule", QVLogKind::Error),
              testing::ElementsAre(
                  "Host call CQVVusersServicesWrapper::runAllVusers threw an exception: pool exhausted; treated as failed",
                  "Host call CQVVusersServices::isInFinalStage threw an exception: unknown exception; treated as failed",
                  "Host call CQVVusersServices::onSchedulerPaused threw an exception: pause refused; treated as failed",
                  "Host call CQVVusersServices::onSchedulerResumed threw an exception: unknown exception; treated as failed"));
}

// The convenience base: a host that implements only the scenario-wide run gets "failed" and a
// "not supported" error for every group operation it left out.
TEST(HostAdapter, ConvenienceBaseAnswersFailedAndLogsNotSupported) {
  struct ScenarioHost : CQVVusersServicesBase {
    int runVusers(RunMode, long) override { return VUSERS_STATUS_SUCCEEDED; }
  };
  ScopedMemoryLog log;
  ScenarioHost host;
  CQVByScenarioVusersServicesWrapper scenario;
  CQVByGroupVusersServicesWrapper group;
  scenario.setVusersServices(&host);
  group.setVusersServices(&host);
  CQVScenarioContext scenarioContext;
  CQVGroupContext groupContext("g");
  EXPECT_EQ(scenario.runVusers(&scenarioContext, 2), CQVVusersServices::VUSERS_STATUS_SUCCEEDED);
  EXPECT_EQ(group.runVusers(&groupContext, 2), CQVVusersServices::VUSERS_STATUS_FAILED);
  EXPECT_EQ(group.stopAllVusers(&groupContext), CQVVusersServices::VUSERS_STATUS_FAILED);
  EXPECT_FALSE(scenario.isInFinalStageOf(&scenarioContext));
  const std::vector<std::string> expected = {"runGroupVusers not supported by this host",
                                             "stopAllGroupVusers not supported by this host"};
  EXPECT_EQ((*log).texts("QVSchedule", QVLogKind::Error), expected);
}
