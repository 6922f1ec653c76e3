#include "QVTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr std::uint64_t kSecond = QV_FILE_TIME_UNITS_PER_SECOND;
constexpr std::uint64_t kMillisecond = QV_FILE_TIME_UNITS_PER_MILLISECOND;

// Keeps the calling thread busy (never sleeping) for `duration` of steady time.
void spinFor(std::chrono::microseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < until) {
  }
}

// A QVThread that waits on `objects` plus a private exit event and calls `onSignal(index)` for
// every object it is released by. The destructor tells it to exit and joins it, so a test that
// fails half-way never leaves the thread blocked. The exit event comes first in the wait, so it
// wins even over an object that stays signalled.
class ServingThread {
 public:
  ServingThread(std::vector<QVWaitable*> objects, std::function<void(std::size_t)> onSignal)
      : objects_(std::move(objects)), onSignal_(std::move(onSignal)), thread_([this] { run(); }) {}
  ~ServingThread() { stop(); }
  ServingThread(const ServingThread&) = delete;
  ServingThread& operator=(const ServingThread&) = delete;

  void stop() {
    if (thread_.joinable()) {
      exit_.set();
      thread_.join();
    }
  }
  long id() const { return thread_.id(); }

 private:
  void run() {
    std::vector<QVWaitable*> all{&exit_};
    all.insert(all.end(), objects_.begin(), objects_.end());
    for (;;) {
      const std::size_t index = QVWaitForAny(all.data(), all.size());
      if (index == 0) return;
      onSignal_(index - 1);
    }
  }

  QVEvent exit_;
  const std::vector<QVWaitable*> objects_;
  const std::function<void(std::size_t)> onSignal_;
  QVThread thread_;  // last: starts once everything it uses exists
};

// Installs a clock for one test and restores the system clock afterwards.
class ScopedClock {
 public:
  explicit ScopedClock(std::shared_ptr<QVClock> clock) { QVSetClock(std::move(clock)); }
  ~ScopedClock() { QVSetClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

// Waits on the test thread without risking a hang: a signalled fallback event is appended, so
// when none of `objects` is signalled the answer is objects.size() instead of blocking for ever.
std::size_t waitNow(std::initializer_list<QVWaitable*> objects) {
  QVEvent fallback;
  fallback.set();
  std::vector<QVWaitable*> all(objects);
  all.push_back(&fallback);
  return QVWaitForAny(all.data(), all.size());
}

std::uint64_t fileTimeOfUnix(std::int64_t unixSeconds, int milliseconds = 0) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(QV_UNIX_EPOCH_AS_FILE_TIME) +
                                    unixSeconds * static_cast<std::int64_t>(kSecond) +
                                    milliseconds * static_cast<std::int64_t>(kMillisecond));
}

void expectSystemTime(std::uint64_t fileTime, int year, int month, int day, int dayOfWeek, int hour, int minute,
                      int second, int milliseconds) {
  SCOPED_TRACE("file time " + std::to_string(fileTime));
  QVSystemTime st{};
  ASSERT_TRUE(QVFileTimeToSystemTime(fileTime, st));
  EXPECT_EQ(st.year, year);
  EXPECT_EQ(st.month, month);
  EXPECT_EQ(st.day, day);
  EXPECT_EQ(st.dayOfWeek, dayOfWeek);
  EXPECT_EQ(st.hour, hour);
  EXPECT_EQ(st.minute, minute);
  EXPECT_EQ(st.second, second);
  EXPECT_EQ(st.milliseconds, milliseconds);
}

}  // namespace

