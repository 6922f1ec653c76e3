#include "QVFileTime.h"

namespace {

// Days since 1601-01-01 to a proleptic Gregorian date (Howard Hinnant's civil_from_days,
// shifted to the 1601 epoch).
void civilFromDays(std::int64_t daysSince1601, int& year, int& month, int& day) {
  // 1601-01-01 is 134774 days before 1970-01-01.
  std::int64_t z = daysSince1601 - 134774 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

bool QVFileTimeToSystemTime(std::uint64_t fileTime, QVSystemTime& out) {
  if (fileTime >= 0x8000000000000000ULL) return false;
  const std::uint64_t totalMs = fileTime / 10000ULL;
  const std::uint64_t totalSeconds = totalMs / 1000ULL;
  const std::int64_t days = static_cast<std::int64_t>(totalSeconds / 86400ULL);
  const std::uint64_t secondsOfDay = totalSeconds % 86400ULL;
  civilFromDays(days, out.year, out.month, out.day);
  if (out.year > 30827) return false;
  out.dayOfWeek = static_cast<int>((days + 1) % 7);  // 1601-01-01 was a Monday
  out.hour = static_cast<int>(secondsOfDay / 3600ULL);
  out.minute = static_cast<int>((secondsOfDay / 60ULL) % 60ULL);
  out.second = static_cast<int>(secondsOfDay % 60ULL);
  out.milliseconds = static_cast<int>(totalMs % 1000ULL);
  return true;
}
