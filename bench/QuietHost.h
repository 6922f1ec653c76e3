// The host of the benchmarks: every call succeeds, except that a group's batch calls answer "no
// more vusers" every third time so that ramps end. Called with the scheduler lock held.
#pragma once

#include "QVVusersServices.h"

#include <map>
#include <string>

namespace qvbench {

class QuietHost : public CQVVusersServices {
 public:
  void onSchedulerFinished() override {}
  void onSchedulerPaused() override {}
  void onSchedulerResumed() override {}
  void onGroupFinished(const std::string&) override {}
  int initAllVusers(RunMode) override { return 0; }
  int initVusers(long, RunMode) override { return 0; }
  int runAllVusers(RunMode) override { return 0; }
  int runVusers(RunMode, long) override { return 0; }
  int stopAllVusers() override { return 0; }
  int stopVusers(long) override { return 0; }
  int canStartDuration() override { return 0; }
  bool isInFinalStage() override { return false; }
  int initAllGroupVusers(const std::string&, RunMode) override { return 0; }
  int initGroupVusers(const std::string& g, long, RunMode) override { return answer(g); }
  int runAllGroupVusers(const std::string&, RunMode) override { return 0; }
  int runGroupVusers(const std::string& g, RunMode, long) override { return answer(g); }
  int stopAllGroupVusers(const std::string&) override { return 0; }
  int stopGroupVusers(const std::string&, long) override { return 0; }
  int canStartGroupDuration(const std::string&) override { return 0; }

 private:
  int answer(const std::string& group) { return ++calls_[group] % 3 == 0 ? VUSERS_STATUS_NO_MORE_VUSERS : 0; }
  std::map<std::string, int> calls_;
};

}  // namespace qvbench
