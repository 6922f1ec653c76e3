// libFuzzer entry: loads the input as a scheduler definition through the facade and, when it is
// accepted, runs it to its end (or for at most 30 days) in virtual time, then stops it.
#include "QVClock.h"
#include "QVLogSink.h"
#include "QVLogger.h"
#include "QVSchedulerFacade.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Answers 0, except that each group (and the scenario) runs out of vusers after a few calls so
// that ramps end.
class FuzzHost : public CQVVusersServices {
 public:
  void reset() { calls_.clear(); }

  void onSchedulerFinished() override {}
  void onSchedulerPaused() override {}
  void onSchedulerResumed() override {}
  void onGroupFinished(const std::string&) override {}
  int initAllVusers(RunMode) override { return answer(""); }
  int initVusers(long, RunMode) override { return answer(""); }
  int runAllVusers(RunMode) override { return answer(""); }
  int runVusers(RunMode, long) override { return answer(""); }
  int stopAllVusers() override { return answer(""); }
  int stopVusers(long) override { return answer(""); }
  int canStartDuration() override { return 0; }
  bool isInFinalStage() override { return false; }
  int initAllGroupVusers(const std::string& g, RunMode) override { return answer(g); }
  int initGroupVusers(const std::string& g, long, RunMode) override { return answer(g); }
  int runAllGroupVusers(const std::string& g, RunMode) override { return answer(g); }
  int runGroupVusers(const std::string& g, RunMode, long) override { return answer(g); }
  int stopAllGroupVusers(const std::string& g) override { return answer(g); }
  int stopGroupVusers(const std::string& g, long) override { return answer(g); }
  int canStartGroupDuration(const std::string&) override { return 0; }

 private:
  int answer(const std::string& group) { return ++calls_[group] > 50 ? VUSERS_STATUS_NO_MORE_VUSERS : VUSERS_STATUS_SUCCEEDED; }

  std::map<std::string, int> calls_;
};

class DiscardLogSink : public QVLogSink {
 public:
  void write(const QVLogRecord&) override {}
};

struct FuzzSetup {
  FuzzSetup() : clock(std::make_shared<QVManualClock>()) {
    QVLogger::SetSink(std::make_shared<DiscardLogSink>());  // refused definitions log errors
    QVSetClock(clock);
    CQVSchedulerFacade::setVusersServices(&host);
  }
  std::shared_ptr<QVManualClock> clock;
  FuzzHost host;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzSetup* setup = new FuzzSetup();  // lives for the whole process
  std::vector<char> xml(data, data + size);
  xml.push_back('\0');
  setup->host.reset();
  if (CQVSchedulerFacade::setXMLString(xml.data())) {
    CQVSchedulerFacade::start();
    setup->clock->runUntilIdle(std::chrono::hours(24 * 30));
    CQVSchedulerFacade::stop();
  }
  return 0;
}
