// The planned schedule that /api/plan answers: `qvschedule preview` of the run's definition with
// the run's pools, run as a child process of this program, its chart series read back. A preview
// needs a manual clock, and the clock is one per process (the run's clock is installed before the
// first facade call), so the preview runs in a process of its own; it is the very code path of the
// preview command, so the plan is the same series as `preview --csv`.
//
// Threads: start() and the destructor on the main thread; one thread of its own runs the child
// (a deadline bounds it; the destructor ends it early); get() from any thread. mutex_ guards the
// result; a leaf lock.
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PlanPreview {
 public:
  // `arguments`: the pool options of the preview (--vusers N ...).
  PlanPreview(std::string definitionText, std::vector<std::string> arguments, std::vector<std::string> pools);
  ~PlanPreview();
  PlanPreview(const PlanPreview&) = delete;
  PlanPreview& operator=(const PlanPreview&) = delete;

  void start();
  // Waits up to `timeout` for the plan: {"complete", "end_s", "groups", "series": {group: [[time_s,
  // running, initialized], ...]}}. False with the reason when there is none (yet).
  bool get(std::chrono::milliseconds timeout, nlohmann::ordered_json& plan, std::string& problem) const;

 private:
  void body();
  bool runChild(std::string& csv, int& status, std::string& problem);
  bool readUntilEnd(int fd, std::string& out, std::string& problem);
  void finish(nlohmann::ordered_json plan, std::string problem);

  const std::string text_;
  const std::vector<std::string> arguments_;
  const std::vector<std::string> pools_;
  std::thread thread_;
  std::atomic<bool> quit_{false};

  mutable std::mutex mutex_;  // guards the members below
  mutable std::condition_variable done_;
  bool ready_ = false;
  nlohmann::ordered_json plan_;
  std::string problem_;
};
