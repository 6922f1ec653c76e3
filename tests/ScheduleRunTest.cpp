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
#include "QVSchedulerRunnerFailedEventDef.h"
#include "QVScenarioActionRunnerFailedEventDef.h"
#include "QVScenarioActionRunnerFinishedEventDef.h"
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

TEST(ScheduleRun, TimerThreadTheSystemRefusesIsAnErrorAndTheScheduleDoesNotStart) {
  ScopedManualClock clock;
  ScopedMemoryLog log(false, false);
  RecordingHost host;
  QVFailNextThreadStarts(2);  // the timer's thread at construction, and again at the first start
  TestSchedule schedule;
  schedule.setHost(&host);
  typicalRoad(schedule);
  EXPECT_FALSE(schedule.start());
  EXPECT_FALSE(schedule.root.isRunning());
  clock->advance(200s);
  EXPECT_TRUE(host.calls().empty());
  const std::string refused = "CQVTimer::init - the timer thread could not be started: QVThread: Resource temporarily unavailable";
  EXPECT_THAT(log->texts("QVSchedule", QVLogKind::Error),
              ElementsAre(refused, refused, "CQVLoadTestSchedulerRunner::start - no timer thread runs; the schedule is not started"));

  // The next start tries again, and the schedule runs.
  EXPECT_TRUE(schedule.start());
  clock->advance(200s);
  EXPECT_EQ(host.calls().size(), 7u);
  EXPECT_EQ(host.calls().back(), "305s onSchedulerFinished");
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
  typicalRoad(schedule, CQVVusersServices::RUN_UNTIL_COMPLETE);
  CQVSchedulerStage stage;
  EXPECT_FALSE(schedule.root.getSchedulerStage(stage)) << "nothing started yet";

  schedule.start();
  clock->advance(5s);
  ASSERT_TRUE(schedule.root.getSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_RAMP_UP);
  EXPECT_EQ(stage.getNextActionStage(), STAGE_RAMP_UP);
  EXPECT_EQ(stage.getSecondsToNextStage(), 10);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), 3);
  EXPECT_TRUE(stage.hasNextStage());

  clock->advance(30s);  // t = 35: the fourth batch (1 vuser) comes at 45
  ASSERT_TRUE(schedule.root.getSchedulerStage(stage));
  EXPECT_EQ(stage.getSecondsToNextStage(), 10);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), 1);

  clock->advance(15s);  // t = 50: duration running, StopAll next in 55 s
  ASSERT_TRUE(schedule.root.getSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_DURATION);
  EXPECT_EQ(stage.getNextActionStage(), STAGE_STOP);
  EXPECT_EQ(stage.getSecondsToNextStage(), 55);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), CQVSchedulerStage::ALL_VUSERS);

  clock->advance(100s);  // all done
  host.finalStage = false;
  CQVSchedulerStage untouched;
  EXPECT_FALSE(schedule.root.getSchedulerStage(untouched));
  host.finalStage = true;
  ASSERT_TRUE(schedule.root.getSchedulerStage(stage));
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
  ASSERT_TRUE(schedule.root.getSchedulerStage(stage));
  EXPECT_EQ(stage.getNextActionStage(), STAGE_RAMP_UP);
  clock->advance(14s);  // second and last batch issued; the ramp finished, duration running
  ASSERT_TRUE(schedule.root.getSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_DURATION);
  EXPECT_EQ(stage.getSecondsToNextStage(), 60);
  EXPECT_EQ(stage.getNextActionStage(), STAGE_STOP);
  EXPECT_EQ(stage.getNumberOfVusersInNextBatch(), -999);
  // Run mode 1 after the last action: running indefinitely, if the host says it is in its final stage.
  clock->advance(61s);
  host.finalStage = true;
  ASSERT_TRUE(schedule.root.getSchedulerStage(stage));
  EXPECT_EQ(stage.getCurrActionStage(), STAGE_RUN_INDEFINITELY);
  EXPECT_FALSE(stage.hasNextStage());
}

