// Tests of the timer thread on the manual clock: wake-ups, due times, passes, pause and resume,
// reset, handlers that change registrations from their callbacks, the scheduler lock, destruction
// and the thread's idleness.
#include "QVTestSupport.h"
#include "QVTimer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <pthread.h>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr std::uint64_t kSecond = QV_FILE_TIME_UNITS_PER_SECOND;
constexpr std::uint64_t kMillisecond = QV_FILE_TIME_UNITS_PER_MILLISECOND;

const char* const kWokeByEarlierTime = "CQVTimer::waitForTimeAndCallHandlers() - woke up by earlier time registration";
const char* const kWokeByTimer = "CQVTimer::waitForTimeAndCallHandlers() - woke up by the timer";
const char* const kWokeToPause = "CQVTimer::waitForTimeAndCallHandlers() - woke up since it was aksed to pause";

struct Call {
  std::string name;
  std::uint64_t time;
  bool operator==(const Call& other) const { return name == other.name && time == other.time; }
};

void PrintTo(const Call& call, std::ostream* os) { *os << call.name << "@" << call.time; }

// Handler calls in call order, each with the clock's time when it was made; from any thread.
class CallLog {
 public:
  void add(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({name, QVNowFileTime()});
  }
  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::vector<std::string> names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> result;
    for (const Call& call : calls_) result.push_back(call.name);
    return result;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

// Records its call, then runs its action (if any).
class TestHandler final : public CQVTimeHandler {
 public:
  TestHandler(std::string name, CallLog& log, std::function<void()> action = nullptr)
      : name_(std::move(name)), log_(log), action_(std::move(action)) {}
  void onTime() override {
    log_.add(name_);
    if (action_) action_();
  }
  void setAction(std::function<void()> action) { action_ = std::move(action); }

 private:
  std::string name_;
  CallLog& log_;
  std::function<void()> action_;
};

// Holds the timer thread inside a handler callback. The thread waits through the platform's wait,
// so the manual clock counts it as idle and time can be moved while it is held. Opens on
// destruction so that a failing test never leaves the thread held (declare after the timer).
class Gate {
 public:
  ~Gate() { open(); }
  void hold() {
    const std::shared_ptr<QVEvent> event = event_;  // outlives the gate while the thread waits
    QVWaitable* objects[] = {event.get()};
    QVWaitForAny(objects, 1);
  }
  void open() { event_->set(); }

 private:
  std::shared_ptr<QVEvent> event_ = std::make_shared<QVEvent>();
};

// CPU time consumed so far by `thread` (its own CPU-time clock); negative when it cannot be read.
std::chrono::nanoseconds threadCpuTime(pthread_t thread) {
  clockid_t clock{};
  timespec reading{};
  if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &reading) != 0) {
    return std::chrono::nanoseconds(-1);
  }
  return std::chrono::seconds(reading.tv_sec) + std::chrono::nanoseconds(reading.tv_nsec);
}

}  // namespace

TEST(Timer, EarlierRegistrationsWakeTheThreadAndHandlersFireOnTime) {
  ScopedMemoryLog memoryLog;
  ScopedManualClock clock;
  CQVTimer timer;
  clock->settle();
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler five("5s", log), ten("10s", log), two("2s", log);

  EXPECT_EQ(memoryLog->count(kWokeByEarlierTime), 0u);
  EXPECT_TRUE(timer.registerOnRelativeTime(5, &five));
  clock->settle();
  EXPECT_EQ(memoryLog->count(kWokeByEarlierTime), 1u);  // first entry: wakes the thread
  EXPECT_TRUE(timer.registerOnRelativeTime(10, &ten));
  clock->settle();
  EXPECT_EQ(memoryLog->count(kWokeByEarlierTime), 1u);  // later: no wake-up
  EXPECT_TRUE(timer.registerOnRelativeTime(2, &two));
  clock->settle();
  EXPECT_EQ(memoryLog->count(kWokeByEarlierTime), 2u);  // earlier than the first: wakes it
  EXPECT_EQ(memoryLog->count(kWokeByTimer), 0u);

  long seconds = -1;
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&ten, seconds));
  EXPECT_EQ(seconds, 10);

  for (int second = 1; second <= 12; ++second) clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"2s", t0 + 2 * kSecond}, Call{"5s", t0 + 5 * kSecond},
                                       Call{"10s", t0 + 10 * kSecond}));
  EXPECT_EQ(memoryLog->count(kWokeByTimer), 3u);
  EXPECT_EQ(memoryLog->count(kWokeByEarlierTime), 2u);
  EXPECT_FALSE(timer.getRelativeTimeToNotifyHandler(&ten, seconds));  // served: gone
}

