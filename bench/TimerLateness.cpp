// Timer lateness on the real clock: how long after its due time a handler of CQVTimer starts,
// compared with a bare condition-variable loop, libuv timers and asio steady timers that are given
// the same due times.
//
// Each run registers N handlers, each due a random whole number of seconds (1..W). The baselines
// take absolute due times from a steady instant t0 taken just before the registration loop; the
// library's timer takes a time relative to its registration call, so each of its handlers is due
// that many seconds after the steady instant taken just before its own call. A handler's lateness
// is the steady time at the start of its callback minus its due time, in microseconds; it is
// negative when the handler ran early (the timer may run a handler up to its 1 ms join window
// early, with the entry it joined). Every repetition runs all systems one after the other on the same due times
// (one seed per repetition); the table shows the median over repetitions of each system's p50, p99
// and minimum.
//
// Usage: qvschedule_bench_lateness [--smoke] [--window SECONDS] [--handlers N] [--repetitions R]

#include "BenchTable.h"
#include "QVTimeHandler.h"
#include "QVTimer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef QV_BENCH_HAVE_LIBUV
#include <uv.h>
#endif
#ifdef QV_BENCH_HAVE_ASIO
#include <asio.hpp>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Extra time, after the last due time, a run may take before it counts as broken.
constexpr std::chrono::seconds kGrace(5);

struct Settings {
  long windowSeconds = 60;
  std::size_t handlers = 2000;
  int repetitions = 3;
};

// Start times of the callbacks of one run, one slot per handler. Callbacks of one system all run
// on one thread; the main thread waits until every slot was hit once or the deadline passed.
class Recorder {
 public:
  explicit Recorder(std::size_t count) : started_(count), hits_(count, 0) {}

  void hit(std::size_t index) {
    const Clock::time_point now = Clock::now();  // first, so that the bookkeeping is not measured
    std::lock_guard<std::mutex> lock(mutex_);
    if (hits_[index]++ == 0) {
      started_[index] = now;
      if (++distinct_ == started_.size()) done_.notify_all();
    } else {
      ++repeated_;
    }
  }

  // True when every handler ran before `deadline`.
  bool waitAll(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_until(lock, deadline, [this] { return distinct_ == started_.size(); });
  }

  // Read once the firing thread has stopped (or everything ran).
  std::size_t distinct() {
    std::lock_guard<std::mutex> lock(mutex_);
    return distinct_;
  }
  std::size_t repeated() {
    std::lock_guard<std::mutex> lock(mutex_);
    return repeated_;
  }
  const std::vector<Clock::time_point>& started() const { return started_; }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<Clock::time_point> started_;
  std::vector<unsigned> hits_;
  std::size_t distinct_ = 0;
  std::size_t repeated_ = 0;
};

