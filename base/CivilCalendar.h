#pragma once
// Proleptic Gregorian calendar arithmetic on day numbers counted from
// 1970-01-01 (day 0). Pure integer arithmetic: no time zones, no locale.
#include <cstdint>

namespace drav {

struct CivilDate {
  std::int64_t year;
  int month;  // 1..12
  int day;    // 1..31
};

// The date of day number `days` (negative before 1970).
CivilDate CivilFromDays(std::int64_t days);
// The day number of a date; inverse of CivilFromDays.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day);
// 1 for the first of January.
int DayOfYear(const CivilDate& date);

// Floor division and its non-negative remainder, for negative day and
// second counts.
inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
inline std::int64_t FloorMod(std::int64_t a, std::int64_t b) { return a - FloorDiv(a, b) * b; }

}  // namespace drav
