// Actions that make one host call at once: no batches, nothing to wait for before the next stage.
#pragma once

#include "QVActionRunner.h"

class CQVBaseSimultActionRunner : public CQVActionRunner {
 public:
  bool getSecondsToNextStage(long& seconds) override {
    seconds = 0;
    return true;
  }
  bool hasNextBatch() const override { return false; }
};