namespace {

// Records the scheduler events announced on a schedule's events manager.
class EventRecorder : public CQVEventHandler {
 public:
  explicit EventRecorder(CQVSchedulerEventsManager* manager) : manager_(manager) {}
  ~EventRecorder() override {
    for (auto& def : defs_) manager_->unregisterOnEvent(*def, this);
  }
  void listen(const CQVEventDef& def) {
    defs_.emplace_back(def.clone());
    manager_->registerOnEvent(def, this);
  }
  void onEvent(const CQVEventDef& def) override { seen.push_back(def.toString()); }
  void setUnregisteredFromEvent(const CQVEventDef&, long) override {}
  std::string getName() const override { return "EventRecorder"; }

  std::vector<std::string> seen;

 private:
  CQVSchedulerEventsManager* manager_;
  std::vector<std::unique_ptr<CQVEventDef>> defs_;
};

CQVRampUpAllVusersActionRunner* rampUpAll(int batch, int interval) {
  auto* action = new CQVRampUpAllVusersActionRunner();
  action->setBatchData(batch, interval);
  return action;
}

}  // namespace

TEST(ScheduleRun, FailingFirstRampBatchSendsFinishedThenFailed) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = schedule.addScenario();
  CQVActionRunner* ramp = schedule.add(scenario, rampUp(10, 3, 15));
  schedule.add(scenario, new CQVStopAllVusersActionRunner());
  EXPECT_CALL(host, runVusers(testing::_, testing::_)).WillOnce(testing::Return(CQVVusersServices::VUSERS_STATUS_FAILED));
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  // The recorder registers after start (start resets the events manager), before the first
  // callback (the scheduler lock is held).
  EventRecorder recorder(schedule.services.getEventsManager());
  schedule.startThen([&] {
    recorder.listen(CQVScenarioActionRunnerFinishedEventDef(1));
    recorder.listen(CQVScenarioActionRunnerFailedEventDef());
  });
  clock->advance(60s);
  EXPECT_THAT(recorder.seen, ElementsAre("CQVScenarioActionRunnerFinishedEventDef: actionId = 1",
                                         "CQVScenarioActionRunnerFailedEventDef"));
  EXPECT_EQ(ramp->getRunState(), CQVBaseRunner::FAILED);
  EXPECT_EQ(scenario->getRunState(), CQVBaseRunner::FAILED);
  EXPECT_FALSE(schedule.root.isRunning());
}

TEST(ScheduleRun, FailingLaterRampBatchOnlyFinishesTheRamp) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = schedule.addScenario();
  CQVActionRunner* ramp = schedule.add(scenario, rampUp(10, 3, 15));
  schedule.add(scenario, new CQVStopAllVusersActionRunner());
  EXPECT_CALL(host, runVusers(testing::_, testing::_))
      .WillOnce(testing::Return(0))
      .WillOnce(testing::Return(CQVVusersServices::VUSERS_STATUS_ABANDONED));
  EventRecorder recorder(schedule.services.getEventsManager());
  schedule.startThen([&] {
    recorder.listen(CQVScenarioActionRunnerFinishedEventDef(1));
    recorder.listen(CQVScenarioActionRunnerFailedEventDef());
  });
  clock->advance(60s);
  EXPECT_THAT(recorder.seen, ElementsAre("CQVScenarioActionRunnerFinishedEventDef: actionId = 1"));
  EXPECT_EQ(ramp->getRunState(), CQVBaseRunner::FINISHED);
  EXPECT_THAT(host.calls(), ElementsAre("15s stopAllVusers", "15s onSchedulerFinished"));
  EXPECT_EQ(scenario->getRunState(), CQVBaseRunner::FINISHED);
}

TEST(ScheduleRun, RampUpAllEndsWhenTheHostHasNoMoreVusers) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = schedule.addScenario();
  CQVActionRunner* ramp = schedule.add(scenario, rampUpAll(2, 10));
  schedule.add(scenario, new CQVStopAllVusersActionRunner());
  int calls = 0;
  ON_CALL(host, runVusers(testing::_, testing::_)).WillByDefault([&](CQVVusersServices::RunMode, long n) {
    host.record("runVusers " + std::to_string(n));
    return ++calls == 3 ? CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS : 0;
  });
  schedule.start();
  clock->advance(15s);
  int next = 0;
  EXPECT_TRUE(ramp->getNumberOfVusersInNextBatch(next));
  EXPECT_EQ(next, 2);
  clock->advance(100s);
  EXPECT_THAT(host.calls(), ElementsAre("0s runVusers 2", "10s runVusers 2", "20s runVusers 2", "20s stopAllVusers",
                                        "20s onSchedulerFinished"));
  EXPECT_FALSE(ramp->getNumberOfVusersInNextBatch(next));
  EXPECT_FALSE(ramp->hasNextBatch());
}

