// Exact text: shortest round-trip numbers and ISO 8601 with the stored
// fraction.
//
// A date or duration is first written as the shortest fixed-notation text of
// its seconds (to_chars without a precision), which already holds exactly
// the fraction digits the double needs. The whole seconds become the
// calendar fields and the fraction digits are copied after them, so the
// text names the same decimal number of seconds and reads back to the same
// double.
#include "tools/dravrun/ExactFormat.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/CivilCalendar.h"
#include "host/DravFormat.h"

namespace dravrun {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Beyond this many seconds (about three billion years) no calendar text is
// sensible; the value is written as the plain number of seconds instead.
constexpr double kLargestInstant = 1e17;

char* Digits2(std::int64_t value, char* out) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + 2;
}

// At least `digits` digits of a non-negative number.
char* Padded(std::uint64_t value, int digits, char* out) {
  char text[24];
  char* const end = std::to_chars(text, text + sizeof text, value).ptr;
  for (int zeros = digits - static_cast<int>(end - text); zeros > 0; --zeros) *out++ = '0';
  std::memcpy(out, text, static_cast<std::size_t>(end - text));
  return out + (end - text);
}

// A value split into whole seconds (floored) and the decimal digits of the
// fraction that remains, as the shortest round-trip text gives them.
struct SplitSeconds {
  std::int64_t whole = 0;
  char fraction[24];
  std::size_t fractionDigits = 0;
};

SplitSeconds Split(double seconds) {
  char text[kMaxExactText];
  const char* const end = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed).ptr;
  const bool negative = text[0] == '-';
  SplitSeconds split;
  const char* p = text + (negative ? 1 : 0);
  std::from_chars(p, end, split.whole);
  const char* point = static_cast<const char*>(std::memchr(p, '.', static_cast<std::size_t>(end - p)));
  if (point != nullptr) {
    split.fractionDigits = static_cast<std::size_t>(end - point - 1);
    std::memcpy(split.fraction, point + 1, split.fractionDigits);
  }
  if (!negative) return split;
  split.whole = -split.whole;
  if (split.fractionDigits == 0) return split;
  // -12.25 is -13 and 0.75: the fraction's ten's complement, digit by digit
  // (exact in decimal, so the text still names the same number).
  split.whole -= 1;
  std::size_t last = split.fractionDigits - 1;
  split.fraction[last] = static_cast<char>('0' + 10 - (split.fraction[last] - '0'));
  for (std::size_t i = 0; i < last; ++i) split.fraction[i] = static_cast<char>('0' + 9 - (split.fraction[i] - '0'));
  return split;
}

char* AppendFraction(const SplitSeconds& split, char* out) {
  if (split.fractionDigits == 0) return out;
  *out++ = '.';
  std::memcpy(out, split.fraction, split.fractionDigits);
  return out + split.fractionDigits;
}

char* AppendClock(std::int64_t hours, std::int64_t secondsOfHour, const SplitSeconds& split, char* out) {
  out = hours < 100 ? Digits2(hours, out) : Padded(static_cast<std::uint64_t>(hours), 2, out);
  *out++ = ':';
  out = Digits2(secondsOfHour / 60, out);
  *out++ = ':';
  out = Digits2(secondsOfHour % 60, out);
  return AppendFraction(split, out);
}

// A four-digit year as it is; any other with its sign, as ISO 8601's
// expanded years are written.
char* AppendYear(std::int64_t year, char* out) {
  if (year >= 0 && year <= 9999) return Padded(static_cast<std::uint64_t>(year), 4, out);
  *out++ = year < 0 ? '-' : '+';
  const std::uint64_t magnitude = year < 0 ? 0 - static_cast<std::uint64_t>(year) : static_cast<std::uint64_t>(year);
  return Padded(magnitude, 4, out);
}

char* RenderInstant(double seconds, bool alwaysTime, char* out) {
  const SplitSeconds split = Split(seconds);
  const std::int64_t days = drav::FloorDiv(split.whole, kSecondsPerDay);
  const std::int64_t secondsOfDay = split.whole - days * kSecondsPerDay;
  const drav::CivilDate date = drav::CivilFromDays(days);
  out = AppendYear(date.year, out);
  *out++ = '-';
  out = Digits2(date.month, out);
  *out++ = '-';
  out = Digits2(date.day, out);
  if (!alwaysTime && secondsOfDay == 0 && split.fractionDigits == 0) return out;
  *out++ = 'T';
  return AppendClock(secondsOfDay / 3600, secondsOfDay % 3600, split, out);
}

char* RenderDuration(double seconds, char* out) {
  if (seconds < 0) *out++ = '-';
  const SplitSeconds split = Split(std::fabs(seconds));
  return AppendClock(split.whole / 3600, split.whole % 3600, split, out);
}

}  // namespace

ExactKind ExactKindOf(int type) {
  switch (type) {
    case kFmtDATETIME: case kFmtYMDHMS:
      return ExactKind::kDateTime;
    case kFmtDATE: case kFmtADATE: case kFmtEDATE: case kFmtSDATE: case kFmtJDATE:
    case kFmtMOYR: case kFmtQYR: case kFmtWKYR:
      return ExactKind::kDate;
    case kFmtTIME: case kFmtDTIME: case kFmtMTIME:
      return ExactKind::kDuration;
    default:
      return ExactKind::kNumber;
  }
}

char* RenderExact(double value, int type, char* out) {
  const ExactKind kind = ExactKindOf(type);
  if (kind == ExactKind::kNumber || !(std::fabs(value) < kLargestInstant)) {
    return std::to_chars(out, out + kMaxExactText, value).ptr;
  }
  if (kind == ExactKind::kDuration) return RenderDuration(value, out);
  return RenderInstant(value, kind == ExactKind::kDateTime, out);
}

}  // namespace dravrun
