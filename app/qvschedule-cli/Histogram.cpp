#include "Histogram.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint64_t kLargest = (std::uint64_t{1} << 41) - 1;

int bitWidth(std::uint64_t value) {
  int bits = 0;
  while (value) {
    ++bits;
    value >>= 1;
  }
  return bits;
}

}  // namespace

std::size_t LatencyHistogram::indexOf(std::uint64_t value) {
  value = std::min(value, kLargest);
  const int shift = std::max(0, bitWidth(value) - 7);
  return kSubBuckets * static_cast<std::size_t>(shift) + static_cast<std::size_t>(value >> shift);
}

std::uint64_t LatencyHistogram::lowerBound(std::size_t index) {
  if (index < 2 * kSubBuckets) return index;
  const std::size_t shift = index / kSubBuckets - 1;
  return static_cast<std::uint64_t>(index - kSubBuckets * shift) << shift;
}

std::uint64_t LatencyHistogram::width(std::size_t index) {
  return index < 2 * kSubBuckets ? 1 : std::uint64_t{1} << (index / kSubBuckets - 1);
}

void LatencyHistogram::add(std::uint64_t value, std::uint64_t n) { addBucket(indexOf(value), n); }

void LatencyHistogram::merge(const LatencyHistogram& other) {
  for (std::size_t i = 0; i < kBuckets; ++i) counts_[i] += other.counts_[i];
  total_ += other.total_;
}

LatencyHistogram LatencyHistogram::since(const LatencyHistogram& earlier) const {
  LatencyHistogram delta;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    if (counts_[i] > earlier.counts_[i]) delta.addBucket(i, counts_[i] - earlier.counts_[i]);
  }
  return delta;
}

double LatencyHistogram::quantile(double q) const {
  if (total_ == 0) return 0;
  const double clamped = std::min(1.0, std::max(0.0, q));
  const std::uint64_t rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(clamped * total_)));
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    seen += counts_[i];
    if (seen >= rank) {
      // A bucket of width 1 holds exactly its value.
      return width(i) == 1 ? static_cast<double>(lowerBound(i))
                           : static_cast<double>(lowerBound(i)) + static_cast<double>(width(i)) / 2;
    }
  }
  return static_cast<double>(kLargest);
}

AtomicHistogram::AtomicHistogram() {
  for (auto& count : counts_) count.store(0, std::memory_order_relaxed);
}

void AtomicHistogram::record(std::uint64_t value) { bump(counts_[LatencyHistogram::indexOf(value)]); }

void AtomicHistogram::addTo(LatencyHistogram& into) const {
  for (std::size_t i = 0; i < LatencyHistogram::kBuckets; ++i) {
    const std::uint64_t n = counts_[i].load(std::memory_order_relaxed);
    if (n) into.addBucket(i, n);
  }
}