TEST(ManualClock, StartsAtNewYear2026AndMovesOnlyByHand) {
  ScopedManualClock clock;
  EXPECT_EQ(clock->now(), QVManualClock::DEFAULT_START);
  EXPECT_EQ(clock->now(), fileTimeOfUnix(1767225600));
  EXPECT_EQ(clock->calendarSeconds(), 1767225600);
  EXPECT_EQ(QVNowFileTime(), clock->now());
  EXPECT_EQ(QVNowCalendarSeconds(), 1767225600);
  EXPECT_EQ(QVGetClock(), clock.get());
  expectSystemTime(clock->now(), 2026, 1, 1, 4, 0, 0, 0, 0);
  EXPECT_FALSE(clock->realTimeAt(clock->now() + kSecond).has_value());

  clock->advance(std::chrono::milliseconds(1500));
  EXPECT_EQ(clock->now(), QVManualClock::DEFAULT_START + 1500 * kMillisecond);
  EXPECT_EQ(QVNowCalendarSeconds(), 1767225601);  // whole seconds, truncated
  clock->advanceUnits(1);
  EXPECT_EQ(QVNowFileTime(), QVManualClock::DEFAULT_START + 1500 * kMillisecond + 1);

  QVManualClock beforeEpoch(QV_UNIX_EPOCH_AS_FILE_TIME - kSecond);
  EXPECT_EQ(beforeEpoch.calendarSeconds(), -1);
  QVManualClock atEpoch(QV_UNIX_EPOCH_AS_FILE_TIME);
  EXPECT_EQ(atEpoch.calendarSeconds(), 0);
}

TEST(ManualClock, TimerReleasesWaitingThreadExactlyAtItsDueTime) {
  ScopedManualClock clock;
  QVWaitableTimer timer;
  std::atomic<int> served{0};
  std::atomic<std::uint64_t> servedAt{0};
  ServingThread thread({&timer}, [&](std::size_t) {
    servedAt.store(QVNowFileTime());
    spinFor(std::chrono::microseconds(500));  // some work before the result shows
    served.fetch_add(1);
  });
  const std::uint64_t start = clock->now();
  timer.set(start + 5 * kSecond);
  EXPECT_TRUE(timer.isArmed());
  EXPECT_EQ(timer.dueTime(), start + 5 * kSecond);

  clock->advance(std::chrono::milliseconds(4999));
  EXPECT_EQ(served.load(), 0);
  EXPECT_TRUE(timer.isArmed());

  clock->advance(std::chrono::milliseconds(1));
  // advance() came back only after the thread served the timer and blocked again.
  EXPECT_EQ(served.load(), 1);
  EXPECT_EQ(servedAt.load(), start + 5 * kSecond);
  EXPECT_FALSE(timer.isArmed());  // the wait consumed it

  clock->advance(std::chrono::seconds(60));
  EXPECT_EQ(served.load(), 1);  // auto-reset: fires once
}

TEST(ManualClock, TimerDueInThePastSignalsAtOnce) {
  ScopedManualClock clock;
  QVWaitableTimer timer;
  std::atomic<int> served{0};
  ServingThread thread({&timer}, [&](std::size_t) {
    spinFor(std::chrono::microseconds(500));
    served.fetch_add(1);
  });
  const std::uint64_t start = clock->now();
  clock->settle();
  timer.set(start - 10 * kSecond);
  clock->settle();
  EXPECT_EQ(served.load(), 1);
  EXPECT_EQ(clock->now(), start);  // time did not move

  timer.set(start);  // exactly now counts as passed
  clock->settle();
  EXPECT_EQ(served.load(), 2);
  EXPECT_FALSE(timer.isArmed());

  // With the thread gone, the test thread itself is released at once too.
  thread.stop();
  timer.set(start - 1);
  EXPECT_EQ(waitNow({&timer}), 0u);
  EXPECT_FALSE(timer.isArmed());
  EXPECT_EQ(waitNow({&timer}), 1u);
}

