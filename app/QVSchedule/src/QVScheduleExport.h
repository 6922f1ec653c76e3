// Marks the host-facing interface of the shared library; everything else stays hidden.
#pragma once

#if defined(QVSCHEDULE_BUILDING)
#define QVSCHEDULE_EXPORT __attribute__((visibility("default")))
#else
#define QVSCHEDULE_EXPORT
#endif
