// Idle cost: a loaded, running schedule whose next due time is an hour away, watched for 60
// seconds of real time (--seconds to change; --smoke: 1 s), median of 3 repetitions. Reports the
// CPU the process used and the voluntary context switches (wake-ups) of every thread but the main
// one, which only sleeps. The baseline is a bare thread blocked in condition_variable::wait_until
// an hour ahead, watched the same way just before each repetition.
#include "BenchTable.h"
#include "QuietHost.h"

#include "QVSchedulerFacade.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs all vusers, then holds them for an hour before stopping them.
const char* const kDefinition = R"(<LoadTest>
  <Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers>
  <Scheduler ID="1"><Manual><SchedulerType>Global</SchedulerType><Global><Scheduling>
    <DynamicScheduling><RunAll/><Duration><RunFor>3600</RunFor></Duration><StopAll/></DynamicScheduling>
  </Scheduling></Global></Manual></Scheduler>
</LoadTest>)";

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Voluntary context switches of every thread of the process except `skipTid`.
long otherThreadsWakeups(long skipTid) {
  long total = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    if (std::atol(entry->d_name) == skipTid) continue;
    std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::atol(line.c_str() + 24);
    }
  }
  closedir(dir);
  return total;
}

struct Observation {
  double cpuSeconds;
  long wakeups;
};

Observation watch(double seconds) {
  const long self = static_cast<long>(syscall(SYS_gettid));
  const double cpu0 = processCpuSeconds();
  const long wake0 = otherThreadsWakeups(self);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return Observation{processCpuSeconds() - cpu0, otherThreadsWakeups(self) - wake0};
}

}  // namespace

int main(int argc, char** argv) {
  qvbench::parseSmoke(argc, argv);
  double seconds = qvbench::smokeMode() ? 1.0 : 60.0;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
  }

  const int repetitions = qvbench::smokeMode() ? 1 : 3;
  qvbench::QuietHost host;
  CQVSchedulerFacade::setVusersServices(&host);
  std::vector<double> oursCpu, bareCpu, oursWakeups, bareWakeups;
  for (int r = 0; r < repetitions; ++r) {
    // Baseline: one thread blocked an hour ahead.
    {
      std::mutex mutex;
      std::condition_variable cv;
      bool done = false;
      std::thread sleeper([&] {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::hours(1), [&] { return done; });
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it block
      const Observation bare = watch(seconds);
      bareCpu.push_back(bare.cpuSeconds);
      bareWakeups.push_back(static_cast<double>(bare.wakeups));
      {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
      }
      cv.notify_one();
      sleeper.join();
    }
    if (!CQVSchedulerFacade::setXMLString(kDefinition) || !CQVSchedulerFacade::start()) {
      std::fprintf(stderr, "the idle schedule did not start\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the run starts and the hour begins
    const Observation ours = watch(seconds);
    CQVSchedulerFacade::stop();
    oursCpu.push_back(ours.cpuSeconds);
    oursWakeups.push_back(static_cast<double>(ours.wakeups));
    std::fprintf(stderr, "repetition %d/%d: ours %.6f s CPU, %ld wake-ups; bare %.6f s CPU, %.0f wake-ups\n", r + 1,
                 repetitions, ours.cpuSeconds, ours.wakeups, bareCpu.back(), bareWakeups.back());
  }
  const Observation ours{qvbench::median(oursCpu), static_cast<long>(qvbench::median(oursWakeups))};
  const Observation bare{qvbench::median(bareCpu), static_cast<long>(qvbench::median(bareWakeups))};

  const double share = ours.cpuSeconds / seconds;
  const double bareShare = bare.cpuSeconds / seconds;
  char oursText[64];
  char bareText[64];
  std::snprintf(oursText, sizeof oursText, "%.4f%% of a core", share * 100.0);
  std::snprintf(bareText, sizeof bareText, "%.4f%% of a core", bareShare * 100.0);
  char figure[96];
  std::snprintf(figure, sizeof figure, "idle CPU over %.0f s, next due time an hour away", seconds);
  qvbench::printRow(figure, oursText, bareText, "—", "≤ 0.01% of a core", share <= 0.0001);
  std::snprintf(figure, sizeof figure, "idle wake-ups of the library's threads over %.0f s", seconds);
  qvbench::printRow(figure, std::to_string(ours.wakeups), std::to_string(bare.wakeups), "—", "≤ 1",
                    ours.wakeups <= 1);
  return 0;
}