TEST(Timer, HandlersDueTogetherAreCalledInOnePassInOrder) {
  ScopedMemoryLog memoryLog;
  ScopedManualClock clock;
  CQVTimer timer;
  Gate gate;
  const std::uint64_t t0 = clock->now();
  const std::uint64_t dueA = t0 + 3 * kSecond;
  CallLog log;
  TestHandler holder("holder", log, [&gate] { gate.hold(); });
  TestHandler a("A", log), b("B", log), c("C", log), d("D", log), e("E", log);

  // A and B due in the same second (B 1 ms later: the same entry), C 2 ms after A (its own
  // entry), D and E 4 ms after A.
  timer.registerOnRelativeTime(1, &holder);
  timer.registerOnRelativeTime(3, &a);
  clock->advanceUnits(kMillisecond);
  timer.registerOnRelativeTime(3, &b);
  clock->advanceUnits(kMillisecond);
  timer.registerOnRelativeTime(3, &c);
  clock->advanceUnits(2 * kMillisecond);
  timer.registerOnRelativeTime(3, &d);
  timer.registerOnRelativeTime(3, &e);  // the same key as D, registered after it

  // Hold the thread in a pass at t0 + 1 s while time moves on to A's due time + 1 ms, so that the
  // next pass reads "now" as A + 1 ms.
  clock->advanceUnits(t0 + kSecond - clock->now());
  EXPECT_THAT(log.names(), ElementsAre("holder"));
  clock->advanceUnits(dueA + kMillisecond - clock->now());
  EXPECT_THAT(log.names(), ElementsAre("holder"));
  memoryLog->clear();
  gate.open();
  clock->settle();

  // One pass: A and B (one entry) and C (1 ms after now), in registration order; D and E (3 ms
  // after now) are left for later.
  EXPECT_THAT(log.names(), ElementsAre("holder", "A", "B", "C"));
  EXPECT_EQ(memoryLog->count(kWokeByTimer), 1u);

  clock->advanceUnits(kMillisecond);  // A + 2 ms
  EXPECT_EQ(log.calls().size(), 4u);
  clock->advanceUnits(2 * kMillisecond);  // A + 4 ms: D's due time
  EXPECT_THAT(log.calls(), ElementsAre(Call{"holder", t0 + kSecond}, Call{"A", dueA + kMillisecond},
                                       Call{"B", dueA + kMillisecond}, Call{"C", dueA + kMillisecond},
                                       Call{"D", dueA + 4 * kMillisecond}, Call{"E", dueA + 4 * kMillisecond}));
  EXPECT_EQ(memoryLog->count(kWokeByTimer), 2u);

  // Two handlers registered for the same second are served in one pass, in registration order.
  TestHandler first("first", log), second("second", log), third("third", log);
  timer.registerOnRelativeTime(2, &second);
  timer.registerOnRelativeTime(2, &first);
  timer.registerOnRelativeTime(2, &third);
  clock->advance(std::chrono::seconds(2));
  const std::vector<Call> calls = log.calls();
  ASSERT_EQ(calls.size(), 9u);
  const std::uint64_t due = dueA + 4 * kMillisecond + 2 * kSecond;
  EXPECT_THAT((std::vector<Call>{calls[6], calls[7], calls[8]}),
              ElementsAre(Call{"second", due}, Call{"first", due}, Call{"third", due}));
  EXPECT_EQ(memoryLog->count(kWokeByTimer), 3u);
}

TEST(Timer, ZeroAndNegativeDelaysAreDueAtOnce) {
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler later("later", log), zero("zero", log), negative("negative", log);

  timer.registerOnRelativeTime(5, &later);
  clock->settle();
  timer.registerOnRelativeTime(0, &zero);
  clock->settle();
  EXPECT_THAT(log.calls(), ElementsAre(Call{"zero", t0}));
  timer.registerOnRelativeTime(-3, &negative);
  clock->settle();
  EXPECT_THAT(log.calls(), ElementsAre(Call{"zero", t0}, Call{"negative", t0}));

  // The pending registration keeps its time.
  clock->advance(std::chrono::seconds(4));
  EXPECT_THAT(log.names(), ElementsAre("zero", "negative"));
  clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"zero", t0}, Call{"negative", t0}, Call{"later", t0 + 5 * kSecond}));
}

