// Umbrella header of the platform layer.
#pragma once

#include "QVClock.h"
#include "QVCriticalSection.h"
#include "QVFileTime.h"
#include "QVWait.h"
#include "QVWinTypes.h"
