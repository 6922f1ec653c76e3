// Checked writes of everything the program writes: standard output and error, the log file, the
// chart and its series. A failed write or close is an error that names the output and the reason
// ("qvschedule: cannot write PATH: REASON" on standard error, once per output); the command then
// ends with exitcode::kOutputFailed. A closed pipe on standard output or error (EPIPE, when SIGPIPE
// is ignored) ends the program at once and without a message, as SIGPIPE itself would.
//
// Threads: any thread may write; the record of failed outputs is guarded by a leaf mutex, and the
// failure listener is called without it.
#pragma once

#include <functional>
#include <string>

// The text of an errno value.
std::string errorText(int error);

// Writes all of `text` to `fd`, retrying short writes and interruptions; 0 or the errno.
int writeAll(int fd, const std::string& text);

// Writes `text` as the whole content of the file at `path` (created or truncated) and closes it.
// False, and the failure reported, when any step fails.
bool writeOutputFile(const std::string& path, const std::string& text);

// Writes to standard output or standard error (`fd` 1 or 2). False, and the failure reported,
// when the write fails; nothing more is written to a stream once it has failed.
bool writeStandard(int fd, const std::string& text);

// Reports that `what` (a path, or "standard output") could not be written: prints the reason once
// per output and calls the listener after the first failure of all.
void reportOutputFailure(const std::string& what, int error);
bool anyOutputFailed();
// The listener is called once, on the thread of the first failure (a run stops its schedule).
void setOutputFailureListener(std::function<void()> listener);