TEST(Timer, PauseKeepsRemainingTime) {
  ScopedMemoryLog memoryLog;
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler held("held", log), duringPause("duringPause", log);

  timer.registerOnRelativeTime(13, &held);  // due at t0 + 13 s
  clock->advance(std::chrono::seconds(3));
  const std::uint64_t t = clock->now();
  timer.pause();  // at t: 10 s remain
  EXPECT_TRUE(timer.isPaused());
  clock->settle();
  EXPECT_EQ(memoryLog->count(kWokeToPause), 1u);

  long seconds = -1;
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&held, seconds));
  EXPECT_EQ(seconds, 10);

  clock->advance(std::chrono::seconds(15));
  const std::size_t wakeUps = memoryLog->count(kWokeByEarlierTime);
  timer.registerOnRelativeTime(5, &duringPause);  // due 5 s after the resume
  clock->settle();
  EXPECT_EQ(memoryLog->count(kWokeByEarlierTime), wakeUps);  // a registration while paused wakes nothing
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&duringPause, seconds));
  EXPECT_EQ(seconds, 5);

  clock->advance(std::chrono::seconds(15));  // t + 30 s: well past the original due time
  EXPECT_THAT(log.calls(), IsEmpty());
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&held, seconds));
  EXPECT_EQ(seconds, 10);

  timer.resume();  // at t + 30 s
  EXPECT_FALSE(timer.isPaused());
  clock->settle();
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&held, seconds));
  EXPECT_EQ(seconds, 10);
  clock->advance(std::chrono::seconds(5));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"duringPause", t + 35 * kSecond}));
  clock->advance(std::chrono::seconds(4));
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&held, seconds));
  EXPECT_EQ(seconds, 1);
  EXPECT_THAT(log.names(), ElementsAre("duringPause"));  // not before t + 40 s
  clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"duringPause", t + 35 * kSecond}, Call{"held", t + 40 * kSecond}));
  EXPECT_EQ(t + 40 * kSecond, t0 + 43 * kSecond);
}

TEST(Timer, RepeatedPauseAndResumeWhileRunningChangeNothing) {
  ScopedMemoryLog memoryLog;
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler first("first", log), second("second", log);

  // Resume while running: no change of the due time.
  timer.registerOnRelativeTime(5, &first);
  clock->advance(std::chrono::seconds(2));
  timer.resume();
  EXPECT_FALSE(timer.isPaused());
  clock->settle();
  long seconds = -1;
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&first, seconds));
  EXPECT_EQ(seconds, 3);
  clock->advance(std::chrono::seconds(3));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"first", t0 + 5 * kSecond}));

  // Pause twice: one pause; one resume ends it and shifts the due time by the whole pause.
  timer.registerOnRelativeTime(6, &second);  // due at t0 + 11 s
  clock->advance(std::chrono::seconds(1));   // t0 + 6 s: 5 s remain
  timer.pause();
  clock->advance(std::chrono::seconds(2));
  timer.pause();
  EXPECT_TRUE(timer.isPaused());
  clock->advance(std::chrono::seconds(2));
  EXPECT_EQ(memoryLog->count(kWokeToPause), 1u);
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&second, seconds));
  EXPECT_EQ(seconds, 5);
  timer.resume();  // at t0 + 10 s
  EXPECT_FALSE(timer.isPaused());
  timer.resume();  // a second resume changes nothing
  clock->advance(std::chrono::seconds(4));
  EXPECT_THAT(log.names(), ElementsAre("first"));
  clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"first", t0 + 5 * kSecond}, Call{"second", t0 + 15 * kSecond}));
}

TEST(Timer, ResumeBeforeThePauseIsServedStrandsNothing) {
  ScopedManualClock clock;
  CQVTimer timer;
  Gate gate;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler holder("holder", log, [&gate] { gate.hold(); });
  TestHandler pending("pending", log);

  timer.registerOnRelativeTime(5, &pending);
  timer.registerOnRelativeTime(0, &holder);
  clock->settle();  // the timer thread now waits inside holder's callback
  EXPECT_THAT(log.names(), ElementsAre("holder"));

  // Pause and resume before the thread can serve the pause.
  timer.pause();
  timer.resume();
  gate.open();
  clock->settle();  // the thread serves the stale pause signal now
  EXPECT_FALSE(timer.isPaused());

  long seconds = -1;
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&pending, seconds));
  EXPECT_EQ(seconds, 5);
  clock->advance(std::chrono::seconds(5));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"holder", t0}, Call{"pending", t0 + 5 * kSecond}));

  // Registrations made afterwards wake the thread and are served as on a running timer.
  TestHandler after("after", log);
  timer.registerOnRelativeTime(2, &after);
  clock->advance(std::chrono::seconds(2));
  EXPECT_EQ(log.calls().back(), (Call{"after", t0 + 7 * kSecond}));
}

