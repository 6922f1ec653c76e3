// The action stage reported in a CQVSchedulerStage. Value 2 is not used.
#pragma once

enum QVActionStage : int {
  STAGE_RAMP_INIT_ALL = 0,
  STAGE_INIT_ALL = 1,
  STAGE_RAMP_UP_ALL = 3,
  STAGE_RAMP_UP = 4,
  STAGE_RUN = 5,
  STAGE_DURATION = 6,
  STAGE_RUN_UNTIL_COMPLETE = 7,
  STAGE_RUN_INDEFINITELY = 8,
  STAGE_RAMP_DOWN_ALL = 9,
  STAGE_RAMP_DOWN = 10,
  STAGE_STOP = 11,
  STAGE_NONE = 12,
};
