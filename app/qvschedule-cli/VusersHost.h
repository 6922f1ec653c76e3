// What the qvschedule program needs of the vusers it hands to the scheduler, whichever they are:
// the simulated pools (SimulatedVusers) or real HTTP clients (HttpVusers). The scheduler calls the
// CQVVusersServices operations on its own threads; the program's main thread calls the rest.
#pragma once

#include "QVSchedule.h"
#include "QVWait.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The vusers of one pool by state (each vuser is idle, initialized, running or done).
struct VusersCounts {
  long total = 0;
  long idle = 0;
  long initialized = 0;
  long running = 0;
  long done = 0;
};

// One line of the timeline.
struct TimelineEntry {
  std::uint64_t at = 0;   // file time
  std::string kind;       // "call", "event" (raised by the vusers) or "vusers"
  std::string group;      // pool name
  std::string what;       // call or event name
  std::string count;      // vusers concerned: a number, "all" or "-"
  std::string status;     // status word, "raised" or "-"
  std::string mode;       // run mode word of run and init calls, else empty
  bool hasCounts = false;
  VusersCounts counts;    // the pool after the call
};

class VusersHost : public CQVVusersServices {
 public:
  using Listener = std::function<void(const TimelineEntry&)>;

  // Marks the start of the schedule (file time of the installed clock).
  virtual void begin(std::uint64_t origin) = 0;
  // Ends every vuser and every thread of the host; nothing is raised any more. Idempotent.
  virtual void shutdown() = 0;

  // The run is over: the scheduler reported the schedule finished and nothing of the host's
  // own is still to come (finishedEvent is set once when it becomes true).
  virtual bool isFinished() const = 0;
  // File time at which the scheduler reported the schedule finished.
  virtual std::uint64_t finishedAt() const = 0;
  virtual QVEvent& finishedEvent() = 0;

  virtual std::vector<std::string> poolNames() const = 0;
  virtual VusersCounts counts(const std::string& pool) const = 0;
  // Words the progress line adds after the schedule's stage; empty for none.
  virtual std::string progressDetail() const { return std::string(); }
};