TEST(Timer, RegistrationOverdueAtPauseIsServedAtOnceAfterResume) {
  ScopedManualClock clock;
  CQVTimer timer;
  Gate gate;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler holder("holder", log, [&gate] { gate.hold(); });
  TestHandler overdue("overdue", log), pending("pending", log);

  timer.registerOnRelativeTime(1, &holder);
  timer.registerOnRelativeTime(5, &overdue);
  timer.registerOnRelativeTime(8, &pending);
  clock->advance(std::chrono::seconds(1));  // the thread now waits inside holder's callback
  EXPECT_THAT(log.names(), ElementsAre("holder"));

  // Time passes "overdue"'s due time while the thread is held in a pass that read t0 + 1 s;
  // the pause is asked for before the thread gets back to its wait.
  clock->advance(std::chrono::seconds(5));  // t0 + 6 s
  timer.pause();
  gate.open();
  clock->settle();  // the pass ends, the pause is served with "overdue" 1 s late
  EXPECT_THAT(log.names(), ElementsAre("holder"));
  long seconds = -1;
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&overdue, seconds));
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&pending, seconds));
  EXPECT_EQ(seconds, 2);

  // A registration with a negative time while paused is overdue too.
  TestHandler negative("negative", log);
  timer.registerOnRelativeTime(-3, &negative);
  clock->advance(std::chrono::seconds(10));  // t0 + 16 s
  EXPECT_THAT(log.names(), ElementsAre("holder"));

  timer.resume();
  clock->settle();
  const std::vector<Call> calls = log.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], (Call{"holder", t0 + kSecond}));
  // Both overdue registrations are served at once, at the resume.
  EXPECT_THAT((std::vector<Call>{calls[1], calls[2]}),
              ::testing::UnorderedElementsAre(Call{"overdue", t0 + 16 * kSecond}, Call{"negative", t0 + 16 * kSecond}));

  clock->advance(std::chrono::seconds(1));
  EXPECT_EQ(log.calls().size(), 3u);
  clock->advance(std::chrono::seconds(1));  // 2 s after the resume
  EXPECT_EQ(log.calls().back(), (Call{"pending", t0 + 18 * kSecond}));
}

TEST(Timer, ResetDropsRegistrationsAndKeepsTheThreadWorking) {
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler running("running", log), paused("paused", log), fresh("fresh", log), next("next", log);

  // Reset while paused: both maps empty, running again.
  timer.registerOnRelativeTime(3, &running);
  clock->settle();
  timer.pause();
  clock->settle();
  timer.registerOnRelativeTime(2, &paused);
  timer.reset();
  EXPECT_FALSE(timer.isPaused());
  long seconds = -1;
  EXPECT_FALSE(timer.getRelativeTimeToNotifyHandler(&running, seconds));
  EXPECT_FALSE(timer.getRelativeTimeToNotifyHandler(&paused, seconds));
  clock->advance(std::chrono::seconds(10));
  EXPECT_THAT(log.calls(), IsEmpty());

  // The next registration works as on a new timer.
  timer.registerOnRelativeTime(2, &fresh);
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&fresh, seconds));
  EXPECT_EQ(seconds, 2);
  clock->advance(std::chrono::seconds(2));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"fresh", t0 + 12 * kSecond}));

  // Reset while running, with the waitable timer armed for a dropped registration.
  timer.registerOnRelativeTime(1, &running);
  clock->settle();
  timer.reset();
  clock->advance(std::chrono::seconds(3));
  EXPECT_THAT(log.names(), ElementsAre("fresh"));
  timer.registerOnRelativeTime(1, &next);
  clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"fresh", t0 + 12 * kSecond}, Call{"next", t0 + 16 * kSecond}));

  // Pause works after a reset.
  timer.registerOnRelativeTime(2, &running);
  timer.pause();
  clock->advance(std::chrono::seconds(5));
  EXPECT_EQ(log.calls().size(), 2u);
  timer.resume();
  clock->advance(std::chrono::seconds(10));
  // Nothing dropped by the resets comes back with this pause and resume.
  EXPECT_THAT(log.calls(), ElementsAre(Call{"fresh", t0 + 12 * kSecond}, Call{"next", t0 + 16 * kSecond},
                                       Call{"running", t0 + 23 * kSecond}));
}

