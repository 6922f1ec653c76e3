// A minimal host of a scenario-wide definition: it implements only the operations its schedule
// uses (the convenience base answers the rest "failed"), runs a two-step schedule and waits for
// its end.
#include "QVSchedule.h"
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

struct Vusers : CQVVusersServicesBase {
  std::mutex m; std::condition_variable cv; bool done = false;
  void onSchedulerFinished() override { std::lock_guard<std::mutex> l(m); done = true; cv.notify_all(); }
  int runVusers(RunMode, long n) override { std::printf("run %ld vusers\n", n); return VUSERS_STATUS_SUCCEEDED; }
  int stopAllVusers() override { std::printf("stop all vusers\n"); return VUSERS_STATUS_SUCCEEDED; }
};

int main() {
  static Vusers vusers;  // must outlive the scheduler's use of it
  CQVSchedulerFacade::setVusersServices(&vusers);
  if (!CQVSchedulerFacade::setXMLString(
          "<T><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID='1'><Manual>"
          "<SchedulerType>Global</SchedulerType><Global><Scheduling><DynamicScheduling><Run><TotalVusersNumber>5"
          "</TotalVusersNumber></Run><StopAll/></DynamicScheduling></Scheduling></Global></Manual></Scheduler></T>")) {
    QVDefinitionDiagnostic error;  // why, and where
    if (CQVDefinitionDiagnostics::getLastLoadError(error))
      std::fprintf(stderr, "%lu:%lu: %s\n", error.line, error.column, error.message.c_str());
    return 1;
  }
  if (!CQVSchedulerFacade::start()) return 1;
  std::unique_lock<std::mutex> lock(vusers.m);
  const bool finished = vusers.cv.wait_for(lock, std::chrono::seconds(10), [] { return vusers.done; });
  lock.unlock();
  CQVSchedulerFacade::stop();
  std::printf("%s\n", finished ? "schedule finished" : "schedule did not finish");
  return finished ? 0 : 1;
}
