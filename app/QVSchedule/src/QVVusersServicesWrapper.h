// Adapter through which runners call the host. Writes the detail, call and status lines of every
// host call and translates a runner's context into the host's arguments (the two kinds below).
// Holds the host's services object (not owned; null until the host supplies one). Without it,
// every call answers VUSERS_STATUS_FAILED and the host is not called. An exception thrown by the
// host is caught here (QVGuardHostCall), logged, and treated as a failed call.
// Called on the timer thread or an event-delivery thread with the scheduler lock held.
#pragma once

#include "QVContext.h"
#include "QVHostCallScope.h"
#include "QVVusersServices.h"

#include <atomic>
#include <string>

class CQVVusersServicesWrapper {
 public:
  CQVVusersServicesWrapper() = default;
  CQVVusersServicesWrapper(const CQVVusersServicesWrapper&) = delete;
  CQVVusersServicesWrapper& operator=(const CQVVusersServicesWrapper&) = delete;
  virtual ~CQVVusersServicesWrapper() = default;

  virtual void notifyGroupFinished(CQVContext* context) = 0;
  virtual int initAllVusers(CQVContext* context);
  virtual int initVusers(CQVContext* context, long count);
  virtual int runAllVusers(CQVContext* context);
  virtual int runVusers(CQVContext* context, long count);
  virtual int stopAllVusers(CQVContext* context);
  virtual int stopVusers(CQVContext* context, long count);
  virtual int canStartDuration(CQVContext* context);
  virtual bool isInFinalStageOf(CQVContext* context) = 0;

  void setVusersServices(CQVVusersServices* services) { vusersServices.store(services); }
  CQVVusersServices* getVusersServices() const { return vusersServices.load(); }

  // "succeeded", "failed", "no more vusers", "abandoned", or empty for other values.
  static const char* statusWord(int status);
  // "RunUntilComplete" for 0, "Indefinitely" otherwise.
  static const char* runModeWord(int runMode);

 protected:
  virtual int doInitAllVusers(CQVContext* context) = 0;
  virtual int doInitVusers(CQVContext* context, long count) = 0;
  virtual int doRunAllVusers(CQVContext* context) = 0;
  virtual int doRunVusers(CQVContext* context, long count) = 0;
  virtual int doStopAllVusers(CQVContext* context) = 0;
  virtual int doStopVusers(CQVContext* context, long count) = 0;
  virtual int doCanStartDuration(CQVContext* context) = 0;

 private:
  enum class Op { InitAll, Init, RunAll, Run, StopAll, Stop, CanStartDuration };
  int callHost(Op op, CQVContext* context, long count);

  std::atomic<CQVVusersServices*> vusersServices{nullptr};
};
