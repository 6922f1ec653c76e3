// Tests of the scheduler events manager: the road of an event out to the process-wide manager and
// back, holding events while paused, one registration per definition with the process-wide
// manager, deferred deletion and reset.
#include "QVEventsManager.h"
#include "QVGroupActionRunnerFinishedEventDef.h"
#include "QVHostEventDefs.h"
#include "QVScenarioActionRunnerFinishedEventDef.h"
#include "QVSchedulerEventsManager.h"
#include "QVTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

constexpr std::uint64_t kSecond = QV_FILE_TIME_UNITS_PER_SECOND;

// Lines in call order, from any thread.
class Journal {
 public:
  void add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Journals "<name>: <definition text>" for every event; optionally checks, from another thread,
// whether a lock is held while it runs.
class RecordingEventHandler final : public CQVEventHandler {
 public:
  RecordingEventHandler(std::string name, Journal& journal, QVCriticalSection* lockToProbe = nullptr)
      : name_(std::move(name)), journal_(journal), lockToProbe_(lockToProbe) {}
  void onEvent(const CQVEventDef& def) override {
    journal_.add(name_ + ": " + def.toString());
    if (lockToProbe_) {
      bool free = false;
      std::thread([&] { free = isFree(*lockToProbe_); }).join();
      if (free) ++deliveriesWithoutLock_;
    }
  }
  void setUnregisteredFromEvent(const CQVEventDef&, long) override {}
  std::string getName() const override { return name_; }
  int deliveriesWithoutLock() const { return deliveriesWithoutLock_; }

 private:
  std::string name_;
  Journal& journal_;
  QVCriticalSection* lockToProbe_;
  std::atomic<int> deliveriesWithoutLock_{0};
};

class RecordingTimeHandler final : public CQVTimeHandler {
 public:
  RecordingTimeHandler(std::string name, Journal& journal) : name_(std::move(name)), journal_(journal) {}
  void onTime() override {
    journal_.add(name_);
    std::lock_guard<std::mutex> lock(mutex_);
    times_.push_back(QVNowFileTime());
  }
  std::vector<std::uint64_t> times() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return times_;
  }

 private:
  std::string name_;
  Journal& journal_;
  mutable std::mutex mutex_;
  std::vector<std::uint64_t> times_;
};

// Sets the flag and fulfils the promise when destroyed.
class DeletionWitness {
 public:
  explicit DeletionWitness(std::shared_ptr<std::atomic<bool>> deleted) : deleted_(std::move(deleted)) {}
  ~DeletionWitness() {
    *deleted_ = true;
    done_.set_value();
  }
  std::future<void> whenDeleted() { return done_.get_future(); }

 private:
  std::shared_ptr<std::atomic<bool>> deleted_;
  std::promise<void> done_;
};

// A manager whose destruction is visible. The witness is the first base, so it is destroyed
// last: its signal comes once the whole manager (timer thread included) is gone.
class ObservedManager final : public DeletionWitness, public CQVSchedulerEventsManager {
 public:
  explicit ObservedManager(std::shared_ptr<std::atomic<bool>> deleted) : DeletionWitness(std::move(deleted)) {}
};

// Creates a manager with its own scheduler lock and, at the end of the test, drops its handlers
// and releases it (it then deletes itself, being registered nowhere).
class ManagerFixture {
 public:
  ManagerFixture() : lock(std::make_shared<QVCriticalSection>()), manager(new CQVSchedulerEventsManager()) {
    manager->setSchedulerLock(lock);
  }
  ~ManagerFixture() {
    manager->reset();
    manager->setCanBeDeleted();
  }
  ManagerFixture(const ManagerFixture&) = delete;
  ManagerFixture& operator=(const ManagerFixture&) = delete;

  std::shared_ptr<QVCriticalSection> lock;
  CQVSchedulerEventsManager* manager;
};

