// Umbrella header of the logging library.
#pragma once

#include "QVLogFormat.h"
#include "QVLogSink.h"
#include "QVLogger.h"
