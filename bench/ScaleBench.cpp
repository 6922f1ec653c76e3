// Scale figures, measured with Google Benchmark and printed as table rows:
//  - registering and unregistering a time handler with 10,000 and 100,000 registrations pending;
//  - firing 10,000 handlers due on the same entry, against calling them in a plain loop;
//  - events per second through the scheduler's events manager and the process-wide manager to a
//    handler on one thread, against a bare mutex + condition-variable queue;
//  - loading definitions of 1,000 and 10,000 groups, against expat's bare parse of the same text
//    (the library's parser, with namespaces, no handlers: the least any load must cost), and
//    stopping a schedule of 10,000 groups right after its load and once it has started;
//  - running schedules of 1,000 and 10,000 groups that start together to their end (CPU time of
//    the process, so that a shared machine's scheduling does not favour the short run).
// Every figure is the median over the repetitions. --smoke runs small sizes once.
#include "BenchTable.h"
#include "DefinitionGenerator.h"
#include "QuietHost.h"

#include "QVClock.h"
#include "QVCriticalSection.h"
#include "QVGroupActionRunnerFinishedEventDef.h"
#include "QVSchedulerEventsManager.h"
#include "QVSchedulerFacade.h"
#include "QVTimer.h"

#include <benchmark/benchmark.h>
#include <expat.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

double secondsBetween(SteadyClock::time_point a, SteadyClock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

struct Sizes {
  int pendingSmall = 10000;
  int pendingLarge = 100000;
  int sameEntry = 10000;
  int groupsSmall = 1000;
  int groupsLarge = 10000;
};

Sizes& sizes() {
  static Sizes s;
  return s;
}

class NoopTimeHandler final : public CQVTimeHandler {
 public:
  void onTime() override {}
};

// Records when it ran.
class StampingTimeHandler final : public CQVTimeHandler {
 public:
  void onTime() override { stamp = SteadyClock::now(); }
  SteadyClock::time_point stamp;
};

// A timer holding `pending` registrations due between one and two hours from now, so that none
// fires while measuring.
struct PendingTimer {
  explicit PendingTimer(int pending) : handlers(static_cast<std::size_t>(pending)), extra(4096), random(7) {
    for (auto& handler : handlers) timer.registerOnRelativeTime(dueSeconds(), &handler);
  }
  long dueSeconds() { return 3600 + static_cast<long>(random() % 3600); }

  CQVTimer timer;
  std::vector<NoopTimeHandler> handlers;
  std::vector<NoopTimeHandler> extra;
  std::mt19937 random;
};

void BM_Register(benchmark::State& state) {
  PendingTimer pending(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    NoopTimeHandler* handler = &pending.extra[i++ % pending.extra.size()];
    const long due = pending.dueSeconds();
    const auto t0 = SteadyClock::now();
    pending.timer.registerOnRelativeTime(due, handler);
    const auto t1 = SteadyClock::now();
    pending.timer.unregisterTimeHandler(handler);
    state.SetIterationTime(secondsBetween(t0, t1));
  }
}

void BM_Unregister(benchmark::State& state) {
  PendingTimer pending(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    NoopTimeHandler* handler = &pending.extra[i++ % pending.extra.size()];
    pending.timer.registerOnRelativeTime(pending.dueSeconds(), handler);
    const auto t0 = SteadyClock::now();
    pending.timer.unregisterTimeHandler(handler);
    state.SetIterationTime(secondsBetween(t0, SteadyClock::now()));
  }
}

// From the moment time reaches the due time to the end of the last of `count` handlers.
void BM_FireSameEntry(benchmark::State& state) {
  auto clock = std::make_shared<QVManualClock>();
  QVSetClock(clock);
  {
    CQVTimer timer;
    std::vector<StampingTimeHandler> handlers(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
      for (auto& handler : handlers) timer.registerOnRelativeTime(1, &handler);
      clock->settle();
      const auto t0 = SteadyClock::now();
      clock->advance(std::chrono::seconds(1));
      state.SetIterationTime(secondsBetween(t0, handlers.back().stamp));
    }
  }
  QVSetClock(nullptr);
}

// The same handlers called one after the other from a list.
void BM_FireBareLoop(benchmark::State& state) {
  std::vector<StampingTimeHandler> handlers(static_cast<std::size_t>(state.range(0)));
  std::list<CQVTimeHandler*> due;
  for (auto _ : state) {
    for (auto& handler : handlers) due.push_back(&handler);
    const auto t0 = SteadyClock::now();
    while (!due.empty()) {
      CQVTimeHandler* handler = due.front();
      due.pop_front();
      handler->onTime();
    }
    state.SetIterationTime(secondsBetween(t0, handlers.back().stamp));
  }
}

class CountingEventHandler final : public CQVEventHandler {
 public:
  void onEvent(const CQVEventDef&) override { ++count; }
  void setUnregisteredFromEvent(const CQVEventDef&, long) override {}
  std::string getName() const override { return "CountingEventHandler"; }
  long count = 0;
};

void BM_EventsRoad(benchmark::State& state) {
  auto lock = std::make_shared<QVCriticalSection>();
  auto* manager = new CQVSchedulerEventsManager();  // deletes itself once released
  manager->setSchedulerLock(lock);
  const CQVGroupActionRunnerFinishedEventDef def("bench", 1);
  CountingEventHandler handler;
  manager->registerOnEvent(def, &handler);
  for (auto _ : state) manager->notifyOnEvent(def);
  if (handler.count != static_cast<long>(state.iterations())) state.SkipWithError("events were lost");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  manager->reset();
  manager->setCanBeDeleted();
}

// Each event is copied into a queue under a mutex, the waiting side is notified, and the same
// thread takes it out and hands it to the handler.
void BM_BareQueue(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::unique_ptr<CQVEventDef>> queue;
  const CQVGroupActionRunnerFinishedEventDef def("bench", 1);
  CountingEventHandler handler;
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> guard(mutex);
      queue.emplace_back(def.clone());
    }
    ready.notify_one();
    std::unique_ptr<CQVEventDef> event;
    {
      std::unique_lock<std::mutex> guard(mutex);
      ready.wait(guard, [&] { return !queue.empty(); });
      event = std::move(queue.front());
      queue.pop_front();
    }
    handler.onEvent(*event);
  }
  benchmark::DoNotOptimize(handler.count);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

