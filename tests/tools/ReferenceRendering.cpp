// dravrun's value rendering as it was when every number went through the C
// library's printf: kept, unchanged, as the reference the fast renderers
// must match byte for byte.
#include "tests/tools/ReferenceRendering.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/CivilCalendar.h"
#include "host/DravFormat.h"

namespace dravrun {
namespace reference {
namespace old_detail {
void Asterisks(int width, std::string& out);
void RenderPlainNumber(double value, const PrintFormat& format, std::string& out);
void RenderDateTime(double seconds, const PrintFormat& format, std::string& out);
}  // namespace old_detail



namespace {

struct NumberStyle {
  char group;          // thousands separator, 0 for none
  char point;          // decimal separator
  const char* prefix;  // after the sign
  const char* suffix;
};

void FixedDigits(double magnitude, int decimals, char (&buffer)[400]) {
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, magnitude);
}

bool HasNonZeroDigit(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= '1' && *text <= '9') return true;
  }
  return false;
}

void Styled(double value, int decimals, const NumberStyle& style, bool grouped, std::string& out) {
  char digits[400];
  FixedDigits(std::fabs(value), decimals, digits);
  const char* point = std::strchr(digits, '.');
  const std::size_t integerDigits = point ? static_cast<std::size_t>(point - digits) : std::strlen(digits);
  out.clear();
  if (value < 0 && HasNonZeroDigit(digits)) out += '-';
  out += style.prefix;
  for (std::size_t i = 0; i < integerDigits; ++i) {
    if (grouped && i > 0 && (integerDigits - i) % 3 == 0) out += style.group;
    out += digits[i];
  }
  if (point) {
    out += style.point;
    out += point + 1;
  }
  out += style.suffix;
}

void Scientific(double value, int decimals, std::string& out) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*E", decimals, value);
  out = buffer;
}

bool Fits(const std::string& text, int width) { return static_cast<int>(text.size()) <= width; }

void FitScientific(double value, int decimals, int width, std::string& out) {
  for (int d = decimals; d >= 0; --d) {
    Scientific(value, d, out);
    if (Fits(out, width)) return;
  }
  old_detail::Asterisks(width, out);
}

void FitStyled(double value, const PrintFormat& format, const NumberStyle& style, std::string& out) {
  for (int d = format.decimals; d >= 0; --d) {
    if (style.group != 0) {
      Styled(value, d, style, true, out);
      if (Fits(out, format.width)) return;
    }
    Styled(value, d, style, false, out);
    if (Fits(out, format.width)) return;
  }
  // A mantissa can carry at most width - 6 decimals ("1.E+05" and a sign).
  FitScientific(value, format.width > 6 ? format.width - 6 : 0, format.width, out);
}

void ZeroPadded(double value, const PrintFormat& format, std::string& out) {
  char buffer[400];
  if (std::fabs(value) >= 1e300) {
    old_detail::Asterisks(format.width, out);
    return;
  }
  std::snprintf(buffer, sizeof buffer, "%0*.*f", format.width, format.decimals, value);
  out = buffer;
  if (!Fits(out, format.width)) old_detail::Asterisks(format.width, out);
}

}  // namespace

namespace old_detail {

void Asterisks(int width, std::string& out) { out.assign(static_cast<std::size_t>(width > 0 ? width : 1), '*'); }

void RenderPlainNumber(double value, const PrintFormat& format, std::string& out) {
  static const NumberStyle kPlain{0, '.', "", ""};
  static const NumberStyle kComma{',', '.', "", ""};
  static const NumberStyle kDot{'.', ',', "", ""};
  static const NumberStyle kDollar{',', '.', "$", ""};
  static const NumberStyle kPercent{0, '.', "", "%"};
  switch (format.type) {
    case kFmtN: return ZeroPadded(value, format, out);
    case kFmtE: return FitScientific(value, format.decimals, format.width, out);
    case kFmtCOMMA: return FitStyled(value, format, kComma, out);
    case kFmtDOT: return FitStyled(value, format, kDot, out);
    case kFmtDOLLAR: return FitStyled(value, format, kDollar, out);
    case kFmtPCT: return FitStyled(value, format, kPercent, out);
    default: return FitStyled(value, format, kPlain, out);  // F and any unknown code
  }
}

}  // namespace old_detail




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

bool ToMicros(double seconds, std::int64_t& micros) {
  if (!(std::fabs(seconds) < 9.0e12)) return false;
  micros = std::llround(seconds * 1e6);
  return true;
}

void AppendFraction(std::int64_t microsOfSecond, int decimals, std::string& out) {
  if (decimals <= 0) return;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06lld", static_cast<long long>(microsOfSecond));
  out += '.';
  for (int i = 0; i < decimals; ++i) out += i < 6 ? digits[i] : '0';
}

enum ClockDetail { kFraction = 0, kSeconds = 1, kMinutes = 2 };

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

template <typename Build>
void FirstFitting(int width, int candidates, Build build, std::string& out) {
  for (int i = 0; i < candidates; ++i) {
    out.clear();
    build(i, out);
    if (static_cast<int>(out.size()) <= width) return;
  }
  old_detail::Asterisks(width, out);
}

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

void RenderName(const char* name, int width, std::string& out) {
  out.assign(name, std::strlen(name) < static_cast<std::size_t>(width) ? std::strlen(name)
                                                                     : static_cast<std::size_t>(width));
}

void RenderNumbered(double value, const char* const* names, int count, int width, std::string& out) {
  const double number = std::floor(value);
  if (number < 1 || number > count) return old_detail::Asterisks(width, out);
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

namespace old_detail {

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

}  // namespace old_detail


namespace {

PrintFormat Sane(const PrintFormat& format) {
  PrintFormat f = format;
  if (f.width < 1) f.width = 1;
  if (f.width > 255) f.width = 255;
  if (f.decimals < 0) f.decimals = 0;
  if (f.decimals > 16) f.decimals = 16;
  return f;
}

}  // namespace

void RenderNumber(double value, const PrintFormat& format, std::string& out) {
  const PrintFormat f = Sane(format);
  if (std::isnan(value)) {
    out.clear();
  } else if (std::isinf(value)) {
    out = value > 0 ? "Inf" : "-Inf";
    if (static_cast<int>(out.size()) > f.width) old_detail::Asterisks(f.width, out);
  } else if (IsDateTimeFormat(f.type)) {
    old_detail::RenderDateTime(value, f, out);
  } else {
    old_detail::RenderPlainNumber(value == 0 ? 0.0 : value, f, out);  // no "-0"
  }
}

void AppendJsonNumber(double value, bool scientific, int decimals, std::string& out) {
  char buffer[400];  // any double in fixed notation with up to 40 decimals
  if (decimals < 0) decimals = 0;
  if (decimals > 40) decimals = 40;
  std::snprintf(buffer, sizeof buffer, scientific ? "%.*E" : "%.*f", decimals, value == 0 ? 0.0 : value);
  out += buffer;
}

}  // namespace reference
}  // namespace dravrun
