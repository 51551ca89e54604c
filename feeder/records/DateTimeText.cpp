#include "feeder/records/DateTimeText.h"

#include <string>

#include "base/CivilCalendar.h"
#include "dravfeed/FeederError.h"
#include "feeder/records/QuotedText.h"

namespace drav {
namespace feed {
namespace {

constexpr double kSecondsPerDay = 86400.0;

[[noreturn]] void Refuse(std::string_view text, const char* why) {
  throw InputError(Quoted(text) + " " + why);
}

// Reads exactly `count` digits at `pos`.
bool Digits(std::string_view text, std::size_t& pos, std::size_t count, long long& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return true;
}

// Reads one or more digits at `pos` (at most 9, enough for any hour count).
bool SomeDigits(std::string_view text, std::size_t& pos, long long& value) {
  std::size_t start = pos;
  value = 0;
  while (pos < text.size() && pos - start < 9 && text[pos] >= '0' && text[pos] <= '9')
    value = value * 10 + (text[pos++] - '0');
  return pos > start;
}

// ":SS" and ".fraction" after the minutes; both optional.
bool Seconds(std::string_view text, std::size_t& pos, double& seconds) {
  seconds = 0;
  if (pos == text.size() || text[pos] != ':') return true;
  ++pos;
  long long whole;
  if (!Digits(text, pos, 2, whole) || whole > 59) return false;
  seconds = static_cast<double>(whole);
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    double scale = 0.1;
    std::size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      seconds += (text[pos++] - '0') * scale;
      scale /= 10;
    }
    if (pos == start) return false;
  }
  return true;
}

bool IsLeap(long long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

bool IsCalendarDay(long long year, long long month, long long day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  return day <= (month == 2 && IsLeap(year) ? 29 : kDays[month - 1]);
}

double ParseDateSeconds(std::string_view text) {
  std::size_t pos = 0;
  long long year, month, day;
  if (!Digits(text, pos, 4, year) || pos == text.size() || text[pos++] != '-' ||
      !Digits(text, pos, 2, month) || pos == text.size() || text[pos++] != '-' ||
      !Digits(text, pos, 2, day))
    Refuse(text, "is not a date (YYYY-MM-DD)");
  if (!IsCalendarDay(year, month, day))
    Refuse(text, "is not a day of the calendar");
  double seconds = drav::DaysFromCivil(year, static_cast<int>(month), static_cast<int>(day)) *
                   kSecondsPerDay;
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
    ++pos;
    long long hour, minute;
    double second;
    if (!Digits(text, pos, 2, hour) || pos == text.size() || text[pos++] != ':' ||
        !Digits(text, pos, 2, minute) || !Seconds(text, pos, second))
      Refuse(text, "has no valid time of day (hh:mm[:ss[.fff]])");
    if (hour > 23 || minute > 59) Refuse(text, "is not a time of day");
    seconds += hour * 3600.0 + minute * 60.0 + second;
  }
  if (pos < text.size() && text[pos] == 'Z') ++pos;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
    Refuse(text, "has a time zone offset; write the time as it should be stored");
  if (pos != text.size()) Refuse(text, "has characters after the date");
  return seconds;
}

double ParseTimeSeconds(std::string_view text) {
  std::size_t pos = 0;
  bool negative = !text.empty() && text[0] == '-';
  if (negative) ++pos;
  long long hours, minutes;
  double seconds;
  if (!SomeDigits(text, pos, hours) || pos == text.size() || text[pos++] != ':' ||
      !Digits(text, pos, 2, minutes) || minutes > 59 || !Seconds(text, pos, seconds) ||
      pos != text.size())
    Refuse(text, "is not a time (hh:mm[:ss[.fff]])");
  double total = hours * 3600.0 + minutes * 60.0 + seconds;
  return negative ? -total : total;
}

}  // namespace feed
}  // namespace drav