const std::string& definitionText(int groups) {
  static std::map<int, std::string> texts;
  auto& text = texts[groups];
  if (text.empty()) text = qvbench::generateGroupsDefinition(groups);
  return text;
}

// Load and stop run on the manual clock: nothing moves on its own while they are measured.
struct FacadeSetup {
  FacadeSetup() : clock(std::make_shared<QVManualClock>()) {
    QVSetClock(clock);
    CQVSchedulerFacade::setVusersServices(&host);
  }
  ~FacadeSetup() {
    CQVSchedulerFacade::stop();
    QVSetClock(nullptr);
  }
  std::shared_ptr<QVManualClock> clock;
  qvbench::QuietHost host;
};

void BM_Load(benchmark::State& state) {
  FacadeSetup setup;
  const std::string& text = definitionText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const auto t0 = SteadyClock::now();
    const bool loaded = CQVSchedulerFacade::setXMLString(text.c_str());
    const auto t1 = SteadyClock::now();
    if (!loaded) state.SkipWithError("the definition was refused");
    CQVSchedulerFacade::stop();  // discarded outside the measured time
    state.SetIterationTime(secondsBetween(t0, t1));
  }
}

void BM_ExpatParse(benchmark::State& state) {
  const std::string& text = definitionText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const auto t0 = SteadyClock::now();
    XML_Parser parser = XML_ParserCreateNS(nullptr, '\x01');
    const bool parsed = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    const auto t1 = SteadyClock::now();
    if (!parsed) state.SkipWithError("expat refused the text");
    state.SetIterationTime(secondsBetween(t0, t1));
  }
}

// Stop of a loaded schedule that has not started.
void BM_StopAfterLoad(benchmark::State& state) {
  FacadeSetup setup;
  const std::string& text = definitionText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!CQVSchedulerFacade::setXMLString(text.c_str())) state.SkipWithError("the definition was refused");
    const auto t0 = SteadyClock::now();
    CQVSchedulerFacade::stop();
    state.SetIterationTime(secondsBetween(t0, SteadyClock::now()));
  }
}

// Stop of a loaded schedule that has started: the groups that start with the scenario are
// initializing and the rest wait for their predecessors.
void BM_StopAfterStart(benchmark::State& state) {
  FacadeSetup setup;
  const std::string& text = definitionText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!CQVSchedulerFacade::setXMLString(text.c_str())) state.SkipWithError("the definition was refused");
    CQVSchedulerFacade::start();
    setup.clock->settle();
    const auto t0 = SteadyClock::now();
    CQVSchedulerFacade::stop();
    state.SetIterationTime(secondsBetween(t0, SteadyClock::now()));
  }
}

