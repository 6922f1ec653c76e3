// The exit status of the qvschedule program, one value per outcome. The same table is printed by
// --help and documented in the README; scripts rely on the numbers.
#pragma once

namespace exitcode {

constexpr int kFinished = 0;      // the schedule finished on its own; check: the definition is valid
constexpr int kRefused = 1;       // the definition was refused or could not be read
constexpr int kUsage = 2;         // a bad command line
constexpr int kStopped = 3;       // run: stopped before it finished (s, stop line, Ctrl-C, SIGTERM)
constexpr int kPreviewLimit = 4;  // preview: still running after its 30 days of schedule time
constexpr int kOutputFailed = 5;  // an output (chart, series, log, standard output) could not be written
constexpr int kThresholdFailed = 6;  // run: a --threshold failed
constexpr int kUnreachable = 7;      // run: no HTTP vuser could connect to its target
constexpr int kServeFailed = 8;      // run: the --serve address could not be listened on
// The scheduler could not run (an internal error): it refused to start (no timer thread), or, in a
// preview, it did not settle in virtual time.
constexpr int kSchedulerFailed = 70;

}  // namespace exitcode

// The table as --help prints it.
extern const char* const kExitStatusHelp;
