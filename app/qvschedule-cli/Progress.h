// The words of the progress line: the scheduler's stage record, run times and the pools.
#pragma once

#include "QVSchedule.h"
#include "SimulatedVusers.h"

#include <string>
#include <vector>

const char* stageName(QVActionStage stage);

// "stage X, next Y in N s (M vusers), run time mm:ss [(paused)]", from the facade's queries.
std::string progressText(const std::vector<std::string>& groups, bool byGroup);

// "pool: R running, I initialized, D done of T; ..." for every pool.
std::string poolSummary(const VusersHost& host);