// Registers a handler directly with the process-wide manager for the length of a scope.
class HostRegistration {
 public:
  HostRegistration(const CQVEventDef& def, CQVEventHandler* handler) : def_(def.clone()), handler_(handler) {
    CQVEventsManager::instance()->registerOnEvent(*def_, handler_);
  }
  ~HostRegistration() { CQVEventsManager::instance()->unregisterOnEvent(*def_, handler_); }
  HostRegistration(const HostRegistration&) = delete;
  HostRegistration& operator=(const HostRegistration&) = delete;

 private:
  std::unique_ptr<CQVEventDef> def_;
  CQVEventHandler* handler_;
};

long hostRegistrations(CQVSchedulerEventsManager* manager) {
  return CQVEventsManager::instance()->registrationCount(manager);
}

}  // namespace

TEST(SchedulerEventsManager, LocalHandlerReceivesAnnouncedEventThroughTheProcessWideManager) {
  ScopedManualClock clock;
  ManagerFixture fixture;
  CQVSchedulerEventsManager* manager = fixture.manager;
  EXPECT_EQ(manager->getName(), "CQVSchedulerEventsManager");
  EXPECT_EQ(manager->getTimer().getSchedulerLock(), fixture.lock.get());

  Journal journal;
  const CQVGroupActionRunnerFinishedEventDef first("sem-route", 1);
  const CQVGroupActionRunnerFinishedEventDef second("sem-route", 2);
  const CQVGroupFinishedRunningEventDef hostEvent("sem-route");
  RecordingEventHandler local("local", journal, fixture.lock.get());
  RecordingEventHandler otherLocal("otherLocal", journal);
  RecordingEventHandler hostSide("hostSide", journal);
  RecordingEventHandler hostEventLocal("hostEventLocal", journal, fixture.lock.get());

  EXPECT_EQ(hostRegistrations(manager), 0);
  EXPECT_TRUE(manager->registerOnEvent(first, &local));
  EXPECT_TRUE(manager->registerOnEvent(second, &otherLocal));
  EXPECT_TRUE(manager->registerOnEvent(hostEvent, &hostEventLocal));
  EXPECT_EQ(hostRegistrations(manager), 3);  // one per definition
  HostRegistration observer(first, &hostSide);

  // The event goes out to the process-wide manager (whose own handler sees it) and comes back to
  // the local handler, on the announcing thread, before notifyOnEvent returns.
  manager->notifyOnEvent(first);
  EXPECT_THAT(journal.lines(), UnorderedElementsAre("hostSide: " + first.toString(), "local: " + first.toString()));
  EXPECT_EQ(local.deliveriesWithoutLock(), 0);  // delivered under the scheduler lock

  // Raised by the host: only the second half of the road.
  CQVEventsManager::instance()->notifyOnEvent(hostEvent);
  EXPECT_EQ(journal.lines().size(), 3u);
  EXPECT_EQ(journal.lines().back(), "hostEventLocal: " + hostEvent.toString());
  EXPECT_EQ(hostEventLocal.deliveriesWithoutLock(), 0);

  // An event nobody here registered for reaches nobody here.
  manager->notifyOnEvent(CQVGroupActionRunnerFinishedEventDef("sem-route", 3));
  EXPECT_EQ(journal.lines().size(), 3u);

  // Announced from another thread: delivered there, the same way.
  std::thread([&] { manager->notifyOnEvent(second); }).join();
  EXPECT_EQ(journal.lines().size(), 4u);
  EXPECT_EQ(journal.lines().back(), "otherLocal: " + second.toString());
}

