// Event handler of a runner: waits for one event definition (owned copy) and calls the runner
// back. The runner detaches it (runner = null) before unregistering it; the handler deletes itself
// when the events library reports that it holds no registration any more.
// Called where the scheduler events manager delivers events, under the scheduler lock.
#pragma once

#include "QVEventDef.h"
#include "QVEventHandler.h"

class CQVBaseRunner;

class CQVBaseRunnerEventHandler : public CQVEventHandler {
 public:
  CQVBaseRunnerEventHandler(const CQVEventDef& def, CQVBaseRunner* runner);
  ~CQVBaseRunnerEventHandler() override;

  void onEvent(const CQVEventDef& def) override;
  void setUnregisteredFromEvent(const CQVEventDef& def, long remainingRegistrations) override;
  std::string getName() const override;

  const CQVEventDef& getEventDef() const { return eventDef.get(); }
  bool hasEventArrived() const { return eventArrived; }
  void detach() { runner = nullptr; }
  CQVBaseRunner* getRunner() const { return runner; }

 private:
  QVEventDefCopy eventDef;
  CQVBaseRunner* runner;
  bool eventArrived = false;
};