TEST(ScheduleRun, InitAllFinishesOnlyOnTheHostsInitializedEvent) {
  ScopedManualClock clock;
  ScopedMemoryLog log;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = schedule.addScenario();
  CQVActionRunner* init = schedule.add(scenario, new CQVInitAllVusersActionRunner());
  schedule.add(scenario, new CQVRunAllVusersActionRunner());
  // Raised before InitAll started: not seen.
  CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
  schedule.start();
  clock->advance(30s);
  EXPECT_EQ(init->getRunState(), CQVBaseRunner::RUNNING);
  EXPECT_THAT(host.calls(), ElementsAre("0s initAllVusers mode=1"));
  long runTime = -1;
  EXPECT_TRUE(schedule.root.getRunTime(CQVScenarioContext(), runTime));
  EXPECT_EQ(runTime, 0) << "the run is measured from the end of the initialization";

  CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
  EXPECT_EQ(init->getRunState(), CQVBaseRunner::FINISHED);
  EXPECT_EQ((*log).count("SCENARIO @  @ QVE event @ initialization finished"), 1u);
  clock->advance(10s);
  EXPECT_THAT(host.calls(), ElementsAre("0s initAllVusers mode=1", "30s runAllVusers mode=1", "30s onSchedulerFinished"));
  EXPECT_TRUE(schedule.root.getRunTime(CQVScenarioContext(), runTime));
  EXPECT_EQ(runTime, 10);
  // Group initialization events of another schedule do not finish it either.
  EXPECT_EQ(scenario->getRunState(), CQVBaseRunner::FINISHED);
}

TEST(ScheduleRun, RampInitAllWritesAnErrorLineForAnEarlyEvent) {
  ScopedManualClock clock;
  ScopedMemoryLog log;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = schedule.addScenario();
  auto* init = new CQVInitRampUpAllVusersActionRunner();
  init->setBatchData(5, 10);
  schedule.add(scenario, init);
  schedule.add(scenario, new CQVRunAllVusersActionRunner());
  int calls = 0;
  ON_CALL(host, initVusers(testing::_, testing::_)).WillByDefault([&](long n, CQVVusersServices::RunMode) {
    host.record("initVusers " + std::to_string(n));
    return ++calls == 4 ? CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS : 0;
  });
  schedule.start();
  clock->advance(15s);  // two batches issued, more to come
  CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
  const std::string error =
      "ERROR: CQVInitRampUpAllVusersActionRunner got the event that initialization was finished, before ramp was finished.";
  EXPECT_EQ((*log).count(error), 1u);
  EXPECT_EQ(init->getRunState(), CQVBaseRunner::FINISHED);
  clock->advance(60s);  // later batches still come until the host answers 2
  EXPECT_THAT(host.calls(), ElementsAre("0s initVusers 5", "10s initVusers 5", "15s runAllVusers mode=1",
                                        "15s onSchedulerFinished", "20s initVusers 5", "30s initVusers 5"));
}

TEST(ScheduleRun, GroupFailureFollowsStartsAfterLinks) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVGroupRunner* a = schedule.addGroup("A");
  schedule.add(a, new CQVRunAllVusersActionRunner());
  CQVGroupRunner* b = schedule.addGroup("B");
  b->setPreviousGroupName("A");
  schedule.add(b, new CQVRunAllVusersActionRunner())->addStartConditionEvent(CQVGroupFinishedRunningEventDef("A"));
  CQVGroupRunner* c = schedule.addGroup("C");
  c->setPreviousGroupName("B");
  schedule.add(c, new CQVRunAllVusersActionRunner())->addStartConditionEvent(CQVGroupFinishedRunningEventDef("B"));
  CQVGroupRunner* x = schedule.addGroup("X");
  schedule.add(x, new CQVRunAllVusersActionRunner());
  ON_CALL(host, runAllGroupVusers(testing::_, testing::_)).WillByDefault([&](const std::string& g, CQVVusersServices::RunMode) {
    host.record(g + " runAllGroupVusers");
    return g == "A" || g == "X" ? CQVVusersServices::VUSERS_STATUS_FAILED : 0;
  });
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  EXPECT_CALL(host, onGroupFinished(testing::_)).Times(0);
  schedule.start();
  clock->advance(5s);
  EXPECT_EQ(a->getRunState(), CQVBaseRunner::FAILED);
  EXPECT_EQ(x->getRunState(), CQVBaseRunner::FAILED);
  EXPECT_EQ(b->getRunState(), CQVBaseRunner::FAILED) << "B starts after the failed A";
  EXPECT_EQ(c->getRunState(), CQVBaseRunner::FAILED) << "C starts after the failed B";
  EXPECT_FALSE(schedule.root.isRunning());
}