TEST(SchedulerEventsManager, PausedEventsAreDeliveredOnResumeBeforeTimeHandlers) {
  ScopedManualClock clock;
  ManagerFixture fixture;
  CQVSchedulerEventsManager* manager = fixture.manager;
  const std::uint64_t t0 = clock->now();
  Journal journal;
  const CQVScenarioActionRunnerFinishedEventDef announced(9001);
  const CQVGroupFinishedRunningEventDef hostEvent("sem-paused");
  RecordingEventHandler local("local", journal);
  RecordingEventHandler hostEventLocal("hostEventLocal", journal);
  RecordingEventHandler hostSide("hostSide", journal);
  RecordingTimeHandler dueAtResume("dueAtResume", journal), later("later", journal);

  manager->registerOnEvent(announced, &local);
  manager->registerOnEvent(hostEvent, &hostEventLocal);
  HostRegistration observer(announced, &hostSide);
  manager->registerOnRelativeTime(2, &later);

  manager->pause();
  EXPECT_TRUE(manager->isPaused());
  EXPECT_TRUE(manager->getTimer().isPaused());
  clock->settle();
  manager->notifyOnEvent(announced);                       // held as a request
  CQVEventsManager::instance()->notifyOnEvent(hostEvent);  // held as an event
  manager->registerOnRelativeTime(0, &dueAtResume);        // due at once after the resume
  clock->advance(std::chrono::seconds(5));
  EXPECT_THAT(journal.lines(), IsEmpty());  // neither here nor at the process-wide manager
  long seconds = -1;
  EXPECT_TRUE(manager->getRelativeTimeToNotifyHandler(&later, seconds));
  EXPECT_EQ(seconds, 2);

  manager->resume();
  EXPECT_FALSE(manager->isPaused());
  clock->settle();
  // The held request and event first, in the order they arrived (the announced event reaches the
  // local handler before the host's later one), then the time handler.
  EXPECT_THAT(journal.lines(), ElementsAre("local: " + announced.toString(), "hostSide: " + announced.toString(),
                                           "hostEventLocal: " + hostEvent.toString(), "dueAtResume"));
  EXPECT_THAT(dueAtResume.times(), ElementsAre(t0 + 5 * kSecond));

  clock->advance(std::chrono::seconds(2));
  EXPECT_THAT(later.times(), ElementsAre(t0 + 7 * kSecond));
  EXPECT_EQ(journal.lines().size(), 5u);

  // Running again: events are delivered at once.
  manager->notifyOnEvent(announced);
  EXPECT_EQ(journal.lines().size(), 7u);
}

TEST(SchedulerEventsManager, EqualDefinitionsMakeOneRegistrationWithTheProcessWideManager) {
  ScopedManualClock clock;
  ManagerFixture fixture;
  CQVSchedulerEventsManager* manager = fixture.manager;
  Journal journal;
  RecordingEventHandler one("one", journal), two("two", journal), three("three", journal);
  const CQVGroupActionRunnerFinishedEventDef def("sem-equal", 1);
  const CQVGroupActionRunnerFinishedEventDef equalDef("sem-equal", 1);  // another object, equal
  const CQVGroupActionRunnerFinishedEventDef otherDef("sem-equal", 2);

  manager->registerOnEvent(def, &one);
  manager->registerOnEvent(equalDef, &two);
  EXPECT_EQ(hostRegistrations(manager), 1);

  // Each local handler gets the event once (not once per local registration).
  manager->notifyOnEvent(def);
  EXPECT_THAT(journal.lines(), UnorderedElementsAre("one: " + def.toString(), "two: " + def.toString()));

  manager->registerOnEvent(otherDef, &three);
  EXPECT_EQ(hostRegistrations(manager), 2);

  // Unregistered there only when the last local handler of the definition is gone.
  EXPECT_TRUE(manager->unregisterOnEvent(def, &one));
  EXPECT_EQ(hostRegistrations(manager), 2);
  manager->notifyOnEvent(equalDef);
  EXPECT_EQ(journal.lines().size(), 3u);
  EXPECT_EQ(journal.lines().back(), "two: " + def.toString());
  EXPECT_TRUE(manager->unregisterOnEvent(equalDef, &two));
  EXPECT_EQ(hostRegistrations(manager), 1);
  EXPECT_EQ(manager->getRemainingRegistrations(), 1);  // as reported by the process-wide manager
  manager->notifyOnEvent(def);
  EXPECT_EQ(journal.lines().size(), 3u);
  EXPECT_TRUE(manager->unregisterOnEvent(otherDef, &three));
  EXPECT_EQ(hostRegistrations(manager), 0);
  EXPECT_EQ(manager->getRemainingRegistrations(), 0);
}