TEST(ManualClock, RearmingReplacesTheEarlierSetting) {
  ScopedManualClock clock;
  QVWaitableTimer timer;
  QVEvent poke;
  std::mutex mutex;
  std::vector<std::pair<std::size_t, std::uint64_t>> served;
  ServingThread thread({&timer, &poke}, [&](std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex);
    served.emplace_back(index, QVNowFileTime());
  });
  auto servedSnapshot = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return served;
  };
  using Served = std::vector<std::pair<std::size_t, std::uint64_t>>;
  const std::uint64_t start = clock->now();

  // Earlier replacement: 10 s, then 2 s. Fires at 2 s and not again at 10 s.
  timer.set(start + 10 * kSecond);
  timer.set(start + 2 * kSecond);
  EXPECT_EQ(timer.dueTime(), start + 2 * kSecond);
  clock->advance(std::chrono::milliseconds(1999));
  EXPECT_TRUE(servedSnapshot().empty());
  clock->advance(std::chrono::milliseconds(1));
  EXPECT_EQ(servedSnapshot(), (Served{{0, start + 2 * kSecond}}));
  clock->advance(std::chrono::seconds(20));
  EXPECT_EQ(servedSnapshot(), (Served{{0, start + 2 * kSecond}}));

  // Later replacement while the thread is blocked on it: 25 s, then 40 s.
  const std::uint64_t t1 = clock->now();  // start + 22 s
  timer.set(t1 + 3 * kSecond);
  clock->settle();
  timer.set(t1 + 18 * kSecond);
  clock->advance(std::chrono::seconds(10));
  EXPECT_EQ(servedSnapshot().size(), 1u);
  clock->advance(std::chrono::seconds(8));
  EXPECT_EQ(servedSnapshot(), (Served{{0, start + 2 * kSecond}, {0, t1 + 18 * kSecond}}));

  // Not arming again keeps the earlier setting: another object released in between leaves the
  // timer armed for its original time.
  const std::uint64_t t2 = clock->now();
  timer.set(t2 + 5 * kSecond);
  clock->advance(std::chrono::seconds(1));
  poke.set();
  clock->settle();
  EXPECT_EQ(servedSnapshot().back(), std::make_pair(std::size_t{1}, t2 + kSecond));
  EXPECT_TRUE(timer.isArmed());
  EXPECT_EQ(timer.dueTime(), t2 + 5 * kSecond);
  clock->advance(std::chrono::milliseconds(3999));
  EXPECT_EQ(servedSnapshot().size(), 3u);
  clock->advance(std::chrono::milliseconds(1));
  EXPECT_EQ(servedSnapshot().size(), 4u);
  EXPECT_EQ(servedSnapshot().back(), std::make_pair(std::size_t{0}, t2 + 5 * kSecond));

  // A cancelled timer does not fire.
  timer.set(clock->now() + kSecond);
  timer.cancel();
  EXPECT_FALSE(timer.isArmed());
  clock->advance(std::chrono::seconds(5));
  EXPECT_EQ(servedSnapshot().size(), 4u);
}

TEST(WaitForAny, AnswersLowestSignalledIndexAndConsumesOneSignal) {
  ScopedManualClock clock;
  QVEvent e0, e1, e2;
  e2.set();
  e1.set();
  EXPECT_EQ(waitNow({&e0, &e1, &e2}), 1u);
  EXPECT_EQ(waitNow({&e0, &e1, &e2}), 2u);
  EXPECT_EQ(waitNow({&e0, &e1, &e2}), 3u);  // both signals were consumed

  // Auto-reset: two sets before a wait are one signal.
  e1.set();
  e1.set();
  EXPECT_EQ(waitNow({&e1}), 0u);
  EXPECT_EQ(waitNow({&e1}), 1u);

  // reset() withdraws a signal.
  e0.set();
  e0.reset();
  EXPECT_EQ(waitNow({&e0}), 1u);

  // The full-array form answers the same way.
  e2.set();
  QVWaitable* objects[] = {&e0, &e1, &e2};
  EXPECT_EQ(QVWaitForAny(objects, 3), 2u);

  // A timer and an event together: the lowest index wins, the other keeps its signal.
  QVWaitableTimer timer;
  timer.set(clock->now());
  e2.set();
  EXPECT_EQ(waitNow({&e2, &timer}), 0u);
  EXPECT_TRUE(timer.isArmed());
  EXPECT_EQ(waitNow({&e2, &timer}), 1u);
  EXPECT_FALSE(timer.isArmed());
  EXPECT_EQ(waitNow({&e2, &timer}), 2u);

  // A timer due later is not signalled until time gets there.
  timer.set(clock->now() + kMillisecond);
  EXPECT_EQ(waitNow({&timer}), 1u);
  clock->advanceUnits(kMillisecond);
  EXPECT_EQ(waitNow({&timer}), 0u);
}

