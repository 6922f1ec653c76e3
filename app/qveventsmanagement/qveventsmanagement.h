// The events library: event definitions, handlers, requests, the events managers and the host's
// event definitions.
#pragma once

#include "QVBaseEventsManager.h"
#include "QVEventDef.h"
#include "QVEventHandler.h"
#include "QVEventRequest.h"
#include "QVEventsManager.h"
#include "QVHostEventDefs.h"
