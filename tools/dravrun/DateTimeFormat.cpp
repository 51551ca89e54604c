// The date, time and duration formats. Values are seconds since
// 1970-01-01T00:00:00 (dates) or plain seconds (TIME, DTIME, MTIME);
// WKDAY and MONTH hold the number of a weekday or a month.
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/DravFormat.h"
#include "tools/dravrun/CivilCalendar.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;
constexpr std::int64_t kMicrosPerMinute = 60 * kMicrosPerSecond;
constexpr std::int64_t kMicrosPerHour = 60 * kMicrosPerMinute;
constexpr std::int64_t kMicrosPerDay = 24 * kMicrosPerHour;

const char* const kMonthAbbrev[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const char* const kMonthName[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                    "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
const char* const kWeekdayName[7] = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                                     "THURSDAY", "FRIDAY", "SATURDAY"};

// Whole microseconds: a double holds epoch seconds to about a tenth of a
// microsecond, so rounding here removes binary noise (0.29 stored as
// 0.28999...) without moving a value across a shown boundary. Outside about
// +-285,000 years there is no sensible date: false.
bool ToMicros(double seconds, std::int64_t& micros) {
  if (!(std::fabs(seconds) < 9.0e12)) return false;
  micros = std::llround(seconds * 1e6);
  return true;
}

// Appends ".ff..." with `decimals` digits of the microseconds, cut (not
// rounded); digits beyond the sixth are zeros.
void AppendFraction(std::int64_t microsOfSecond, int decimals, std::string& out) {
  if (decimals <= 0) return;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(microsOfSecond));
  out += '.';
  for (int i = 0; i < decimals; ++i) out += i < 6 ? digits[i] : '0';
}

// Detail levels of a clock text, most detailed first.
enum ClockDetail { kFraction = 0, kSeconds = 1, kMinutes = 2 };

// "hh:mm", "hh:mm:ss" or "hh:mm:ss.ff" for `micros` below one day or, as a
// duration, any number of hours.
void AppendClock(std::int64_t micros, int detail, int decimals, std::string& out) {
  char buffer[48];
  const long long hours = micros / kMicrosPerHour;
  const int minutes = static_cast<int>(micros / kMicrosPerMinute % 60);
  const int seconds = static_cast<int>(micros / kMicrosPerSecond % 60);
  if (detail == kMinutes) {
    std::snprintf(buffer, sizeof buffer, "%02lld:%02d", hours, minutes);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02lld:%02d:%02d", hours, minutes, seconds);
  }
  out += buffer;
  if (detail == kFraction) AppendFraction(micros % kMicrosPerSecond, decimals, out);
}

// Builds the candidates from most to least detailed and keeps the first that
// fits the width; asterisks when none does.
template <typename Build>
void FirstFitting(int width, int candidates, Build build, std::string& out) {
  for (int i = 0; i < candidates; ++i) {
    out.clear();
    build(i, out);
    if (static_cast<int>(out.size()) <= width) return;
  }
  detail::Asterisks(width, out);
}

// The clock detail levels a format offers: with decimals the fraction first.
int FirstClockDetail(int decimals) { return decimals > 0 ? kFraction : kSeconds; }

struct Moment {
  std::int64_t days;         // day number from 1970-01-01
  std::int64_t microsOfDay;  // 0 .. one day
  CivilDate date;
};

Moment MomentOf(std::int64_t micros) {
  Moment m;
  m.days = FloorDiv(micros, kMicrosPerDay);
  m.microsOfDay = micros - m.days * kMicrosPerDay;
  m.date = CivilFromDays(m.days);
  return m;
}

void AppendFormatted(std::string& out, const char* pattern, ...) __attribute__((format(printf, 2, 3)));
void AppendFormatted(std::string& out, const char* pattern, ...) {
  char buffer[96];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  out += buffer;
}

long long Year(const CivilDate& d) { return static_cast<long long>(d.year); }
long long ShortYear(const CivilDate& d) { return static_cast<long long>(FloorMod(d.year, 100)); }