TEST(WaitForAny, SettleWaitsForThreadWokenByEvent) {
  ScopedManualClock clock;
  QVEvent work;
  std::atomic<int> served{0};
  std::atomic<long> servingThreadId{0};
  ServingThread thread({&work}, [&](std::size_t index) {
    EXPECT_EQ(index, 0u);
    servingThreadId.store(QVCurrentThreadId());
    spinFor(std::chrono::milliseconds(2));  // served well after set() returned
    served.fetch_add(1);
  });
  const std::uint64_t start = clock->now();
  for (int round = 1; round <= 3; ++round) {
    work.set();
    clock->settle();
    EXPECT_EQ(served.load(), round);
  }
  EXPECT_EQ(clock->now(), start);
  EXPECT_EQ(servingThreadId.load(), thread.id());
  EXPECT_NE(thread.id(), QVCurrentThreadId());
}

TEST(WaitForAny, ReplacingTheClockWakesWaitersToRecomputeDeadlines) {
  ScopedManualClock clock;
  QVWaitableTimer timer;
  std::atomic<int> served{0};
  ServingThread thread({&timer}, [&](std::size_t) { served.fetch_add(1); });
  timer.set(clock->now() + 5 * kSecond);
  clock->settle();
  EXPECT_EQ(served.load(), 0);
  auto later = std::make_shared<QVManualClock>(QVManualClock::DEFAULT_START + 10 * kSecond);
  QVSetClock(later);
  later->settle();
  EXPECT_EQ(served.load(), 1);
  EXPECT_FALSE(timer.isArmed());
}

// A waitable timer served by its own thread, which records when it fired and re-arms it 15
// seconds later until it has fired `firings` times.
class RearmingTimer {
 public:
  explicit RearmingTimer(std::size_t firings)
      : thread_({&timer}, [this, firings](std::size_t) {
          const std::uint64_t now = QVNowFileTime();
          std::size_t fired = 0;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            firedAt_.push_back(now);
            fired = firedAt_.size();
          }
          if (fired < firings) timer.set(now + 15 * kSecond);
        }) {}

  std::vector<std::uint64_t> firedAt() {
    std::lock_guard<std::mutex> lock(mutex_);
    return firedAt_;
  }

  QVWaitableTimer timer;

 private:
  std::mutex mutex_;
  std::vector<std::uint64_t> firedAt_;
  ServingThread thread_;  // last: starts once the members above exist
};

TEST(ManualClock, RunUntilIdleFollowsTimersRearmedByAThread) {
  ScopedManualClock clock;
  RearmingTimer rearming(4);  // re-armed three times
  const std::uint64_t start = clock->now();
  rearming.timer.set(start + 15 * kSecond);
  EXPECT_TRUE(clock->runUntilIdle(std::chrono::hours(1)));
  EXPECT_EQ(rearming.firedAt(), (std::vector<std::uint64_t>{start + 15 * kSecond, start + 30 * kSecond,
                                                              start + 45 * kSecond, start + 60 * kSecond}));
  EXPECT_EQ(clock->now(), start + 60 * kSecond);  // the last due time, not the limit
  EXPECT_FALSE(rearming.timer.isArmed());

  // Nothing armed: returns at once without moving time.
  EXPECT_TRUE(clock->runUntilIdle(std::chrono::hours(1)));
  EXPECT_EQ(clock->now(), start + 60 * kSecond);
}

