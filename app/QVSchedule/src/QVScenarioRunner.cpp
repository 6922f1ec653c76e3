#include "QVScenarioRunner.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVScenarioRunner.cpp");

CQVScenarioRunner::~CQVScenarioRunner() { QV_TRACE_SCOPE("CQVScenarioRunner::~CQVScenarioRunner"); }
