// What the HTTP vusers measure, per pool (vuser group, or the scenario) and in total: requests,
// errors by kind, status codes, bytes received, latencies, initializations and how long started
// vusers took to send their first request; and a series with one sample per second.
//
// Recording: each event-loop thread has its own recorder per pool (made on its first use) and is
// its only writer; readers merge the recorders of every loop without taking a lock (the counters
// are atomics, see Histogram.h). The series is appended by the host's sampler thread and read by
// any thread under seriesMutex_, a leaf lock.
#pragma once

#include "Histogram.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum class ErrorKind : std::size_t { Connect = 0, Timeout = 1, Http = 2, Other = 3 };
constexpr std::size_t kErrorKinds = 4;
const char* errorKindName(ErrorKind kind);  // "connect", "timeout", "http", "other"
// The HTTP versions responses are counted by.
constexpr std::size_t kProtocols = 4;
const char* protocolName(std::size_t index);  // "HTTP/1.0", "HTTP/1.1", "HTTP/2", "HTTP/3"

// One loop's counters of one pool. Writer: that loop's thread.
struct PoolRecorder {
  static constexpr std::size_t kStatusCodes = 600;  // 0 to 599; anything else counts as 0

  PoolRecorder();
  std::atomic<std::uint64_t> requests;
  std::array<std::atomic<std::uint64_t>, kErrorKinds> errors;
  std::atomic<std::uint64_t> bytes;
  std::atomic<std::uint64_t> latencySumUs;
  std::atomic<std::uint64_t> latencyMaxUs;
  std::atomic<std::uint64_t> initOk;
  std::atomic<std::uint64_t> initErrors;
  std::atomic<std::uint64_t> startLagMaxUs;
  std::array<std::atomic<std::uint64_t>, kStatusCodes> statuses;
  std::array<std::atomic<std::uint64_t>, kProtocols> protocols;  // responses by HTTP version
  AtomicHistogram latencyUs;
};

// Merged counters (a plain value).
struct MetricsTotals {
  std::uint64_t requests = 0;
  std::array<std::uint64_t, kErrorKinds> errors{};
  std::uint64_t bytes = 0;
  std::uint64_t latencySumUs = 0;
  std::uint64_t latencyMaxUs = 0;
  std::uint64_t initOk = 0;
  std::uint64_t initErrors = 0;
  std::uint64_t startLagMaxUs = 0;
  std::map<int, std::uint64_t> statuses;  // only codes seen
  std::array<std::uint64_t, kProtocols> protocols{};
  LatencyHistogram latencyUs;

  void add(const PoolRecorder& recorder);
  void merge(const MetricsTotals& other);
  // What happened since `earlier` (maxima are kept as they are now).
  MetricsTotals since(const MetricsTotals& earlier) const;
  std::uint64_t errorCount() const;
  double errorRate() const;  // errors / requests, 0 without requests
  double quantileMs(double q) const { return latencyUs.quantile(q) / 1000.0; }
  double meanMs() const;
};

// One second of the series.
struct SeriesPoint {
  long running = 0;         // vusers running at the end of the second
  std::uint64_t requests = 0;
  std::uint64_t errors = 0;
  double requestsPerSecond = 0;
  double errorsPerSecond = 0;
  double p95Ms = 0;
};
struct SeriesSample {
  double seconds = 0;           // real seconds since the start of the run
  double scheduleSeconds = 0;   // seconds of the schedule's clock since its start
  std::vector<SeriesPoint> pools;  // in pool order
  SeriesPoint total;
};

class Metrics {
 public:
  Metrics(std::size_t loops, std::vector<std::string> pools);
  ~Metrics();
  Metrics(const Metrics&) = delete;
  Metrics& operator=(const Metrics&) = delete;

  const std::vector<std::string>& pools() const { return pools_; }
  // The recorder of `loop` for `pool`; only that loop's thread calls it.
  PoolRecorder& recorder(std::size_t loop, std::size_t pool);

  // Any thread: the counters so far of one pool, and of every pool.
  MetricsTotals cumulative(std::size_t pool) const;
  MetricsTotals cumulativeTotal() const;

  // Sampler: appends one sample from the counters now and the running vusers per pool, and
  // answers the per-pool counters of the span since the previous sample.
  std::vector<MetricsTotals> sample(double seconds, double scheduleSeconds, const std::vector<long>& running);
  std::vector<SeriesSample> series() const;
  // The last sample (all zero before the first).
  SeriesSample latest() const;

 private:
  const std::size_t loops_;
  const std::vector<std::string> pools_;
  // recorders_[loop * pools + pool], made by the loop's thread on first use.
  std::unique_ptr<std::atomic<PoolRecorder*>[]> recorders_;

  mutable std::mutex seriesMutex_;  // guards the members below; a leaf lock
  std::vector<SeriesSample> series_;
  std::vector<MetricsTotals> previous_;  // per pool, at the last sample
  double previousSeconds_ = 0;
};

// "12.3 ms", "1.25 s", "850 us".
std::string formatMs(double ms);