// CPU seconds used so far by all threads of the process.
double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Groups that each run all their vusers at once, all with the scenario: the whole schedule ends
// within its first instant of virtual time.
std::string runAllGroupsText(int groups) {
  std::string xml =
      "<LoadTest><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID=\"1\"><Manual>"
      "<SchedulerType>Groups</SchedulerType><Groups><InitAllBeforeStart>false</InitAllBeforeStart>";
  for (int i = 0; i < groups; ++i) {
    xml += "<GroupScheduler><GroupName>group" + std::to_string(i) +
           "</GroupName><StartupMode><StartAtScenarioBegining/></StartupMode><Scheduling><DynamicScheduling>"
           "<RunAll/></DynamicScheduling></Scheduling></GroupScheduler>";
  }
  return xml + "</Groups></Manual></Scheduler></LoadTest>";
}

// From start to the end of the schedule: every group starts, calls the host once and finishes,
// and the last finished group ends the schedule.
void BM_Finish(benchmark::State& state) {
  FacadeSetup setup;
  const std::string text = runAllGroupsText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!CQVSchedulerFacade::setXMLString(text.c_str())) state.SkipWithError("the definition was refused");
    const double t0 = processCpuSeconds();
    CQVSchedulerFacade::start();
    setup.clock->settle();
    const double t1 = processCpuSeconds();
    if (CQVSchedulerFacade::isRunning()) state.SkipWithError("the schedule did not finish");
    CQVSchedulerFacade::stop();
    state.SetIterationTime(t1 - t0);
  }
}

// Keeps the console output and collects the time per iteration of every repetition.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
      const std::string& args = run.run_name.args;
      perIteration[run.run_name.function_name + (args.empty() ? "" : "/" + args)].push_back(seconds);
    }
  }
  // Median seconds per iteration; 0 when the benchmark did not run.
  double median(const std::string& name) const {
    auto found = perIteration.find(name);
    return found == perIteration.end() ? 0.0 : qvbench::median(found->second);
  }
  std::map<std::string, std::vector<double>> perIteration;
};

std::string withSize(const std::string& name, int size) { return name + "/" + std::to_string(size); }

std::string thousands(int n) {
  std::string digits = std::to_string(n);
  for (int pos = static_cast<int>(digits.size()) - 3; pos > 0; pos -= 3) digits.insert(static_cast<std::size_t>(pos), ",");
  return digits;
}

}  // namespace

