// Time unit, epoch and tolerant comparison. Absolute times are file times (100 ns units since
// 1601-01-01 UTC, read from the process clock); relative times are signed 32-bit whole seconds.
// All members are static and may be called from any thread.
#pragma once

#include "QVScheduleExport.h"
#include "QVWinTypes.h"

#include <cstdint>

class QVSCHEDULE_EXPORT CQVTimeCompare {
 public:
  static const double DEBUG_EPSILON;
  static const double EPSILON_3;
  static const double TEST_EPSILON;
  static const std::uint64_t MILLI_SECOND_TO_100_NANO_SECONDS;
  static const std::uint64_t SECOND_TO_100_NANO_SECONDS;
  static const std::uint64_t SECOND_TO_MILLI_SECOND;

  CQVTimeCompare& operator=(const CQVTimeCompare&) = default;

  // |a - b| <= epsilon, the difference taken in 32-bit arithmetic. NaN epsilon: false.
  static bool isEqual(long a, long b, double epsilon);
  // a - b > epsilon (32-bit difference).
  static bool isBigger(long a, long b, double epsilon);
  static bool isBiggerOrEqual(long a, long b, double epsilon);
  // Whether a is earlier than b by more than the tolerance, at whole-millisecond resolution.
  static bool isSmaller(const std::uint64_t& a, const std::uint64_t& b, double epsilon);
  // Now plus `seconds` (may be negative), modulo 2^64.
  static ULARGE_INTEGER relTimeInSecondsToAbsTimeIn100NanoSeconds(long seconds);
  static ULARGE_INTEGER getCurrTimeIn100NanoSeconds();
};
