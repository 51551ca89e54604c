// The date, time and duration formats. Values are seconds since
// 1970-01-01T00:00:00 (dates) or plain seconds (TIME, DTIME, MTIME);
// WKDAY and MONTH hold the number of a weekday or a month.
//
// Every field is written straight into the caller's buffer: no printf, no
// std::string.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/DravFormat.h"
#include "base/CivilCalendar.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
using drav::CivilDate;
using drav::CivilFromDays;
using drav::DayOfYear;
using drav::DaysFromCivil;
using drav::FloorDiv;
using drav::FloorMod;
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

// printf's %0*lld: at least `digits` characters, zeros after a minus sign.
char* Padded(std::int64_t value, int digits, char* out) {
  if (value >= 0 && value < 100 && digits == 2) {  // the common field, without to_chars
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
  }
  char text[24];
  const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char* const end = std::to_chars(text, text + sizeof text, magnitude).ptr;
  if (value < 0) {
    *out++ = '-';
    --digits;
  }
  for (int zeros = digits - static_cast<int>(end - text); zeros > 0; --zeros) *out++ = '0';
  std::memcpy(out, text, static_cast<std::size_t>(end - text));
  return out + (end - text);
}

char* Text(const char* text, char* out) {
  while (*text != '\0') *out++ = *text++;
  return out;
}

// Appends ".ff..." with `decimals` digits of the microseconds, cut (not
// rounded); digits beyond the sixth are zeros.
char* AppendFraction(std::int64_t microsOfSecond, int decimals, char* out) {
  if (decimals <= 0) return out;
  *out++ = '.';
  std::int64_t rest = microsOfSecond;
  for (std::int64_t unit = 100000; decimals > 0; --decimals, unit /= 10) {
    *out++ = unit > 0 ? static_cast<char>('0' + rest / unit) : '0';
    if (unit > 0) rest %= unit;
  }
  return out;
}

// Detail levels of a clock text, most detailed first.
enum ClockDetail { kFraction = 0, kSeconds = 1, kMinutes = 2 };

// "hh:mm", "hh:mm:ss" or "hh:mm:ss.ff" for `micros` below one day or, as a
// duration, any number of hours.
char* AppendClock(std::int64_t micros, int detail, int decimals, char* out) {
  out = Padded(micros / kMicrosPerHour, 2, out);
  *out++ = ':';
  out = Padded(micros / kMicrosPerMinute % 60, 2, out);
  if (detail == kMinutes) return out;
  *out++ = ':';
  out = Padded(micros / kMicrosPerSecond % 60, 2, out);
  if (detail == kFraction) out = AppendFraction(micros % kMicrosPerSecond, decimals, out);
  return out;
}

