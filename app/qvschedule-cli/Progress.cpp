#include "Progress.h"

#include <cstdio>

const char* stageName(QVActionStage stage) {
  switch (stage) {
    case STAGE_RAMP_INIT_ALL: return "RampInitAll";
    case STAGE_INIT_ALL: return "InitAll";
    case STAGE_RAMP_UP_ALL: return "RampUpAll";
    case STAGE_RAMP_UP: return "RampUp";
    case STAGE_RUN: return "Run";
    case STAGE_DURATION: return "Duration";
    case STAGE_RUN_UNTIL_COMPLETE: return "RunUntilComplete";
    case STAGE_RUN_INDEFINITELY: return "RunIndefinitely";
    case STAGE_RAMP_DOWN_ALL: return "RampDownAll";
    case STAGE_RAMP_DOWN: return "RampDown";
    case STAGE_STOP: return "Stop";
    case STAGE_NONE: return "none";
  }
  return "?";
}

namespace {

// "mm:ss", "h:mm:ss" from an hour on.
std::string minutesSeconds(long seconds) {
  char buffer[40];
  if (seconds < 3600) {
    std::snprintf(buffer, sizeof buffer, "%02ld:%02ld", seconds / 60, seconds % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return buffer;
}

}  // namespace

std::string progressText(const std::vector<std::string>& groups, bool byGroup) {
  std::string text;
  CQVSchedulerStage stage;
  if (CQVSchedulerFacade::getSchedulerStage(stage)) {
    text = std::string("stage ") + stageName(stage.getCurrActionStage());
    if (stage.hasNextStage()) {
      text += std::string(", next ") + stageName(stage.getNextActionStage()) + " in " +
              std::to_string(stage.getSecondsToNextStage()) + " s";
      const int n = stage.getNumberOfVusersInNextBatch();
      if (n == CQVSchedulerStage::ALL_VUSERS) {
        text += " (all vusers)";
      } else if (n > 0) {
        text += " (" + std::to_string(n) + (n == 1 ? " vuser)" : " vusers)");
      }
    } else {
      text += ", no next stage";
    }
  } else {
    text = "stage -";
  }
  long seconds = 0;
  if (!byGroup && CQVSchedulerFacade::getScenarioRunTime(seconds)) {
    text += ", run time " + minutesSeconds(seconds);
  } else {
    for (const std::string& group : groups) {
      if (CQVSchedulerFacade::getGroupRunTime(group, seconds)) text += ", " + group + " " + minutesSeconds(seconds);
    }
  }
  if (CQVSchedulerFacade::isPaused()) text += " (paused)";
  return text;
}

std::string poolSummary(const VusersHost& host) {
  std::string text;
  for (const std::string& pool : host.poolNames()) {
    const VusersCounts c = host.counts(pool);
    if (!text.empty()) text += "; ";
    text += pool + ": " + std::to_string(c.running) + " running, " + std::to_string(c.initialized) + " initialized, " +
            std::to_string(c.done) + " done of " + std::to_string(c.total);
  }
  return text;
}