TEST(SchedulerEventsManager, ReleasedManagerDeletesItselfOnceNoRegistrationRemains) {
  ScopedManualClock clock;
  const auto lock = std::make_shared<QVCriticalSection>();
  const CQVScenarioActionRunnerFinishedEventDef def(9101);

  // Holding no registration: deleted at once.
  {
    auto deleted = std::make_shared<std::atomic<bool>>(false);
    auto* manager = new ObservedManager(deleted);
    manager->setSchedulerLock(lock);
    manager->setCanBeDeleted();
    EXPECT_TRUE(*deleted);
  }

  // Reports made directly: survives a report of 2 remaining, deleted after a later report of 0.
  {
    auto deleted = std::make_shared<std::atomic<bool>>(false);
    auto* manager = new ObservedManager(deleted);
    manager->setSchedulerLock(lock);
    manager->setUnregisteredFromEvent(def, 2);
    manager->setCanBeDeleted();
    EXPECT_FALSE(*deleted);
    manager->setUnregisteredFromEvent(def, 2);
    EXPECT_FALSE(*deleted);
    EXPECT_EQ(manager->getRemainingRegistrations(), 2);
    manager->setUnregisteredFromEvent(def, 0);
    EXPECT_TRUE(*deleted);
  }

  // Released while registered with the process-wide manager, before any report: it stays and
  // keeps receiving the host's events until the last registration there is gone.
  {
    auto deleted = std::make_shared<std::atomic<bool>>(false);
    auto* manager = new ObservedManager(deleted);
    manager->setSchedulerLock(lock);
    Journal journal;
    RecordingEventHandler local("local", journal);
    const CQVGroupFinishedRunningEventDef first("sem-release-1");
    const CQVGroupFinishedRunningEventDef second("sem-release-2");
    manager->registerOnEvent(first, &local);
    manager->registerOnEvent(second, &local);
    ASSERT_EQ(hostRegistrations(manager), 2);

    manager->setCanBeDeleted();
    EXPECT_FALSE(*deleted);
    CQVEventsManager::instance()->notifyOnEvent(second);
    EXPECT_THAT(journal.lines(), ElementsAre("local: " + second.toString()));

    manager->unregisterOnEvent(first, &local);  // reported: 1 remaining
    EXPECT_FALSE(*deleted);
    EXPECT_EQ(hostRegistrations(manager), 1);
    manager->unregisterOnEvent(second, &local);  // reported: 0 remaining; deletes itself
    EXPECT_TRUE(*deleted);
    CQVEventsManager::instance()->notifyOnEvent(second);  // reaches nothing any more
    EXPECT_EQ(journal.lines().size(), 1u);
  }
  // The lock handed to the managers is still usable.
  EXPECT_TRUE(isFree(*lock));
}