TEST(ManualClock, AdvanceServesEveryDueTimeOnTheWay) {
  ScopedManualClock clock;
  RearmingTimer rearming(5);
  QVWaitableTimer& timer = rearming.timer;
  using Times = std::vector<std::uint64_t>;
  const std::uint64_t start = clock->now();
  timer.set(start + 15 * kSecond);

  clock->advance(std::chrono::seconds(50));
  EXPECT_EQ(rearming.firedAt(), (Times{start + 15 * kSecond, start + 30 * kSecond, start + 45 * kSecond}));
  EXPECT_EQ(clock->now(), start + 50 * kSecond);
  EXPECT_TRUE(timer.isArmed());
  EXPECT_EQ(timer.dueTime(), start + 60 * kSecond);

  clock->advance(std::chrono::seconds(100));
  EXPECT_EQ(rearming.firedAt(), (Times{start + 15 * kSecond, start + 30 * kSecond, start + 45 * kSecond,
                                       start + 60 * kSecond, start + 75 * kSecond}));
  EXPECT_EQ(clock->now(), start + 150 * kSecond);  // advance always ends at its full length
  EXPECT_FALSE(timer.isArmed());
}

TEST(ManualClock, RunUntilIdleStopsAtTheLimit) {
  ScopedManualClock clock;
  QVWaitableTimer timer;
  std::atomic<int> served{0};
  ServingThread thread({&timer}, [&](std::size_t) { served.fetch_add(1); });
  const std::uint64_t start = clock->now();
  timer.set(start + 100 * kSecond);
  EXPECT_FALSE(clock->runUntilIdle(std::chrono::seconds(30)));
  EXPECT_EQ(clock->now(), start + 30 * kSecond);
  EXPECT_EQ(served.load(), 0);
  EXPECT_TRUE(timer.isArmed());

  // A due time exactly at the limit is reached.
  EXPECT_TRUE(clock->runUntilIdle(std::chrono::seconds(70)));
  EXPECT_EQ(clock->now(), start + 100 * kSecond);
  EXPECT_EQ(served.load(), 1);
}

TEST(ManualClock, SettleThrowsWhenAThreadStaysBusy) {
  ScopedManualClock clock;
  clock->setSettleTimeout(std::chrono::milliseconds(20));
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> started;
  QVThread busy([&] {
    started.set_value();
    released.wait();  // not a platform wait: the clock counts this thread as busy
  });
  started.get_future().wait();
  EXPECT_THROW(clock->settle(), std::runtime_error);
  release.set_value();
  busy.join();
  EXPECT_FALSE(busy.joinable());
  clock->setSettleTimeout(std::chrono::seconds(60));
  EXPECT_NO_THROW(clock->settle());  // an ended thread no longer counts
}

TEST(ScaledClock, RunsFasterThanRealTime) {
  QVScaledClock clock(1000);
  EXPECT_EQ(clock.speed(), 1000.0);
  const std::uint64_t before = clock.now();
  spinFor(std::chrono::milliseconds(5));
  const std::uint64_t after = clock.now();
  ASSERT_GT(after, before);
  EXPECT_GE(after - before, 4 * kSecond);

  // Ten seconds of clock time are ten milliseconds of real time away.
  const auto realBefore = std::chrono::steady_clock::now();
  const std::uint64_t read = clock.now();
  const auto realAfter = std::chrono::steady_clock::now();
  const auto at = clock.realTimeAt(read + 10 * kSecond);
  ASSERT_TRUE(at.has_value());
  EXPECT_GE(*at, realBefore + std::chrono::milliseconds(9));
  EXPECT_LE(*at, realAfter + std::chrono::milliseconds(11));
  const auto past = clock.realTimeAt(clock.now() - 10 * kSecond);
  ASSERT_TRUE(past.has_value());
  EXPECT_LT(*past, std::chrono::steady_clock::now());

  // Starts near the real time; a non-positive speed runs at real speed.
  const std::uint64_t system = fileTimeOfUnix(std::chrono::duration_cast<std::chrono::seconds>(
                                                  std::chrono::system_clock::now().time_since_epoch())
                                                  .count());
  QVScaledClock normal(0);
  EXPECT_EQ(normal.speed(), 1.0);
  EXPECT_EQ(QVScaledClock(-3).speed(), 1.0);
  EXPECT_NEAR(static_cast<double>(normal.now()), static_cast<double>(system), 5.0 * kSecond);
}