TEST(Timer, UnregisterRemovesOneRegistrationFromEitherMap) {
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler twice("twice", log), once("once", log), never("never", log);

  timer.unregisterTimeHandler(&never);  // registered nowhere: nothing happens
  timer.registerOnRelativeTime(3, &twice);
  timer.registerOnRelativeTime(6, &twice);
  timer.registerOnRelativeTime(4, &once);
  timer.unregisterTimeHandler(&twice);  // drops the 3 s registration only
  long seconds = -1;
  EXPECT_TRUE(timer.getRelativeTimeToNotifyHandler(&twice, seconds));
  EXPECT_EQ(seconds, 6);

  // While paused the registrations sit in the relative map; unregistering reaches them there.
  timer.pause();
  clock->advance(std::chrono::seconds(1));
  timer.unregisterTimeHandler(&once);
  EXPECT_FALSE(timer.getRelativeTimeToNotifyHandler(&once, seconds));
  timer.resume();
  clock->advance(std::chrono::seconds(10));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"twice", t0 + 7 * kSecond}));
}

TEST(Timer, HandlerMayUnregisterHandlersOfItsOwnEntry) {
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler victim("victim", log), other("other", log);
  TestHandler killer("killer", log);
  killer.setAction([&] {
    timer.unregisterTimeHandler(&killer);  // its own later registration
    timer.unregisterTimeHandler(&victim);  // the rest of its entry: the entry becomes empty
  });

  timer.registerOnRelativeTime(3, &killer);
  timer.registerOnRelativeTime(3, &victim);
  timer.registerOnRelativeTime(4, &other);
  timer.registerOnRelativeTime(10, &killer);
  clock->advance(std::chrono::seconds(3));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"killer", t0 + 3 * kSecond}));
  clock->advance(std::chrono::seconds(10));
  EXPECT_THAT(log.calls(), ElementsAre(Call{"killer", t0 + 3 * kSecond}, Call{"other", t0 + 4 * kSecond}));

  // A handler that unregisters another handler of its entry but leaves a third one.
  TestHandler a("a", log), b("b", log), c("c", log);
  a.setAction([&] { timer.unregisterTimeHandler(&b); });
  timer.registerOnRelativeTime(1, &a);
  timer.registerOnRelativeTime(1, &b);
  timer.registerOnRelativeTime(1, &c);
  clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(log.names(), ElementsAre("killer", "other", "a", "c"));
}

TEST(Timer, HandlerMayRegisterFromItsCallback) {
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler immediate("immediate", log), later("later", log), sibling("sibling", log), earlier("earlier", log);
  TestHandler registrar("registrar", log, [&] {
    timer.registerOnRelativeTime(-5, &earlier);
    timer.registerOnRelativeTime(0, &immediate);
    timer.registerOnRelativeTime(2, &later);
  });

  timer.registerOnRelativeTime(3, &registrar);
  timer.registerOnRelativeTime(3, &sibling);
  clock->advance(std::chrono::seconds(3));
  // The 0 s registration joins the entry being served and runs in the same pass, promptly; the
  // -5 s one makes an earlier entry, served only once the current entry is empty.
  const std::uint64_t due = t0 + 3 * kSecond;
  EXPECT_THAT(log.calls(), ElementsAre(Call{"registrar", due}, Call{"sibling", due}, Call{"immediate", due},
                                       Call{"earlier", due}));
  clock->advance(std::chrono::seconds(2));
  EXPECT_EQ(log.calls().back(), (Call{"later", t0 + 5 * kSecond}));
  EXPECT_EQ(log.calls().size(), 5u);
}

