// Log-linear histograms of non-negative integer values (the HTTP vusers record latencies in
// microseconds). Values below 128 have a bucket each; above, every power of two is cut into 64
// buckets of equal width, so a bucket's width is at most 1/64 of its lower bound and its middle,
// the value a quantile answers, is within 0.8% of any value in it. 2,304 buckets reach 2^40.
//
// LatencyHistogram is a plain value (one thread at a time). AtomicHistogram has one writer (the
// event-loop thread that records) and any number of readers that copy it without a lock: each
// bucket is an atomic the writer stores with relaxed order, so a reader may see a recording half
// done across buckets but never a torn count.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class LatencyHistogram {
 public:
  static constexpr std::size_t kSubBuckets = 64;
  static constexpr std::size_t kBuckets = 2304;

  static std::size_t indexOf(std::uint64_t value);
  // The values of bucket `index`: [lowerBound, lowerBound + width).
  static std::uint64_t lowerBound(std::size_t index);
  static std::uint64_t width(std::size_t index);

  LatencyHistogram() : counts_(kBuckets, 0) {}

  void add(std::uint64_t value, std::uint64_t n = 1);
  void addBucket(std::size_t index, std::uint64_t n) { counts_[index] += n; total_ += n; }
  void merge(const LatencyHistogram& other);
  // What was added since `earlier` (a copy of this histogram taken before).
  LatencyHistogram since(const LatencyHistogram& earlier) const;

  std::uint64_t count() const { return total_; }
  // The middle of the bucket holding the value of rank ceil(q * count), 0 when empty.
  double quantile(double q) const;

 private:
  std::vector<std::uint64_t> counts_;
  std::uint64_t total_ = 0;
};

class AtomicHistogram {
 public:
  AtomicHistogram();
  // Writer only.
  void record(std::uint64_t value);
  // Any thread: adds the current counts to `into`.
  void addTo(LatencyHistogram& into) const;

 private:
  std::array<std::atomic<std::uint64_t>, LatencyHistogram::kBuckets> counts_;
};

// A single writer's increment of an atomic counter that readers load without a lock.
inline void bump(std::atomic<std::uint64_t>& counter, std::uint64_t n = 1) {
  counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}
inline void raiseTo(std::atomic<std::uint64_t>& counter, std::uint64_t value) {
  if (value > counter.load(std::memory_order_relaxed)) counter.store(value, std::memory_order_relaxed);
}