// A failure announced while its runner lived may be delivered after another thread's stop or
// load deleted that runner: the group after it reads the name the event carries, never the runner.
TEST(ScheduleRun, FailureOfARunnerDeletedMeanwhileIsReadByItsGroupName) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVGroupRunner* b = schedule.addGroup("B");
  b->setPreviousGroupName("A");
  schedule.add(b, new CQVRunAllVusersActionRunner())->addStartConditionEvent(CQVGroupFinishedRunningEventDef("A"));
  CQVGroupRunner* c = schedule.addGroup("C");
  c->setPreviousGroupName("Z");
  schedule.add(c, new CQVRunAllVusersActionRunner())->addStartConditionEvent(CQVGroupFinishedRunningEventDef("Z"));
  schedule.start();
  // Not a runner any more: any read through the pointer would crash.
  alignas(64) static unsigned char deleted[64] = {};
  auto* gone = reinterpret_cast<CQVSchedulerRunner*>(deleted);
  schedule.services.getEventsManager()->notifyOnEvent(CQVSchedulerRunnerFailedEventDef(gone, "A"));
  EXPECT_EQ(b->getRunState(), CQVBaseRunner::FAILED) << "B starts after the failed A";
  EXPECT_NE(c->getRunState(), CQVBaseRunner::FAILED) << "C starts after Z, which did not fail";
}

TEST(ScheduleRun, UnrelatedGroupFailureIsIgnoredAndGroupFinishedOnce) {
  ScopedManualClock clock;
  ScopedMemoryLog log;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVGroupRunner* a = schedule.addGroup("A");
  schedule.add(a, new CQVRunAllVusersActionRunner());
  schedule.add(a, duration(10));
  CQVGroupRunner* b = schedule.addGroup("B");
  b->setPreviousGroupName("A");
  schedule.add(b, new CQVRunAllVusersActionRunner())->addStartConditionEvent(CQVGroupFinishedRunningEventDef("A"));
  CQVGroupRunner* x = schedule.addGroup("X");
  schedule.add(x, new CQVStopAllVusersActionRunner());
  ON_CALL(host, stopAllGroupVusers(testing::_)).WillByDefault(testing::Return(CQVVusersServices::VUSERS_STATUS_FAILED));
  EXPECT_CALL(host, onGroupFinished("A")).Times(1);
  EXPECT_CALL(host, onGroupFinished("B")).Times(1);
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  schedule.start();
  clock->advance(5s);
  EXPECT_EQ(x->getRunState(), CQVBaseRunner::FAILED);
  EXPECT_NE(b->getRunState(), CQVBaseRunner::FAILED);
  clock->advance(10s);
  EXPECT_EQ(a->getRunState(), CQVBaseRunner::FINISHED);
  // The host reports that group A finished running: B may start.
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef("A"));
  clock->settle();
  EXPECT_EQ(b->getRunState(), CQVBaseRunner::FINISHED);
  EXPECT_EQ((*log).count("GROUP @ A @ Started"), 1u);
  EXPECT_EQ((*log).count("GROUP @ A @ Finished"), 1u) << "written on the host's group-finished event";
  EXPECT_FALSE(schedule.root.isRunning());
}

