// Conversion of a file time (100 ns units since 1601-01-01 UTC) to calendar fields, in UTC.
#pragma once

#include <cstdint>

struct QVSystemTime {
  int year;
  int month;         // 1..12
  int dayOfWeek;     // 0 = Sunday
  int day;           // 1..31
  int hour;
  int minute;
  int second;
  int milliseconds;
};

// Fails (false) for times past year 30827, as the platform conversion does.
bool QVFileTimeToSystemTime(std::uint64_t fileTime, QVSystemTime& out);