// Extreme speeds and due times: readings never wrap and saturate at the largest file time, a
// deadline ahead is never put in the past (a waiter would spin on it) and never overflows.
TEST(ScaledClock, ConversionsSaturateAtEverySpeed) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    double speed;
    std::uint64_t ahead;  // due time ahead of now, in file-time units
  };
  const std::vector<Case> cases = {
      {0.001, 400000000ULL * kSecond}, {1e-300, kSecond}, {0.2, kMax / 2}, {1.0, kMax / 2},
      {1e6, kMax / 4},                 {1e308, kSecond},
  };
  for (const Case& c : cases) {
    const QVScaledClock clock(c.speed);
    const std::uint64_t first = clock.now();
    spinFor(std::chrono::microseconds(50));
    const std::uint64_t second = clock.now();
    EXPECT_GE(second, first) << c.speed;
    if (c.speed > 1e300) {
      EXPECT_EQ(second, kMax) << "saturates rather than wrapping, speed " << c.speed;
    }
    if (second >= kMax - c.ahead) continue;  // nothing is ahead of the largest file time
    const auto at = clock.realTimeAt(second + c.ahead);
    ASSERT_TRUE(at.has_value());
    EXPECT_GT(*at, std::chrono::steady_clock::now()) << "speed " << c.speed;
    const auto behind = clock.realTimeAt(0);
    ASSERT_TRUE(behind.has_value());
    EXPECT_LT(*behind, std::chrono::steady_clock::now()) << "speed " << c.speed;
  }
  EXPECT_EQ(QVScaledClock(std::nan("")).speed(), 1.0);
  EXPECT_EQ(QVScaledClock(std::numeric_limits<double>::infinity()).speed(), 1.0);
  // The system clock too: "never" is far ahead, not in the past.
  const auto never = QVSystemClock().realTimeAt(kMax);
  ASSERT_TRUE(never.has_value());
  EXPECT_GT(*never, std::chrono::steady_clock::now() + std::chrono::hours(24 * 365));
}