// Ends the process when a run does not end in time: a stuck thread would otherwise block the join
// (or the timer's stopThread) forever. The runs' own bounded waits report lost handlers first.
class Watchdog {
 public:
  Watchdog() : thread_([this] { watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void arm(Clock::duration limit, std::string what) {
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = Clock::now() + limit;
    what_ = std::move(what);
    armed_ = true;
    changed_.notify_all();
  }
  void disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    changed_.notify_all();
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
      if (!armed_) {
        changed_.wait(lock);
      } else if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ && !quit_ &&
                 Clock::now() >= deadline_) {
        std::fprintf(stderr, "error: %s did not end in time\n", what_.c_str());
        std::fflush(stderr);
        std::_Exit(1);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  Clock::time_point deadline_;
  std::string what_;
  bool armed_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

struct RunResult {
  bool ok = false;
  std::string error;
  std::vector<double> latenessUs;
  double registrationUs = 0.0;
};

// Lateness of every handler, or an error when one did not run exactly once.
// `origins`: the instant each handler's due seconds count from; empty when all count from t0.
RunResult collect(const char* system, Recorder& recorder, bool completed, Clock::time_point t0,
                  Clock::time_point registered, const std::vector<long>& dueSeconds,
                  const std::vector<Clock::time_point>& origins = {}) {
  RunResult result;
  result.registrationUs = std::chrono::duration<double, std::micro>(registered - t0).count();
  const std::size_t fired = recorder.distinct();
  if (!completed || fired != dueSeconds.size()) {
    result.error = std::string(system) + ": only " + std::to_string(fired) + " of " +
                   std::to_string(dueSeconds.size()) + " handlers ran within the window plus " +
                   std::to_string(kGrace.count()) + " s";
    return result;
  }
  if (recorder.repeated() != 0) {
    result.error = std::string(system) + ": " + std::to_string(recorder.repeated()) + " handler call(s) repeated";
    return result;
  }
  result.latenessUs.reserve(dueSeconds.size());
  for (std::size_t i = 0; i < dueSeconds.size(); ++i) {
    const Clock::time_point due = (origins.empty() ? t0 : origins[i]) + std::chrono::seconds(dueSeconds[i]);
    result.latenessUs.push_back(std::chrono::duration<double, std::micro>(recorder.started()[i] - due).count());
  }
  result.ok = true;
  return result;
}

Clock::time_point runDeadline(Clock::time_point t0, const Settings& settings) {
  return t0 + std::chrono::seconds(settings.windowSeconds) + kGrace;
}

// ---- ours -------------------------------------------------------------------------------------

struct LatenessHandler final : CQVTimeHandler {
  Recorder* recorder = nullptr;
  std::size_t index = 0;
  void onTime() override { recorder->hit(index); }
};

RunResult runOurs(CQVTimer& timer, const std::vector<long>& dueSeconds, const Settings& settings) {
  Recorder recorder(dueSeconds.size());
  std::vector<LatenessHandler> handlers(dueSeconds.size());
  for (std::size_t i = 0; i < handlers.size(); ++i) {
    handlers[i].recorder = &recorder;
    handlers[i].index = i;
  }
  std::vector<Clock::time_point> origins(handlers.size());
  const Clock::time_point t0 = Clock::now();
  for (std::size_t i = 0; i < handlers.size(); ++i) {
    origins[i] = Clock::now();
    timer.registerOnRelativeTime(dueSeconds[i], &handlers[i]);
  }
  const Clock::time_point registered = Clock::now();
  const bool completed = recorder.waitAll(runDeadline(t0, settings));
  // The handlers die with this function: the timer must not reach them any more.
  if (!completed) timer.stopThread();
  return collect("ours", recorder, completed, t0, registered, dueSeconds, origins);
}

// ---- bare condition_variable loop ---------------------------------------------------------------

RunResult runBare(const std::vector<long>& dueSeconds, const Settings& settings) {
  Recorder recorder(dueSeconds.size());
  std::vector<std::size_t> order(dueSeconds.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return dueSeconds[a] < dueSeconds[b]; });

  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;

  const Clock::time_point t0 = Clock::now();
  // One wait per distinct due second, then every handler of that second in turn.
  std::thread loop([&] {
    std::unique_lock<std::mutex> lock(mutex);
    std::size_t next = 0;
    while (next < order.size()) {
      const long second = dueSeconds[order[next]];
      if (wake.wait_until(lock, t0 + std::chrono::seconds(second), [&] { return stop; })) return;
      while (next < order.size() && dueSeconds[order[next]] == second) recorder.hit(order[next++]);
    }
  });
  const Clock::time_point registered = Clock::now();
  const bool completed = recorder.waitAll(runDeadline(t0, settings));
  {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
  }
  wake.notify_all();
  loop.join();
  return collect("bare", recorder, completed, t0, registered, dueSeconds);
}

// ---- libuv ------------------------------------------------------------------------------------

#ifdef QV_BENCH_HAVE_LIBUV
struct UvSlot {
  uv_timer_t timer;
  Recorder* recorder = nullptr;
  std::size_t index = 0;
};

struct UvRun {
  uv_loop_t loop;
  uv_async_t stop;
  std::vector<UvSlot> slots;
};

void onUvTimer(uv_timer_t* timer) {
  const auto* slot = static_cast<const UvSlot*>(timer->data);
  slot->recorder->hit(slot->index);
}

// Closes every handle, so that uv_run returns.
void onUvStop(uv_async_t* async) {
  auto* run = static_cast<UvRun*>(async->data);
  for (UvSlot& slot : run->slots) uv_close(reinterpret_cast<uv_handle_t*>(&slot.timer), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(&run->stop), nullptr);
}

RunResult runLibuv(const std::vector<long>& dueSeconds, const Settings& settings) {
  Recorder recorder(dueSeconds.size());
  auto run = std::make_unique<UvRun>();
  run->slots.resize(dueSeconds.size());

  // Set up by the loop thread (libuv handles belong to the loop's thread); published under `mutex`.
  std::mutex mutex;
  std::condition_variable readyCv;
  bool ready = false;
  int initError = 0;
  Clock::time_point t0;
  Clock::time_point registered;

  std::thread loop([&] {
    int error = uv_loop_init(&run->loop);
    if (error == 0) {
      error = uv_async_init(&run->loop, &run->stop, onUvStop);
      if (error != 0) uv_loop_close(&run->loop);
    }
    if (error != 0) {
      std::lock_guard<std::mutex> lock(mutex);
      initError = error;
      ready = true;
      readyCv.notify_all();
      return;
    }
    run->stop.data = run.get();
    const Clock::time_point start = Clock::now();
    uv_update_time(&run->loop);
    // libuv's loop time is whole milliseconds of the monotonic clock; the offset to steady_clock
    // (zero on Linux, where both read CLOCK_MONOTONIC) is measured rather than assumed.
    const std::int64_t offsetNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count() -
        static_cast<std::int64_t>(uv_hrtime());
    const std::int64_t loopNowNs = static_cast<std::int64_t>(uv_now(&run->loop)) * 1000000 + offsetNs;
    const std::int64_t t0Ns = std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    for (std::size_t i = 0; i < dueSeconds.size(); ++i) {
      UvSlot& slot = run->slots[i];
      slot.recorder = &recorder;
      slot.index = i;
      uv_timer_init(&run->loop, &slot.timer);
      slot.timer.data = &slot;
      // The first whole loop millisecond not before t0 + due: a uv timer fires once the loop time
      // has reached its start time plus the timeout.
      const std::int64_t untilDueNs = t0Ns + dueSeconds[i] * 1000000000LL - loopNowNs;
      const std::int64_t timeoutMs = untilDueNs <= 0 ? 0 : (untilDueNs + 999999) / 1000000;
      uv_timer_start(&slot.timer, onUvTimer, static_cast<std::uint64_t>(timeoutMs), 0);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      t0 = start;
      registered = Clock::now();
      ready = true;
      readyCv.notify_all();
    }
    uv_run(&run->loop, UV_RUN_DEFAULT);
    uv_loop_close(&run->loop);
  });

  {
    std::unique_lock<std::mutex> lock(mutex);
    readyCv.wait(lock, [&] { return ready; });
  }
  if (initError != 0) {
    loop.join();
    RunResult result;
    result.error = std::string("libuv: loop set-up failed: ") + uv_strerror(initError);
    return result;
  }
  const bool completed = recorder.waitAll(runDeadline(t0, settings));
  uv_async_send(&run->stop);
  loop.join();
  return collect("libuv", recorder, completed, t0, registered, dueSeconds);
}
#endif

// ---- asio -------------------------------------------------------------------------------------

#ifdef QV_BENCH_HAVE_ASIO
RunResult runAsio(const std::vector<long>& dueSeconds, const Settings& settings) {
  Recorder recorder(dueSeconds.size());
  asio::io_context io;
  std::vector<asio::steady_timer> timers;
  timers.reserve(dueSeconds.size());  // no reallocation: waits are pending on these objects

  const Clock::time_point t0 = Clock::now();
  for (std::size_t i = 0; i < dueSeconds.size(); ++i) {
    timers.emplace_back(io);
    timers.back().expires_at(t0 + std::chrono::seconds(dueSeconds[i]));
    timers.back().async_wait([&recorder, i](const asio::error_code& error) {
      if (!error) recorder.hit(i);
    });
  }
  const Clock::time_point registered = Clock::now();
  std::thread loop([&io] { io.run(); });
  const bool completed = recorder.waitAll(runDeadline(t0, settings));
  if (!completed) io.stop();
  loop.join();
  return collect("asio", recorder, completed, t0, registered, dueSeconds);
}
#endif

// ---- figures ----------------------------------------------------------------------------------

struct Figures {
  std::vector<double> p50, p99, min;
  bool built = false;

  void add(const RunResult& run) {
    built = true;
    p50.push_back(qvbench::percentile(run.latenessUs, 50));
    p99.push_back(qvbench::percentile(run.latenessUs, 99));
    min.push_back(*std::min_element(run.latenessUs.begin(), run.latenessUs.end()));
  }
  double medianP50() const { return qvbench::median(p50); }
  double medianP99() const { return qvbench::median(p99); }
  double medianMin() const { return qvbench::median(min); }
};

void report(const char* system, int repetition, const Settings& settings, const RunResult& run) {
  const double maxUs = *std::max_element(run.latenessUs.begin(), run.latenessUs.end());
  std::fprintf(stderr, "repetition %d/%d %-5s p50 %s  p99 %s  min %s  max %s  (registration %s)\n", repetition,
               settings.repetitions, system,
               qvbench::formatSeconds(qvbench::percentile(run.latenessUs, 50) * 1e-6).c_str(),
               qvbench::formatSeconds(qvbench::percentile(run.latenessUs, 99) * 1e-6).c_str(),
               qvbench::formatSeconds(*std::min_element(run.latenessUs.begin(), run.latenessUs.end()) * 1e-6).c_str(),
               qvbench::formatSeconds(maxUs * 1e-6).c_str(), qvbench::formatSeconds(run.registrationUs * 1e-6).c_str());
  // A slow registration loop shifts every due time of the system that registered late.
  if (run.registrationUs > 1000.0) {
    std::fprintf(stderr, "  note: %s took %s to register %zu handlers\n", system,
                 qvbench::formatSeconds(run.registrationUs * 1e-6).c_str(), run.latenessUs.size());
  }
}

std::string us(double microseconds) { return qvbench::formatSeconds(microseconds * 1e-6); }

std::string ratio(double ours, double baseline) {
  return baseline > 0 ? qvbench::formatRatio(ours / baseline) : std::string("—");
}

// Rows against libuv or asio: ours must be no later than the baseline.
void printLibraryRows(const char* name, const Figures& ours, const Figures& baseline, const char* targetName) {
  const std::string target = std::string("≤ ") + targetName;
  const std::string p50Figure = std::string("timer lateness p50 vs ") + name;
  const std::string p99Figure = std::string("timer lateness p99 vs ") + name;
  if (!baseline.built) {
    qvbench::printRow(p50Figure, us(ours.medianP50()), "not built", "—", target, false);
    qvbench::printRow(p99Figure, us(ours.medianP99()), "not built", "—", target, false);
    return;
  }
  qvbench::printRow(p50Figure, us(ours.medianP50()), us(baseline.medianP50()),
                    ratio(ours.medianP50(), baseline.medianP50()), target, ours.medianP50() <= baseline.medianP50());
  qvbench::printRow(p99Figure, us(ours.medianP99()), us(baseline.medianP99()),
                    ratio(ours.medianP99(), baseline.medianP99()), target, ours.medianP99() <= baseline.medianP99());
}

bool parsePositive(const char* text, long maximum, long& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 1 || parsed > maximum) return false;
  value = parsed;
  return true;
}

std::optional<Settings> parseArguments(int argc, char** argv) {
  Settings settings;
  if (qvbench::smokeMode()) {
    settings.windowSeconds = 2;
    settings.handlers = 50;
    settings.repetitions = 1;
  }
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    long value = 0;
    if (std::strcmp(argv[i], "--window") == 0 && hasValue && parsePositive(argv[i + 1], 86400, value)) {
      settings.windowSeconds = value;
    } else if (std::strcmp(argv[i], "--handlers") == 0 && hasValue && parsePositive(argv[i + 1], 10000000, value)) {
      settings.handlers = static_cast<std::size_t>(value);
    } else if (std::strcmp(argv[i], "--repetitions") == 0 && hasValue && parsePositive(argv[i + 1], 1000, value)) {
      settings.repetitions = static_cast<int>(value);
    } else {
      std::fprintf(stderr, "usage: %s [--smoke] [--window SECONDS] [--handlers N] [--repetitions R]\n", argv[0]);
      return std::nullopt;
    }
    ++i;
  }
  return settings;
}

