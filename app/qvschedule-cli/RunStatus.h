// The JSON documents of the control API: the status of a run (GET /api/status, the answer of the
// control calls, the stream's "status" events) and the sample taken once a second (the stream's
// "sample" events). Built from the run's LiveRun, the vusers' counts and, with HTTP vusers, their
// measurements (HttpVusers::snapshot()).
//
// Threads: status() and sample() from any thread (what they read is thread-safe); freeze() from
// the main thread once the run is over. mutex_ guards frozen_; a leaf lock.
#pragma once

#include "Console.h"
#include "HttpVusers.h"
#include "LiveRun.h"

#include <nlohmann/json.hpp>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

class RunStatus {
 public:
  using Json = nlohmann::ordered_json;

  RunStatus(const LiveRun& live, const VusersHost& host, const Console& console, std::string definition,
            double speed);

  Json status() const;
  Json sample() const;
  // From now on status() answers the status of this moment.
  void freeze();

 private:
  Json statusAt(std::uint64_t now) const;
  Json groupsJson(const ScheduleView& view, const std::vector<VusersCounts>& pools,
                  const std::optional<HttpSnapshot>& http) const;
  double secondsAt(std::uint64_t fileTime) const;

  const LiveRun& live_;
  const VusersHost& host_;
  const HttpVusers* const http_;  // the same host when it runs HTTP vusers, else null
  const Console& console_;
  const std::string definition_;
  const double speed_;

  mutable std::mutex mutex_;  // guards frozen_
  std::optional<Json> frozen_;
};