TEST(ScaledClock, TimerFiresOnItsOwnInRealTime) {
  ScopedClock installed(std::make_shared<QVScaledClock>(1000));
  QVWaitableTimer timer;
  std::promise<std::uint64_t> fired;
  std::future<std::uint64_t> firedAt = fired.get_future();
  std::atomic<bool> once{false};
  ServingThread thread({&timer}, [&](std::size_t) {
    if (!once.exchange(true)) fired.set_value(QVNowFileTime());
  });
  // First a setting a day ahead (over a minute of real time); once the thread blocks on it,
  // re-arming must make it recompute its deadline.
  timer.set(QVNowFileTime() + 86400 * kSecond);
  QVManualClock().settle();  // settling is process-wide: returns once the thread is blocked
  const std::uint64_t due = QVNowFileTime() + 2 * kSecond;  // about 2 ms of real time
  timer.set(due);
  ASSERT_EQ(firedAt.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_GE(firedAt.get(), due);
}

TEST(SystemClock, SetClockNullRestoresSystemTime) {
  {
    ScopedManualClock clock;
    ASSERT_EQ(QVNowFileTime(), QVManualClock::DEFAULT_START);
  }
  QVSetClock(std::make_shared<QVManualClock>(QV_UNIX_EPOCH_AS_FILE_TIME));
  EXPECT_EQ(QVNowCalendarSeconds(), 0);
  QVSetClock(nullptr);
  const std::shared_ptr<QVClock> clock = QVGetClock();
  ASSERT_NE(clock, nullptr);
  EXPECT_NE(dynamic_cast<QVSystemClock*>(clock.get()), nullptr);

  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const auto expected = QV_UNIX_EPOCH_AS_FILE_TIME +
                        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count()) * 10;
  EXPECT_NEAR(static_cast<double>(QVNowFileTime()), static_cast<double>(expected), 2.0 * kSecond);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
  EXPECT_NEAR(QVNowCalendarSeconds(), static_cast<double>(seconds), 2.0);

  const auto at = clock->realTimeAt(clock->now() + 3 * kSecond);
  ASSERT_TRUE(at.has_value());
  const auto ahead = *at - std::chrono::steady_clock::now();
  EXPECT_GT(ahead, std::chrono::seconds(2));
  EXPECT_LT(ahead, std::chrono::seconds(4));
}

TEST(FileTime, ConvertsKnownValues) {
  expectSystemTime(0, 1601, 1, 1, 1, 0, 0, 0, 0);  // a Monday
  expectSystemTime(9999, 1601, 1, 1, 1, 0, 0, 0, 0);
  expectSystemTime(QV_UNIX_EPOCH_AS_FILE_TIME, 1970, 1, 1, 4, 0, 0, 0, 0);

  // 2026-12-06 16:42:33.123 UTC (a Sunday) plus a fraction of a millisecond.
  expectSystemTime(fileTimeOfUnix(1796575353, 123) + 4567, 2026, 12, 6, 0, 16, 42, 33, 123);

  // Leap days: 2024 is a leap year, 1900 is not, 2000 is.
  const std::uint64_t leapDayEnd = fileTimeOfUnix(1709251199, 999);
  expectSystemTime(leapDayEnd, 2024, 2, 29, 4, 23, 59, 59, 999);
  expectSystemTime(leapDayEnd + kMillisecond, 2024, 3, 1, 5, 0, 0, 0, 0);
  const std::uint64_t noon19000228 = fileTimeOfUnix(-2203934400);
  expectSystemTime(noon19000228, 1900, 2, 28, 3, 12, 0, 0, 0);
  expectSystemTime(noon19000228 + 86400 * kSecond, 1900, 3, 1, 4, 12, 0, 0, 0);
  expectSystemTime(fileTimeOfUnix(951782400), 2000, 2, 29, 2, 0, 0, 0, 0);
}

TEST(FileTime, RejectsValuesOutOfRange) {
  const std::uint64_t year30828 = 9223149888000000000ULL;  // 30828-01-01 00:00:00
  // The calendar repeats every 400 years, so this is a Friday like 2827-12-31.
  expectSystemTime(year30828 - kMillisecond, 30827, 12, 31, 5, 23, 59, 59, 999);
  QVSystemTime st{};
  EXPECT_FALSE(QVFileTimeToSystemTime(year30828, st));
  EXPECT_FALSE(QVFileTimeToSystemTime(0x7FFFFFFFFFFFFFFFULL, st));
  EXPECT_FALSE(QVFileTimeToSystemTime(0x8000000000000000ULL, st));
  EXPECT_FALSE(QVFileTimeToSystemTime(UINT64_MAX, st));
}