TEST(ScheduleRun, StopInTheMiddleLeavesNoRegistrationAndNoLaterHostCall) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVGroupRunner* a = schedule.addGroup("A");
  auto* init = new CQVInitRampUpAllVusersActionRunner();
  init->setBatchData(5, 10);
  schedule.add(a, init);
  schedule.add(a, rampUpAll(2, 15));
  schedule.add(a, duration(300));
  CQVGroupRunner* b = schedule.addGroup("B");
  b->setPreviousGroupName("A");
  schedule.add(b, new CQVInitAllVusersActionRunner())->addStartConditionEvent(CQVGroupFinishedRunningEventDef("A"));
  schedule.start();
  clock->advance(25s);
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupAllVusersInitEventDef("A"));
  clock->advance(20s);
  const std::size_t callsBefore = host.calls().size();
  ASSERT_GT(callsBefore, 3u);
  schedule.stop();
  CQVSchedulerEventsManager* manager = schedule.services.getEventsManager();
  EXPECT_EQ(manager->getTimer().registrationCount(), 0u);
  EXPECT_EQ(CQVEventsManager::instance()->registrationCount(manager), 0);
  EXPECT_EQ(schedule.runnerCount(), 0u);
  EXPECT_FALSE(schedule.root.isRunning());
  clock->advance(1000s);
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef("A"));
  clock->settle();
  EXPECT_EQ(host.calls().size(), callsBefore);
}

TEST(ScheduleRun, GroupsAddedAThenBStartInTheOrderBThenA) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  schedule.add(schedule.addGroup("A"), new CQVRunAllVusersActionRunner());
  schedule.add(schedule.addGroup("B"), new CQVRunAllVusersActionRunner());
  ASSERT_EQ(schedule.runnerCount(), 2u);
  EXPECT_EQ(schedule.firstRunnerName(), "GROUP @ B");
  schedule.start();
  clock->settle();
  EXPECT_THAT(host.calls(), ElementsAre("0s B runAllGroupVusers mode=1", "0s onGroupFinished B",
                                        "0s A runAllGroupVusers mode=1", "0s onGroupFinished A", "0s onSchedulerFinished"));
}

TEST(ScheduleRun, EventsHeldByAPauseDoNotReachTheNextRun) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  auto addGroups = [&] {
    schedule.add(schedule.addGroup("A"), duration(50));
    CQVGroupRunner* b = schedule.addGroup("B");
    b->setPreviousGroupName("A");
    return schedule.add(b, new CQVRunAllVusersActionRunner());
  };
  CQVActionRunner* first = addGroups();
  first->addStartConditionEvent(CQVGroupFinishedRunningEventDef("A"));
  schedule.start();
  clock->advance(10s);
  schedule.pause();
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef("A"));  // held by the pause
  schedule.stop();

  CQVActionRunner* second = addGroups();
  second->addStartConditionEvent(CQVGroupFinishedRunningEventDef("A"));
  schedule.start();
  clock->advance(60s);  // A's duration ends and its finished event is delivered
  EXPECT_NE(second->getRunState(), CQVBaseRunner::FINISHED) << "the held event belonged to the stopped run";
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupFinishedRunningEventDef("A"));
  EXPECT_EQ(second->getRunState(), CQVBaseRunner::FINISHED);
}

TEST(ScheduleRun, RepeatedInitializedEventDoesNotRestartTheRunTime) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVScenarioRunner* scenario = schedule.addScenario();
  schedule.add(scenario, new CQVInitAllVusersActionRunner());
  schedule.add(scenario, duration(100));
  schedule.start();
  clock->advance(10s);
  CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());  // the run begins at 10 s
  clock->advance(10s);
  schedule.pause();
  clock->advance(30s);
  schedule.resume();
  clock->advance(10s);
  // The host reports the initialization a second time: InitAll finishes again, the run goes on.
  CQVEventsManager::instance()->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
  long runTime = -1;
  EXPECT_TRUE(schedule.root.getRunTime(CQVScenarioContext(), runTime));
  EXPECT_EQ(runTime, 20) << "60 s since start, minus 10 s of initialization and 30 s of pause";
}

TEST(ScheduleRun, RepeatedInitializedEventFinishesTheGroupOnce) {
  ScopedManualClock clock;
  RecordingHost host;
  TestSchedule schedule;
  schedule.setHost(&host);
  CQVGroupRunner* group = schedule.addGroup("G");
  schedule.add(group, new CQVInitAllVusersActionRunner());  // the group's last action
  EXPECT_CALL(host, onGroupFinished("G")).Times(1);
  EXPECT_CALL(host, onSchedulerFinished()).Times(1);
  schedule.start();
  clock->settle();
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupAllVusersInitEventDef("G"));
  CQVEventsManager::instance()->notifyOnEvent(CQVGroupAllVusersInitEventDef("G"));
  clock->settle();
  EXPECT_EQ(group->getRunState(), CQVBaseRunner::FINISHED);
}