// Builds the candidates from most to least detailed and keeps the first that
// fits the width; asterisks when none does. Each candidate is written over
// the one before.
template <typename Build>
char* FirstFitting(int width, int candidates, Build build, char* out) {
  for (int i = 0; i < candidates; ++i) {
    char* const end = build(i, out);
    if (end - out <= width) return end;
  }
  return detail::Asterisks(width, out);
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

// Four-digit years only: a year 0, a negative year or a fifth digit would
// read as a different date (or shift every column), so such an instant
// fills its width with asterisks, like any value that does not fit.
bool HasFourDigitYear(const Moment& m) { return m.date.year >= 1 && m.date.year <= 9999; }

// Runs a date renderer on the moment `micros` names, when it can be shown.
template <typename Render>
char* RenderInstant(std::int64_t micros, const PrintFormat& f, Render render, char* out) {
  const Moment m = MomentOf(micros);
  return HasFourDigitYear(m) ? render(m, f, out) : detail::Asterisks(f.width, out);
}

// The year in four digits, or its last two.
char* Year(const CivilDate& d, bool shortYear, char* out) {
  return shortYear ? Padded(FloorMod(d.year, 100), 2, out) : Padded(d.year, 4, out);
}

char* Separated(std::int64_t first, char separator, std::int64_t second, char* out) {
  out = Padded(first, 2, out);
  *out++ = separator;
  out = Padded(second, 2, out);
  *out++ = separator;
  return out;
}

// Date-only formats: a four-digit-year form, then a two-digit-year one.
char* RenderDate(const Moment& m, const PrintFormat& f, char* out) {
  const CivilDate& d = m.date;
  const char* month = kMonthAbbrev[d.month - 1];
  return FirstFitting(f.width, 2, [&](int shortYear, char* text) {
    switch (f.type) {
      case kFmtDATE:
        text = Padded(d.day, 2, text);
        *text++ = '-';
        text = Text(month, text);
        *text++ = '-';
        return Year(d, shortYear, text);
      case kFmtADATE: return Year(d, shortYear, Separated(d.month, '/', d.day, text));
      case kFmtEDATE: return Year(d, shortYear, Separated(d.day, '.', d.month, text));
      case kFmtSDATE:
        text = Year(d, shortYear, text);
        *text++ = '/';
        text = Padded(d.month, 2, text);
        *text++ = '/';
        return Padded(d.day, 2, text);
      case kFmtJDATE: return Padded(DayOfYear(d), 3, Year(d, shortYear, text));
      case kFmtQYR: return Year(d, shortYear, Text(" Q ", Padded((d.month - 1) / 3 + 1, 1, text)));
      case kFmtMOYR:
        text = Text(month, text);
        *text++ = ' ';
        return Year(d, shortYear, text);
      default: return Year(d, shortYear, Text(" WK ", Padded((DayOfYear(d) - 1) / 7 + 1, 2, text)));  // WKYR
    }
  }, out);
}

// A name cut to the width: WEDNESDAY in WKDAY3 is WED.
char* RenderName(const char* name, int width, char* out) {
  const std::size_t length = std::min(std::strlen(name), static_cast<std::size_t>(width));
  std::memcpy(out, name, length);
  return out + length;
}

// WKDAY and MONTH hold a day of the week (1 = Sunday) or a month (1 =
// January), not an instant; anything outside that range cannot be named.
char* RenderNumbered(double value, const char* const* names, int count, int width, char* out) {
  const double number = std::floor(value);
  if (number < 1 || number > count) return detail::Asterisks(width, out);
  return RenderName(names[static_cast<int>(number) - 1], width, out);
}

char* RenderDateAndClock(const Moment& m, const PrintFormat& f, char* out) {
  const CivilDate& d = m.date;
  const int first = FirstClockDetail(f.decimals);
  if (f.type == kFmtDATETIME) {
    return FirstFitting(f.width, kMinutes - first + 1, [&](int i, char* text) {
      text = Padded(d.day, 2, text);
      *text++ = '-';
      text = Text(kMonthAbbrev[d.month - 1], text);
      *text++ = '-';
      text = Padded(d.year, 4, text);
      *text++ = ' ';
      return AppendClock(m.microsOfDay, first + i, f.decimals, text);
    }, out);
  }
  // YMDHMS: the clock may be left out altogether as a last resort.
  return FirstFitting(f.width, kMinutes - first + 2, [&](int i, char* text) {
    text = Padded(d.year, 4, text);
    *text++ = '-';
    text = Padded(d.month, 2, text);
    *text++ = '-';
    text = Padded(d.day, 2, text);
    if (first + i > kMinutes) return text;
    *text++ = ' ';
    return AppendClock(m.microsOfDay, first + i, f.decimals, text);
  }, out);
}

// TIME, DTIME and MTIME: signed durations.
char* RenderDuration(std::int64_t micros, const PrintFormat& f, char* out) {
  const bool negative = micros < 0;
  const std::int64_t total = negative ? -micros : micros;
  const int first = FirstClockDetail(f.decimals);
  return FirstFitting(f.width, kMinutes - first + 1, [&](int i, char* text) {
    if (negative) *text++ = '-';
    const int level = first + i;
    if (f.type == kFmtDTIME) {
      text = Padded(total / kMicrosPerDay, 2, text);
      *text++ = ' ';
      return AppendClock(total % kMicrosPerDay, level, f.decimals, text);
    }
    if (f.type == kFmtMTIME) {
      // Minutes and seconds; the coarsest level shows whole minutes.
      text = Padded(total / kMicrosPerMinute, 2, text);
      if (level == kMinutes) return text;
      *text++ = ':';
      text = Padded(total / kMicrosPerSecond % 60, 2, text);
      return level == kFraction ? AppendFraction(total % kMicrosPerSecond, f.decimals, text) : text;
    }
    return AppendClock(total, level, f.decimals, text);
  }, out);
}

}  // namespace

namespace detail {

char* RenderDateTime(double seconds, const PrintFormat& format, char* out) {
  std::int64_t micros = 0;
  if (!ToMicros(seconds, micros)) return Asterisks(format.width, out);
  switch (format.type) {
    case kFmtTIME:
    case kFmtDTIME:
    case kFmtMTIME: return RenderDuration(micros, format, out);
    case kFmtDATETIME:
    case kFmtYMDHMS: return RenderInstant(micros, format, RenderDateAndClock, out);
    case kFmtWKDAY: return RenderNumbered(seconds, kWeekdayName, 7, format.width, out);
    case kFmtMONTH: return RenderNumbered(seconds, kMonthName, 12, format.width, out);
    default: return RenderInstant(micros, format, RenderDate, out);
  }
}

}  // namespace detail
}  // namespace dravrun
