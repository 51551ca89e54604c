#pragma once
// Dates and times written as ISO 8601 text, turned into the stream's numbers:
// seconds since 1970-01-01T00:00:00. Times are taken as written; there is no
// time zone and no daylight saving shift ("Z" is accepted and means nothing).
#include <string_view>

namespace drav {
namespace feed {

// "2024-03-01", "2024-03-01T12:30:00", "2024-03-01 12:30:00.25",
// "2024-03-01T12:30Z". Throws InputError saying what is wrong.
double ParseDateSeconds(std::string_view text);
// "12:30", "12:30:05", "-1:00:00", "36:00:00.5": hours may go past 24, so
// the same text serves durations. Throws InputError.
double ParseTimeSeconds(std::string_view text);
// Whether year-month-day is a day of the (proleptic Gregorian) calendar.
bool IsCalendarDay(long long year, long long month, long long day);

}  // namespace feed
}  // namespace drav