TEST(Timer, HandlersRunUnderTheSchedulerLockWithTheTimerLockFree) {
  ScopedManualClock clock;
  QVCriticalSection schedulerLock;
  CQVTimer timer;
  timer.setSchedulerLock(&schedulerLock);
  EXPECT_EQ(timer.getSchedulerLock(), &schedulerLock);
  CallLog log;
  TestHandler other("other", log), fromOtherThread("fromOtherThread", log);
  std::atomic<int> gotElsewhere{-1};
  std::atomic<int> reenteredHere{-1};
  std::atomic<int> timerLockFree{-1};

  TestHandler probe("probe", log, [&] {
    std::thread prober([&] { gotElsewhere = isFree(schedulerLock) ? 1 : 0; });
    prober.join();
    reenteredHere = isFree(schedulerLock) ? 1 : 0;  // recursive on the timer thread
    // Another thread can use the timer (its lock is free) while this callback runs.
    auto future = std::async(std::launch::async, [&] {
      long seconds = -1;
      timer.registerOnRelativeTime(1, &fromOtherThread);
      return timer.getRelativeTimeToNotifyHandler(&other, seconds) && seconds == 5;
    });
    if (future.wait_for(std::chrono::seconds(30)) == std::future_status::ready) {
      timerLockFree = future.get() ? 1 : 0;
    } else {
      timerLockFree = 0;  // blocked: the timer lock is held during the callback
    }
  });

  timer.registerOnRelativeTime(5, &other);
  timer.registerOnRelativeTime(0, &probe);
  clock->settle();
  EXPECT_THAT(log.names(), ElementsAre("probe"));
  EXPECT_EQ(gotElsewhere.load(), 0);  // held by the timer thread during the callback
  EXPECT_EQ(reenteredHere.load(), 1);
  EXPECT_EQ(timerLockFree.load(), 1);

  // Between passes the lock is free.
  ASSERT_TRUE(isFree(schedulerLock));
  clock->advance(std::chrono::seconds(1));
  EXPECT_THAT(log.names(), ElementsAre("probe", "fromOtherThread"));
}

TEST(Timer, DestroyingTheTimerNeverCallsPendingHandlers) {
  ScopedManualClock clock;
  CallLog log;
  TestHandler running("running", log), paused("paused", log), overdue("overdue", log);

  auto runningTimer = std::make_unique<CQVTimer>();
  runningTimer->registerOnRelativeTime(1, &running);
  runningTimer->registerOnRelativeTime(2, &running);
  auto pausedTimer = std::make_unique<CQVTimer>();
  pausedTimer->registerOnRelativeTime(1, &paused);
  pausedTimer->pause();
  pausedTimer->registerOnRelativeTime(-1, &overdue);
  clock->settle();

  runningTimer.reset();
  pausedTimer.reset();
  clock->advance(std::chrono::seconds(10));
  EXPECT_THAT(log.calls(), IsEmpty());

  // A timer destroyed right after a registration, before its thread settled.
  auto quick = std::make_unique<CQVTimer>();
  quick->registerOnRelativeTime(3, &running);
  quick.reset();
  clock->advance(std::chrono::seconds(5));
  EXPECT_THAT(log.calls(), IsEmpty());
}

TEST(Timer, IdleThreadTakesNoCpu) {
  ScopedManualClock clock;
  CQVTimer timer;
  const std::uint64_t t0 = clock->now();
  CallLog log;
  TestHandler far("far", log);
  ASSERT_NE(timer.getThreadId(), 0);
  // The timer thread tells who it is from a handler.
  pthread_t timerThread{};
  TestHandler identify("identify", log, [&] { timerThread = pthread_self(); });
  timer.registerOnRelativeTime(0, &identify);
  clock->settle();
  ASSERT_THAT(log.names(), ElementsAre("identify"));

  timer.registerOnRelativeTime(2 * 60 * 60, &far);
  clock->settle();
  const std::chrono::nanoseconds before = threadCpuTime(timerThread);
  ASSERT_GE(before.count(), 0);
  for (int minute = 0; minute < 60; ++minute) clock->advance(std::chrono::minutes(1));
  const std::chrono::nanoseconds after = threadCpuTime(timerThread);
  // An hour of waiting costs the timer thread (next to) nothing; bound, not an exact value.
  EXPECT_LT(after - before, std::chrono::milliseconds(5));
  EXPECT_THAT(log.names(), ElementsAre("identify"));

  // It was waiting, not gone: the registration is served on time.
  clock->advance(std::chrono::minutes(59));
  EXPECT_THAT(log.names(), ElementsAre("identify"));
  clock->advance(std::chrono::minutes(1));
  EXPECT_EQ(log.calls().back(), (Call{"far", t0 + 2 * 60 * 60 * kSecond}));
}