TEST(WinTypes, ComErrorMessages) {
  const _com_error pointer(E_POINTER);
  EXPECT_EQ(pointer.Error(), E_POINTER);
  ASSERT_NE(pointer.ErrorMessage(), nullptr);
  const std::string pointerText = pointer.ErrorMessage();
  EXPECT_FALSE(pointerText.empty());
  EXPECT_EQ(pointerText.find("Unknown error"), std::string::npos);
  EXPECT_EQ(std::string(pointer.ErrorMessage()), pointerText);  // stable across calls
  EXPECT_NE(std::string(_com_error(E_FAIL).ErrorMessage()), pointerText);

  EXPECT_STREQ(_com_error(static_cast<HRESULT>(0x80040201u)).ErrorMessage(), "IDispatch error #1");
  EXPECT_STREQ(_com_error(static_cast<HRESULT>(0x80040210u)).ErrorMessage(), "IDispatch error #16");
  const _com_error unknown(static_cast<HRESULT>(0x80991234u));
  EXPECT_EQ(static_cast<std::uint32_t>(unknown.Error()), 0x80991234u);
  EXPECT_STREQ(unknown.ErrorMessage(), "Unknown error 0x80991234");
  EXPECT_STREQ(_com_error(static_cast<HRESULT>(0x80ABCDEFu)).ErrorMessage(), "Unknown error 0x80ABCDEF");

  EXPECT_TRUE(FAILED(E_POINTER));
  EXPECT_FALSE(SUCCEEDED(E_INVALIDARG));
  EXPECT_TRUE(SUCCEEDED(S_OK));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_FALSE(FAILED(S_FALSE));
}

TEST(WinTypes, LargeIntegerHalves) {
  ULARGE_INTEGER value = QVMakeULargeInteger(0x0123456789ABCDEFULL);
  EXPECT_EQ(value.LowPart, 0x89ABCDEFu);
  EXPECT_EQ(value.HighPart, 0x01234567u);
  value.LowPart = 0xFFFFFFFFu;
  EXPECT_EQ(value.QuadPart, 0x01234567FFFFFFFFULL);
  value.QuadPart += 1;  // carries into the high half
  EXPECT_EQ(value.LowPart, 0u);
  EXPECT_EQ(value.HighPart, 0x01234568u);
  value.HighPart = 0;
  EXPECT_EQ(value.QuadPart, 0ULL);
  static_assert(sizeof(ULARGE_INTEGER) == 8, "ULARGE_INTEGER is 64 bits");
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  QVCriticalSection section;
  EXPECT_FALSE(section.isHeldByCurrentThread());
  bool otherGot = true;
  bool otherHolds = true;
  {
    const QVCriticalSectionLock lock(section);
    EXPECT_TRUE(isFree(section)) << "the holder enters again (and leaves)";
    EXPECT_TRUE(section.isHeldByCurrentThread()) << "held until left as often as entered";
    std::thread([&] {
      otherGot = isFree(section);
      otherHolds = section.isHeldByCurrentThread();
    }).join();
    EXPECT_FALSE(otherGot);
    EXPECT_FALSE(otherHolds);
  }
  EXPECT_FALSE(section.isHeldByCurrentThread());
  std::thread([&] { otherGot = isFree(section); }).join();
  EXPECT_TRUE(otherGot);
}

TEST(Thread, KnowsItsOwnIdentity) {
  std::promise<std::pair<long, bool>> seen;
  std::future<std::pair<long, bool>> result = seen.get_future();
  QVEvent go;
  QVThread* self = nullptr;
  QVThread thread([&] {
    QVWaitable* objects[] = {&go};
    QVWaitForAny(objects, 1);  // `self` is set before `go`
    seen.set_value({QVCurrentThreadId(), self->isCurrentThread()});
  });
  self = &thread;
  EXPECT_TRUE(thread.joinable());
  EXPECT_FALSE(thread.isCurrentThread());
  go.set();
  const auto [id, isCurrent] = result.get();
  EXPECT_EQ(id, thread.id());
  EXPECT_NE(id, QVCurrentThreadId());
  EXPECT_TRUE(isCurrent);
  thread.join();
  EXPECT_FALSE(thread.joinable());
  thread.join();  // a second join is harmless
}