int main(int argc, char** argv) {
  qvbench::parseSmoke(argc, argv);
  const bool smoke = qvbench::smokeMode();
  Sizes& s = sizes();
  if (smoke) s = Sizes{1000, 10000, 1000, 100, 1000};
  const int repetitions = smoke ? 1 : 5;
  const double minTime = smoke ? 0.02 : 0.3;

  auto add = [&](const char* name, void (*fn)(benchmark::State&), int arg) {
    benchmark::RegisterBenchmark(name, fn)->Arg(arg)->UseManualTime()->Repetitions(repetitions)->MinTime(minTime)->Unit(
        benchmark::kMicrosecond);
  };
  add("Register", BM_Register, s.pendingSmall);
  add("Register", BM_Register, s.pendingLarge);
  add("Unregister", BM_Unregister, s.pendingSmall);
  add("Unregister", BM_Unregister, s.pendingLarge);
  add("FireSameEntry", BM_FireSameEntry, s.sameEntry);
  add("FireBareLoop", BM_FireBareLoop, s.sameEntry);
  add("Load", BM_Load, s.groupsSmall);
  add("Load", BM_Load, s.groupsLarge);
  add("ExpatParse", BM_ExpatParse, s.groupsSmall);
  add("ExpatParse", BM_ExpatParse, s.groupsLarge);
  add("StopAfterLoad", BM_StopAfterLoad, s.groupsLarge);
  add("StopAfterStart", BM_StopAfterStart, s.groupsLarge);
  add("Finish", BM_Finish, s.groupsSmall);
  add("Finish", BM_Finish, s.groupsLarge);
  benchmark::RegisterBenchmark("EventsRoad", BM_EventsRoad)->Repetitions(repetitions)->MinTime(minTime);
  benchmark::RegisterBenchmark("BareQueue", BM_BareQueue)->Repetitions(repetitions)->MinTime(minTime);

  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::fflush(stdout);

  using qvbench::formatRatio;
  using qvbench::formatSeconds;
  using qvbench::printRow;
  std::printf("\n");
  qvbench::printHeader();

  const double unregSmall = reporter.median(withSize("Unregister", s.pendingSmall));
  const double unregLarge = reporter.median(withSize("Unregister", s.pendingLarge));
  const double regLarge = reporter.median(withSize("Register", s.pendingLarge));
  const double unregRatio = unregSmall > 0 ? unregLarge / unregSmall : 0;
  printRow("unregister at " + thousands(s.pendingLarge) + " pending vs at " + thousands(s.pendingSmall),
           formatSeconds(unregLarge), formatSeconds(unregSmall), formatRatio(unregRatio), "ratio ≤ 5",
           unregRatio > 0 && unregRatio <= 5.0);
  printRow("register, mean, " + thousands(s.pendingLarge) + " pending", formatSeconds(regLarge), "—", "—", "≤ 2 µs",
           regLarge > 0 && regLarge <= 2e-6);
  printRow("unregister, mean, " + thousands(s.pendingLarge) + " pending", formatSeconds(unregLarge), "—", "—",
           "≤ 2 µs", unregLarge > 0 && unregLarge <= 2e-6);

  const double fire = reporter.median(withSize("FireSameEntry", s.sameEntry));
  const double fireBare = reporter.median(withSize("FireBareLoop", s.sameEntry));
  printRow("fire " + thousands(s.sameEntry) + " handlers of one entry, wake-up to last (vs plain loop)",
           formatSeconds(fire), formatSeconds(fireBare), formatRatio(fireBare > 0 ? fire / fireBare : 0), "≤ 10 ms",
           fire > 0 && fire <= 10e-3);

  const double road = reporter.median("EventsRoad");
  const double bare = reporter.median("BareQueue");
  const double roadRate = road > 0 ? 1.0 / road : 0;
  const double bareRate = bare > 0 ? 1.0 / bare : 0;
  printRow("events road, events/s (vs bare mutex + condition_variable queue)", qvbench::formatNumber(roadRate, "/s"),
           qvbench::formatNumber(bareRate, "/s"), formatRatio(bareRate > 0 ? roadRate / bareRate : 0),
           "≥ 1 M/s and ratio ≥ 0.2", roadRate >= 1e6 && roadRate >= 0.2 * bareRate);

  const double loadSmall = reporter.median(withSize("Load", s.groupsSmall));
  const double loadLarge = reporter.median(withSize("Load", s.groupsLarge));
  const double parseSmall = reporter.median(withSize("ExpatParse", s.groupsSmall));
  const double parseLarge = reporter.median(withSize("ExpatParse", s.groupsLarge));
  const double stopLoaded = reporter.median(withSize("StopAfterLoad", s.groupsLarge));
  const double stop = reporter.median(withSize("StopAfterStart", s.groupsLarge));
  for (int i = 0; i < 2; ++i) {
    const int groups = i == 0 ? s.groupsSmall : s.groupsLarge;
    const double load = i == 0 ? loadSmall : loadLarge;
    const double parse = i == 0 ? parseSmall : parseLarge;
    const double ratio = parse > 0 ? load / parse : 0;
    printRow("load " + thousands(groups) + " groups (vs expat parse of the text)", formatSeconds(load),
             formatSeconds(parse), formatRatio(ratio), "ratio ≤ 3", ratio > 0 && ratio <= 3.0);
  }
  const double growth = loadSmall > 0 ? loadLarge / loadSmall : 0;
  printRow("load " + thousands(s.groupsLarge) + " groups vs " + thousands(s.groupsSmall), formatSeconds(loadLarge),
           formatSeconds(loadSmall), formatRatio(growth), "ratio ≤ 12", growth > 0 && growth <= 12.0);
  const double stopLoadedRatio = loadLarge > 0 ? stopLoaded / loadLarge : 0;
  printRow("stop after load of " + thousands(s.groupsLarge) + " groups (vs the load)", formatSeconds(stopLoaded),
           formatSeconds(loadLarge), formatRatio(stopLoadedRatio), "ratio ≤ 3",
           stopLoadedRatio > 0 && stopLoadedRatio <= 3.0);
  const double stopRatio = loadLarge > 0 ? stop / loadLarge : 0;
  printRow("stop a started schedule of " + thousands(s.groupsLarge) + " groups (vs its load)", formatSeconds(stop),
           formatSeconds(loadLarge), formatRatio(stopRatio), "ratio ≤ 3", stopRatio > 0 && stopRatio <= 3.0);

  const double finishSmall = reporter.median(withSize("Finish", s.groupsSmall));
  const double finishLarge = reporter.median(withSize("Finish", s.groupsLarge));
  const double finishGrowth = finishSmall > 0 ? finishLarge / finishSmall : 0;
  printRow("finish " + thousands(s.groupsLarge) + " groups starting together vs " + thousands(s.groupsSmall) + ", CPU",
           formatSeconds(finishLarge), formatSeconds(finishSmall), formatRatio(finishGrowth), "ratio ≤ 12",
           finishGrowth > 0 && finishGrowth <= 12.0);
  return 0;
}
