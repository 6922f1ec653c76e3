// A convenience base for hosts: every vusers operation answers VUSERS_STATUS_FAILED and writes
// "<operation> not supported by this host" as an error of the "QVSchedule" logger, every
// notification does nothing and isInFinalStage answers false (quietly: the stage query asks it
// often). A host derives from it and overrides only what its definitions use, for example the
// scenario-wide operations for a definition of type Global. Header-only; the host interface
// (QVVusersServices.h) is unchanged.
//
// Threads: called as the host interface is (the scheduler's timer and event threads, or the host
// thread inside start, pause, resume and stop); it keeps no state.
#pragma once

#include "QVLogger.h"
#include "QVVusersServices.h"

#include <string>

class CQVVusersServicesBase : public CQVVusersServices {
 public:
  void onSchedulerFinished() override {}
  void onSchedulerPaused() override {}
  void onSchedulerResumed() override {}
  void onGroupFinished(const std::string&) override {}

  int initAllVusers(RunMode) override { return notSupported("initAllVusers"); }
  int initVusers(long, RunMode) override { return notSupported("initVusers"); }
  int runAllVusers(RunMode) override { return notSupported("runAllVusers"); }
  int runVusers(RunMode, long) override { return notSupported("runVusers"); }
  int stopAllVusers() override { return notSupported("stopAllVusers"); }
  int stopVusers(long) override { return notSupported("stopVusers"); }
  int canStartDuration() override { return notSupported("canStartDuration"); }
  bool isInFinalStage() override { return false; }

  int initAllGroupVusers(const std::string&, RunMode) override { return notSupported("initAllGroupVusers"); }
  int initGroupVusers(const std::string&, long, RunMode) override { return notSupported("initGroupVusers"); }
  int runAllGroupVusers(const std::string&, RunMode) override { return notSupported("runAllGroupVusers"); }
  int runGroupVusers(const std::string&, RunMode, long) override { return notSupported("runGroupVusers"); }
  int stopAllGroupVusers(const std::string&) override { return notSupported("stopAllGroupVusers"); }
  int stopGroupVusers(const std::string&, long) override { return notSupported("stopGroupVusers"); }
  int canStartGroupDuration(const std::string&) override { return notSupported("canStartGroupDuration"); }

 protected:
  // Logs that `operation` is not supported and answers "failed".
  static int notSupported(const char* operation) {
    QVLogger::GetLogger("QVSchedule")
        ->logErrorText(std::string(operation) + " not supported by this host", __FILE__, __LINE__);
    return VUSERS_STATUS_FAILED;
  }
};
