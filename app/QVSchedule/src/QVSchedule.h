// Umbrella header of the host-facing interface of the scheduler library.
#pragma once

#include "QVActionStage.h"
#include "QVDefinitionDiagnostics.h"
#include "QVScheduleExport.h"
#include "QVSchedulerFacade.h"
#include "QVSchedulerStage.h"
#include "QVTimeCompare.h"
#include "QVVusersServices.h"
#include "QVVusersServicesBase.h"
#include "WbBaseException.h"
