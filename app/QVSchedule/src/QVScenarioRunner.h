// The scheduler runner of a definition by scenario (context: CQVScenarioContext).
#pragma once

#include "QVSchedulerRunner.h"

class CQVScenarioRunner : public CQVSchedulerRunner {
 public:
  CQVScenarioRunner() = default;
  ~CQVScenarioRunner() override;
};
