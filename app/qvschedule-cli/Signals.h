// Signals and standard descriptors of the qvschedule program.
//
// StopSignals: while one lives, the first SIGINT or SIGTERM writes its number as one byte to a
// self-pipe that an input thread watches (ConsoleInput: the run then stops the schedule cleanly,
// the linger ends); a second one ends the process at once with status 128 + the signal number.
// The run command keeps one from the start of its run to its exit, so that a signal between the
// run and the linger (the summary, the result files) is not the default action: it waits on the
// pipe, and the linger does not begin. Only one may live at a time; it is created and destroyed
// on the main thread.
#pragma once

// Descriptors 0, 1 and 2 that are closed get /dev/null opened read-only onto them, so that no
// file or pipe the program opens later lands there: reading standard input then gives end of file,
// and writing a closed standard output or error still fails as it would have.
void ensureStandardDescriptors();

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The read end of the self-pipe (above 2 once ensureStandardDescriptors has run), or -1 when it
  // could not be created.
  int readFd() const { return pipe_[0]; }

  // Reads what arrived on the pipe: the number of the first signal, or 0. On the input thread.
  int take();
  // A signal waits on the pipe, not yet taken.
  bool pending() const;
  // The next signal counts as a first one again, the signals taken so far having been served
  // (called on the main thread once the input thread that took them has ended). A signal that
  // came after a taken one and before this call was a second one: it has ended the process.
  void rearm();

  // "interrupted" for SIGINT, "terminated" for SIGTERM.
  static const char* word(int signal);

 private:
  int pipe_[2] = {-1, -1};
  int taken_ = 0;  // signals read by take() since the last rearm()
};