bool check(const RunResult& run) {
  if (run.ok) return true;
  std::fprintf(stderr, "error: %s\n", run.error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  qvbench::parseSmoke(argc, argv);
  const std::optional<Settings> parsed = parseArguments(argc, argv);
  if (!parsed) return 2;
  const Settings settings = *parsed;

  std::fprintf(stderr, "timer lateness: %zu handlers over %ld s, %d repetition(s); systems: ours, bare",
               settings.handlers, settings.windowSeconds, settings.repetitions);
#ifdef QV_BENCH_HAVE_LIBUV
  std::fprintf(stderr, ", libuv");
#endif
#ifdef QV_BENCH_HAVE_ASIO
  std::fprintf(stderr, ", asio");
#endif
  std::fprintf(stderr, "\n");

  Watchdog watchdog;  // declared before the timer: it also guards the timer's shutdown
  CQVTimer timer;
  Figures oursStats, bareStats, libuvStats, asioStats;
  const Clock::duration runLimit = std::chrono::seconds(settings.windowSeconds) + kGrace + std::chrono::seconds(10);
  const auto guarded = [&](const char* system, auto run) {
    watchdog.arm(runLimit, std::string(system) + " run");
    RunResult result = run();
    watchdog.disarm();
    return result;
  };

  for (int repetition = 1; repetition <= settings.repetitions; ++repetition) {
    // The same due times for every system of this repetition.
    std::mt19937 random(0x51A7E000u + static_cast<unsigned>(repetition));
    std::uniform_int_distribution<long> dueDistribution(1, settings.windowSeconds);
    std::vector<long> dueSeconds(settings.handlers);
    for (long& due : dueSeconds) due = dueDistribution(random);

    const RunResult oursRun = guarded("ours", [&] { return runOurs(timer, dueSeconds, settings); });
    if (!check(oursRun)) return 1;
    report("ours", repetition, settings, oursRun);
    oursStats.add(oursRun);

    const RunResult bareRun = guarded("bare", [&] { return runBare(dueSeconds, settings); });
    if (!check(bareRun)) return 1;
    report("bare", repetition, settings, bareRun);
    bareStats.add(bareRun);

#ifdef QV_BENCH_HAVE_LIBUV
    const RunResult libuvRun = guarded("libuv", [&] { return runLibuv(dueSeconds, settings); });
    if (!check(libuvRun)) return 1;
    report("libuv", repetition, settings, libuvRun);
    libuvStats.add(libuvRun);
#endif

#ifdef QV_BENCH_HAVE_ASIO
    const RunResult asioRun = guarded("asio", [&] { return runAsio(dueSeconds, settings); });
    if (!check(asioRun)) return 1;
    report("asio", repetition, settings, asioRun);
    asioStats.add(asioRun);
#endif
  }

  const double bareP50 = bareStats.medianP50();
  const double bareP99 = bareStats.medianP99();
  qvbench::printRow("timer lateness p50 vs bare condition_variable", us(oursStats.medianP50()), us(bareP50),
                    ratio(oursStats.medianP50(), bareP50), "≤ bare + 50 µs", oursStats.medianP50() <= bareP50 + 50.0);
  qvbench::printRow("timer lateness p99 vs bare condition_variable", us(oursStats.medianP99()), us(bareP99),
                    ratio(oursStats.medianP99(), bareP99), "≤ 1.5 × bare + 1 ms",
                    oursStats.medianP99() <= 1.5 * bareP99 + 1000.0);
  qvbench::printRow("timer earliest handler (before due)", us(oursStats.medianMin()), us(bareStats.medianMin()), "—",
                    "≥ −1 ms", oursStats.medianMin() >= -1000.0);
  printLibraryRows("libuv uv_timer", oursStats, libuvStats, "libuv");
  printLibraryRows("asio steady_timer", oursStats, asioStats, "asio");
  watchdog.arm(std::chrono::seconds(10), "timer shutdown");
  return 0;
}