// Date-only formats: a four-digit-year form, then a two-digit-year one.
void RenderDate(const Moment& m, const PrintFormat& f, std::string& out) {
  const CivilDate& d = m.date;
  const char* month = kMonthAbbrev[d.month - 1];
  FirstFitting(f.width, 2, [&](int shortYear, std::string& text) {
    const long long y = shortYear ? ShortYear(d) : Year(d);
    const char* yearPattern = shortYear ? "%02lld" : "%04lld";
    char pattern[48];
    switch (f.type) {
      case kFmtDATE: std::snprintf(pattern, sizeof pattern, "%%02d-%%s-%s", yearPattern);
        return AppendFormatted(text, pattern, d.day, month, y);
      case kFmtADATE: std::snprintf(pattern, sizeof pattern, "%%02d/%%02d/%s", yearPattern);
        return AppendFormatted(text, pattern, d.month, d.day, y);
      case kFmtEDATE: std::snprintf(pattern, sizeof pattern, "%%02d.%%02d.%s", yearPattern);
        return AppendFormatted(text, pattern, d.day, d.month, y);
      case kFmtSDATE: std::snprintf(pattern, sizeof pattern, "%s/%%02d/%%02d", yearPattern);
        return AppendFormatted(text, pattern, y, d.month, d.day);
      case kFmtJDATE: std::snprintf(pattern, sizeof pattern, "%s%%03d", yearPattern);
        return AppendFormatted(text, pattern, y, DayOfYear(d));
      case kFmtQYR: std::snprintf(pattern, sizeof pattern, "%%d Q %s", yearPattern);
        return AppendFormatted(text, pattern, (d.month - 1) / 3 + 1, y);
      case kFmtMOYR: std::snprintf(pattern, sizeof pattern, "%%s %s", yearPattern);
        return AppendFormatted(text, pattern, month, y);
      default: std::snprintf(pattern, sizeof pattern, "%%02d WK %s", yearPattern);  // WKYR
        return AppendFormatted(text, pattern, (DayOfYear(d) - 1) / 7 + 1, y);
    }
  }, out);
}

// A name cut to the width: WEDNESDAY in WKDAY3 is WED.
void RenderName(const char* name, int width, std::string& out) {
  out.assign(name, std::strlen(name) < static_cast<std::size_t>(width) ? std::strlen(name)
                                                                     : static_cast<std::size_t>(width));
}

// WKDAY and MONTH hold a day of the week (1 = Sunday) or a month (1 =
// January), not an instant; anything outside that range cannot be named.
void RenderNumbered(double value, const char* const* names, int count, int width, std::string& out) {
  const double number = std::floor(value);
  if (number < 1 || number > count) return detail::Asterisks(width, out);
  RenderName(names[static_cast<int>(number) - 1], width, out);
}

void RenderDateAndClock(const Moment& m, const PrintFormat& f, std::string& out) {
  const CivilDate& d = m.date;
  const int first = FirstClockDetail(f.decimals);
  if (f.type == kFmtDATETIME) {
    FirstFitting(f.width, kMinutes - first + 1, [&](int i, std::string& text) {
      AppendFormatted(text, "%02d-%s-%04lld ", d.day, kMonthAbbrev[d.month - 1], Year(d));
      AppendClock(m.microsOfDay, first + i, f.decimals, text);
    }, out);
    return;
  }
  // YMDHMS: the clock may be left out altogether as a last resort.
  FirstFitting(f.width, kMinutes - first + 2, [&](int i, std::string& text) {
    AppendFormatted(text, "%04lld-%02d-%02d", Year(d), d.month, d.day);
    if (first + i <= kMinutes) {
      text += ' ';
      AppendClock(m.microsOfDay, first + i, f.decimals, text);
    }
  }, out);
}

// TIME, DTIME and MTIME: signed durations.
void RenderDuration(std::int64_t micros, const PrintFormat& f, std::string& out) {
  const bool negative = micros < 0;
  const std::int64_t total = negative ? -micros : micros;
  const int first = FirstClockDetail(f.decimals);
  FirstFitting(f.width, kMinutes - first + 1, [&](int i, std::string& text) {
    if (negative) text += '-';
    const int level = first + i;
    if (f.type == kFmtDTIME) {
      AppendFormatted(text, "%02lld ", static_cast<long long>(total / kMicrosPerDay));
      AppendClock(total % kMicrosPerDay, level, f.decimals, text);
    } else if (f.type == kFmtMTIME) {
      // Minutes and seconds; the coarsest level shows whole minutes.
      AppendFormatted(text, "%02lld", static_cast<long long>(total / kMicrosPerMinute));
      if (level == kMinutes) return;
      AppendFormatted(text, ":%02d", static_cast<int>(total / kMicrosPerSecond % 60));
      if (level == kFraction) AppendFraction(total % kMicrosPerSecond, f.decimals, text);
    } else {
      AppendClock(total, level, f.decimals, text);
    }
  }, out);
}

}  // namespace

namespace detail {

void RenderDateTime(double seconds, const PrintFormat& format, std::string& out) {
  std::int64_t micros = 0;
  if (!ToMicros(seconds, micros)) return Asterisks(format.width, out);
  switch (format.type) {
    case kFmtTIME:
    case kFmtDTIME:
    case kFmtMTIME: return RenderDuration(micros, format, out);
    case kFmtDATETIME:
    case kFmtYMDHMS: return RenderDateAndClock(MomentOf(micros), format, out);
    case kFmtWKDAY: return RenderNumbered(seconds, kWeekdayName, 7, format.width, out);
    case kFmtMONTH: return RenderNumbered(seconds, kMonthName, 12, format.width, out);
    default: return RenderDate(MomentOf(micros), format, out);
  }
}

}  // namespace detail
}  // namespace dravrun