TEST(SchedulerEventsManager, ReleasedFromATimeHandlerOnTheTimerThread) {
  ScopedManualClock clock;
  auto deleted = std::make_shared<std::atomic<bool>>(false);
  auto* manager = new ObservedManager(deleted);
  std::future<void> gone = manager->whenDeleted();
  manager->setSchedulerLock(std::make_shared<QVCriticalSection>());
  Journal journal;

  // The owner lets go of the manager from a callback on the manager's own timer thread (which
  // the deletion must end without joining itself).
  class Releaser final : public CQVTimeHandler {
   public:
    Releaser(CQVSchedulerEventsManager* manager, Journal& journal) : manager_(manager), journal_(journal) {}
    void onTime() override {
      journal_.add("released");
      manager_->setCanBeDeleted();
    }

   private:
    CQVSchedulerEventsManager* manager_;
    Journal& journal_;
  } releaser(manager, journal);
  RecordingTimeHandler pending("pending", journal);
  manager->registerOnRelativeTime(1, &releaser);
  manager->registerOnRelativeTime(3, &pending);  // never called: the manager is gone by then

  clock->advance(std::chrono::seconds(1));
  ASSERT_EQ(gone.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(*deleted);
  EXPECT_THAT(journal.lines(), ElementsAre("released"));
  clock->advance(std::chrono::seconds(5));
  EXPECT_THAT(journal.lines(), ElementsAre("released"));
}

TEST(SchedulerEventsManager, ResetAfterPauseLeavesItRunningWithNothingRegistered) {
  ScopedManualClock clock;
  ManagerFixture fixture;
  CQVSchedulerEventsManager* manager = fixture.manager;
  const std::uint64_t t0 = clock->now();
  Journal journal;
  const CQVScenarioActionRunnerFinishedEventDef def(9201);
  RecordingEventHandler local("local", journal), hostSide("hostSide", journal);
  RecordingTimeHandler dropped("dropped", journal), droppedWhilePaused("droppedWhilePaused", journal);
  RecordingTimeHandler fresh("fresh", journal);
  HostRegistration observer(def, &hostSide);

  manager->registerOnEvent(def, &local);
  manager->registerOnRelativeTime(2, &dropped);
  ASSERT_EQ(hostRegistrations(manager), 1);
  manager->pause();
  clock->settle();
  manager->registerOnRelativeTime(1, &droppedWhilePaused);
  manager->notifyOnEvent(def);  // held by the pause; a reset drops it

  manager->reset();
  EXPECT_FALSE(manager->isPaused());
  EXPECT_FALSE(manager->getTimer().isPaused());
  EXPECT_EQ(hostRegistrations(manager), 0);
  long seconds = -1;
  EXPECT_FALSE(manager->getRelativeTimeToNotifyHandler(&dropped, seconds));
  EXPECT_FALSE(manager->getRelativeTimeToNotifyHandler(&droppedWhilePaused, seconds));

  // Running: the request goes out at once (alone: the held one is gone), but no local handler is
  // left to receive it back.
  manager->notifyOnEvent(def);
  EXPECT_THAT(journal.lines(), ElementsAre("hostSide: " + def.toString()));
  clock->advance(std::chrono::seconds(5));
  EXPECT_THAT(journal.lines(), ElementsAre("hostSide: " + def.toString()));

  // New registrations work as on a new manager.
  manager->registerOnRelativeTime(1, &fresh);
  manager->registerOnEvent(def, &local);
  EXPECT_EQ(hostRegistrations(manager), 1);
  manager->notifyOnEvent(def);
  EXPECT_EQ(journal.lines().size(), 3u);
  clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(fresh.times(), ElementsAre(t0 + 6 * kSecond));
  EXPECT_EQ(journal.lines().size(), 4u);
}

TEST(SchedulerEventsManager, TimeRegistrationsGoThroughTheTimerUnderTheSchedulerLock) {
  ScopedManualClock clock;
  ManagerFixture fixture;
  CQVSchedulerEventsManager* manager = fixture.manager;
  const std::uint64_t t0 = clock->now();
  Journal journal;
  std::atomic<int> lockFreeDuringCallback{-1};

  class ProbingTimeHandler final : public CQVTimeHandler {
   public:
    ProbingTimeHandler(QVCriticalSection& lock, std::atomic<int>& result) : lock_(lock), result_(result) {}
    void onTime() override {
      bool free = false;
      std::thread([&] { free = isFree(lock_); }).join();
      result_ = free ? 1 : 0;
    }

   private:
    QVCriticalSection& lock_;
    std::atomic<int>& result_;
  } probe(*fixture.lock, lockFreeDuringCallback);
  RecordingTimeHandler removed("removed", journal);

  EXPECT_TRUE(manager->registerOnRelativeTime(3, &probe));
  EXPECT_TRUE(manager->registerOnRelativeTime(2, &removed));
  long seconds = -1;
  EXPECT_TRUE(manager->getRelativeTimeToNotifyHandler(&probe, seconds));
  EXPECT_EQ(seconds, 3);
  manager->unregisterTimeHandler(&removed);
  EXPECT_FALSE(manager->getRelativeTimeToNotifyHandler(&removed, seconds));
  clock->advance(std::chrono::seconds(3));
  EXPECT_EQ(lockFreeDuringCallback.load(), 0);
  EXPECT_THAT(journal.lines(), IsEmpty());
  EXPECT_EQ(clock->now(), t0 + 3 * kSecond);
}
