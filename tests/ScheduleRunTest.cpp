// Schedules assembled in code, run against a recording host on the manual clock.
#include "QVInitAllVusersActionRunner.h"
#include "QVInitRampUpAllVusersActionRunner.h"
#include "QVRampDownAllVusersActionRunner.h"
#include "QVRampUpAllVusersActionRunner.h"
#include "QVRampUpVusersActionRunner.h"
#include "QVRunAllVusersActionRunner.h"
#include "QVRunDurationActionRunner.h"
#include "QVRunVusersActionRunner.h"
#include "QVStopAllVusersActionRunner.h"
#include "QVStopVusersActionRunner.h"
#include "QVEventsManager.h"
#include "QVHostEventDefs.h"
#include "ScheduleTestSupport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

CQVRampUpVusersActionRunner* rampUp(int total, int batch, int interval) {
  auto* action = new CQVRampUpVusersActionRunner();
  action->setBatchData(batch, interval, total);
  return action;
}

CQVRunDurationActionRunner* duration(int seconds, bool preRun = false) {
  auto* action = new CQVRunDurationActionRunner(preRun);
  action->setDurationSeconds(seconds);
  return action;
}

// RampUp 10 in batches of 3 every 15 s, Duration 60, StopAll.
CQVScenarioRunner* typicalRoad(TestSchedule& schedule, CQVVusersServices::RunMode mode = CQVVusersServices::RUN_INDEFINITELY) {
  CQVScenarioRunner* scenario = schedule.addScenario(mode);
  schedule.add(scenario, rampUp(10, 3, 15));
  schedule.add(scenario, duration(60));
  schedule.add(scenario, new CQVStopAllVusersActionRunner());
  return scenario;
}

}  // namespace

TEST(ScheduleRun, TypicalRoad) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  typicalRoad(schedule);
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);

  schedule.start();
  clock->settle();
  EXPECT_TRUE(schedule.root.isRunning());
  clock->advance(200s);
  EXPECT_THAT(host.calls(), ElementsAre("0s runVusers 3 mode=1", "15s runVusers 3 mode=1", "30s runVusers 3 mode=1",
                                        "45s runVusers 1 mode=1", "45s canStartDuration", "105s stopAllVusers",
                                        "105s onSchedulerFinished"));
  EXPECT_FALSE(schedule.root.isRunning());
}

TEST(ScheduleRun, PauseMovesEveryLaterCallByThePausedSpan) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = typicalRoad(schedule);

  schedule.start();
  clock->advance(20s);  // inside the ramp, 10 s before its third batch
  long runTime = -1;
  EXPECT_TRUE(schedule.root.getRunTime(CQVScenarioContext(), runTime));
  EXPECT_EQ(runTime, 20);
  schedule.pause();
  clock->advance(30s);
  EXPECT_TRUE(schedule.root.getRunTime(CQVScenarioContext(), runTime));
  EXPECT_EQ(runTime, 20) << "run time stands still while paused";
  schedule.resume();
  clock->advance(60s);  // t = 110: 3rd batch at 60, 4th at 75, duration from 75 to 135
  EXPECT_TRUE(schedule.root.getRunTime(CQVScenarioContext(), runTime));
  EXPECT_EQ(runTime, 80);
  schedule.pause();  // in the middle of the duration (25 s left)
  clock->advance(100s);
  schedule.resume();
  clock->advance(100s);
  EXPECT_THAT(host.calls(), ElementsAre("0s runVusers 3 mode=1", "15s runVusers 3 mode=1", "20s onSchedulerPaused",
                                        "50s onSchedulerResumed", "60s runVusers 3 mode=1", "75s runVusers 1 mode=1",
                                        "75s canStartDuration", "110s onSchedulerPaused", "210s onSchedulerResumed",
                                        "235s stopAllVusers", "235s onSchedulerFinished"));
  EXPECT_EQ(scenario->getRunState(), CQVBaseRunner::FINISHED);
}

TEST(ScheduleRun, StageRecordAlongTheTypicalRoad) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = typicalRoad(schedule, CQVVusersServices::RUN_UNTIL_COMPLETE);
  CQVSchedulerStage stage;
  EXPECT_FALSE(scenario->computeSchedulerStage(stage)) << "nothing started yet";

  schedule.start();
  clock->advance(5s);
  ASSERT_TRUE(scenario->computeSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_RAMP_UP);
  EXPECT_EQ(stage.getNextActionStage(), STAGE_RAMP_UP);
  EXPECT_EQ(stage.getSecondsToNextStage(), 10);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), 3);
  EXPECT_TRUE(stage.hasNextStage());

  clock->advance(30s);  // t = 35: the fourth batch (1 vuser) comes at 45
  ASSERT_TRUE(scenario->computeSchedulerStage(stage));
  EXPECT_EQ(stage.getSecondsToNextStage(), 10);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), 1);

  clock->advance(15s);  // t = 50: duration running, StopAll next in 55 s
  ASSERT_TRUE(scenario->computeSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_DURATION);
  EXPECT_EQ(stage.getNextActionStage(), STAGE_STOP);
  EXPECT_EQ(stage.getSecondsToNextStage(), 55);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), CQVSchedulerStage::ALL_VUSERS);

  clock->advance(100s);  // all done
  host.finalStage = false;
  CQVSchedulerStage untouched;
  EXPECT_FALSE(scenario->computeSchedulerStage(untouched));
  host.finalStage = true;
  ASSERT_TRUE(scenario->computeSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_RUN_UNTIL_COMPLETE);
  EXPECT_FALSE(stage.hasNextStage());
}

TEST(ScheduleRun, LastRampBatchBeforeDurationAndStopAll) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = schedule.addScenario();
  // RampUp 6 in batches of 3 every 15 s: the second batch is the last one.
  schedule.add(scenario, rampUp(6, 3, 15));
  schedule.add(scenario, duration(60));
  schedule.add(scenario, new CQVStopAllVusersActionRunner());
  schedule.start();
  clock->advance(1s);
  CQVSchedulerStage stage;
  ASSERT_TRUE(scenario->computeSchedulerStage(stage));
  EXPECT_EQ(stage.getNextActionStage(), STAGE_RAMP_UP);
  clock->advance(14s);  // second and last batch issued; the ramp finished, duration running
  ASSERT_TRUE(scenario->computeSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_DURATION);
  EXPECT_EQ(stage.getSecondsToNextStage(), 60);
  EXPECT_EQ(stage.getNextActionStage(), STAGE_STOP);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), -999);
  // Run mode 1 after the last action: running indefinitely, if the host says it is in its final stage.
  clock->advance(61s);
  host.finalStage = true;
  ASSERT_TRUE(scenario->computeSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_RUN_INDEFINITELY);
  EXPECT_FALSE(stage.hasNextStage());
}
