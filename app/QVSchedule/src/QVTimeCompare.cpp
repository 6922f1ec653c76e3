#include "QVTimeCompare.h"

#include "QVClock.h"

#include <cmath>

const double CQVTimeCompare::DEBUG_EPSILON = 10.0;
const double CQVTimeCompare::EPSILON_3 = 0.001;
const double CQVTimeCompare::TEST_EPSILON = 1.0;
const std::uint64_t CQVTimeCompare::MILLI_SECOND_TO_100_NANO_SECONDS = 10000ULL;
const std::uint64_t CQVTimeCompare::SECOND_TO_100_NANO_SECONDS = 10000000ULL;
const std::uint64_t CQVTimeCompare::SECOND_TO_MILLI_SECOND = 1000ULL;

namespace {

// a - b in signed 32-bit arithmetic, wrapping on overflow.
double difference32(long a, long b) {
  const auto diff = static_cast<std::uint32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
  return static_cast<double>(static_cast<std::int32_t>(diff));
}

}  // namespace

bool CQVTimeCompare::isEqual(long a, long b, double epsilon) { return std::fabs(difference32(a, b)) <= epsilon; }

bool CQVTimeCompare::isBigger(long a, long b, double epsilon) { return difference32(a, b) > epsilon; }

bool CQVTimeCompare::isBiggerOrEqual(long a, long b, double epsilon) {
  return isEqual(a, b, epsilon) || isBigger(a, b, epsilon);
}

bool CQVTimeCompare::isSmaller(const std::uint64_t& a, const std::uint64_t& b, double epsilon) {
  const std::uint64_t aMs = a / MILLI_SECOND_TO_100_NANO_SECONDS;
  const std::uint64_t bMs = b / MILLI_SECOND_TO_100_NANO_SECONDS;
  // The tolerance in whole milliseconds (epsilon is in seconds), at least 1.
  const double t = epsilon * static_cast<double>(SECOND_TO_MILLI_SECOND);
  std::uint64_t tolerance = 1;
  if (t > 0.0) {
    // Truncation toward zero; huge tolerances saturate instead of overflowing the conversion.
    constexpr double kLargest = static_cast<double>(UINT64_MAX);
    tolerance = t >= kLargest ? UINT64_MAX : static_cast<std::uint64_t>(t);
  }
  // bMs > aMs + tolerance, without wrapping the sum.
  return bMs > aMs && bMs - aMs > tolerance;
}

ULARGE_INTEGER CQVTimeCompare::relTimeInSecondsToAbsTimeIn100NanoSeconds(long seconds) {
  const auto offset = static_cast<std::int64_t>(static_cast<std::int32_t>(seconds)) *
                      static_cast<std::int64_t>(SECOND_TO_100_NANO_SECONDS);
  return QVMakeULargeInteger(QVNowFileTime() + static_cast<std::uint64_t>(offset));
}

ULARGE_INTEGER CQVTimeCompare::getCurrTimeIn100NanoSeconds() { return QVMakeULargeInteger(QVNowFileTime()); }
