// A minimal host: vusers that always succeed, a two-step schedule, and a wait for its end.
#include "QVSchedule.h"
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

struct Vusers : CQVVusersServices {
  std::mutex m; std::condition_variable cv; bool done = false;
  void onSchedulerFinished() override { std::lock_guard<std::mutex> l(m); done = true; cv.notify_all(); }
  void onSchedulerPaused() override {}
  void onSchedulerResumed() override {}
  void onGroupFinished(const std::string&) override {}
  int runVusers(RunMode, long n) override { std::printf("run %ld vusers\n", n); return VUSERS_STATUS_SUCCEEDED; }
  int stopAllVusers() override { std::printf("stop all vusers\n"); return VUSERS_STATUS_SUCCEEDED; }
  int initAllVusers(RunMode) override { return 0; }  int initVusers(long, RunMode) override { return 0; }
  int runAllVusers(RunMode) override { return 0; }   int stopVusers(long) override { return 0; }
  int canStartDuration() override { return 0; }      bool isInFinalStage() override { return true; }
  int initAllGroupVusers(const std::string&, RunMode) override { return 0; }
  int initGroupVusers(const std::string&, long, RunMode) override { return 0; }
  int runAllGroupVusers(const std::string&, RunMode) override { return 0; }
  int runGroupVusers(const std::string&, RunMode, long) override { return 0; }
  int stopAllGroupVusers(const std::string&) override { return 0; }
  int stopGroupVusers(const std::string&, long) override { return 0; }
  int canStartGroupDuration(const std::string&) override { return 0; }
};

int main() {
  static Vusers vusers;  // must outlive the scheduler's use of it
  CQVSchedulerFacade::setVusersServices(&vusers);
  if (!CQVSchedulerFacade::setXMLString(
          "<T><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID='1'><Manual>"
          "<SchedulerType>Global</SchedulerType><Global><Scheduling><DynamicScheduling><Run><TotalVusersNumber>5"
          "</TotalVusersNumber></Run><StopAll/></DynamicScheduling></Scheduling></Global></Manual></Scheduler></T>") ||
      !CQVSchedulerFacade::start())
    return 1;
  std::unique_lock<std::mutex> lock(vusers.m);
  const bool finished = vusers.cv.wait_for(lock, std::chrono::seconds(10), [] { return vusers.done; });
  lock.unlock();
  CQVSchedulerFacade::stop();
  std::printf("%s\n", finished ? "schedule finished" : "schedule did not finish");
  return finished ? 0 : 1;
}
