// Date-time values as the original platform keeps them: days since 30 December 1899 in a double
// whose fraction is the time of day; encoding into and decoding out of calendar parts.
#pragma once

#include <cmath>
#include <cstdint>

using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;

inline bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

inline int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

namespace datetime_detail {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil calendar method).
inline int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

inline void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

constexpr int64_t kUnixDaysOffset = 25569;  // 1970-01-01 as a TDateTime

// Whole days and milliseconds of the day, rounded to the millisecond; negative values keep the
// time as the distance past midnight, as the original platform does (-1.25 is 29 December 1899,
// 06:00). Values beyond the calendar (or not finite) give day 0.
inline void Split(TDateTime value, int64_t& days, int64_t& msecs) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
    days = 0;
    msecs = 0;
    return;
  }
  double whole = std::trunc(value);
  days = static_cast<int64_t>(whole);
  msecs = std::llround(std::fabs(value - whole) * kMSecsPerDay);
  if (msecs >= static_cast<int64_t>(kMSecsPerDay)) {
    msecs -= static_cast<int64_t>(kMSecsPerDay);
    days += value < 0 ? -1 : 1;
  }
}

}  // namespace datetime_detail

// False for a year outside 1..9999 or a month or day outside the calendar.
inline bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  value = static_cast<double>(datetime_detail::DaysFromCivil(year, month, day) +
                              datetime_detail::kUnixDaysOffset);
  return true;
}

// False for parts outside 0..23, 0..59, 0..59, 0..999.
inline bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      msec < 0 || msec > 999)
    return false;
  value = (((hour * 60 + minute) * 60 + second) * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

// A date plus a time of day; for dates before 1899-12-30 the time counts away from zero.
inline TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

inline void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int64_t days, msecs;
  datetime_detail::Split(value, days, msecs);
  datetime_detail::CivilFromDays(days - datetime_detail::kUnixDaysOffset, year, month, day);
}

inline void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  int64_t days, msecs;
  datetime_detail::Split(value, days, msecs);
  msec = static_cast<int>(msecs % 1000);
  second = static_cast<int>(msecs / 1000 % 60);
  minute = static_cast<int>(msecs / 60000 % 60);
  hour = static_cast<int>(msecs / 3600000);
}
