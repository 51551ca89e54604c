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

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
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

// ---- A fast path for the common numbers ------------------------------------
//
// Most data are whole numbers or have a few decimals. Such a value v, scaled
// by 10^k and rounded, gives a whole number n; when n / 10^k (one correctly
// rounded division, as reading the text back does) is v again, the text of n
// with k decimals reads back to v. While v * 10^k stays below 2^52 the
// doubles around v lie more than 10^-k apart, so no other decimal with k
// digits reads back to v: with its trailing zeros dropped, n is the decimal
// with the fewest digits, the one to_chars finds. Anything else, and the
// rare value whose shortest text is scientific, goes to to_chars itself.

constexpr int kMostDecimals = 8;
constexpr double kScaleLimit = 0x1p52;
constexpr double kPowerOfTen[kMostDecimals + 1] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

struct ShortDecimal {
  std::uint64_t digits;  // the decimal is digits * 10^-decimals
  int decimals;
};

// The shortest decimal that reads back to `magnitude` (positive and finite),
// when it has at most eight decimals and the fast path can prove it.
bool FindShortDecimal(double magnitude, ShortDecimal& found) {
  int k = kMostDecimals;
  while (k > 0 && !(magnitude * kPowerOfTen[k] < kScaleLimit)) --k;
  const double scaled = magnitude * kPowerOfTen[k];
  if (!(scaled < kScaleLimit)) return false;
  const std::uint64_t n = static_cast<std::uint64_t>(std::llround(scaled));
  if (static_cast<double>(n) / kPowerOfTen[k] != magnitude) return false;
  found.digits = n;
  found.decimals = k;
  while (found.decimals > 0 && found.digits % 10 == 0) {
    found.digits /= 10;
    --found.decimals;
  }
  return true;
}

int DigitCount(std::uint64_t n) {
  int count = 1;
  while (n >= 10) n /= 10, ++count;
  return count;
}

// `count` digits of `n` (leading zeros included) ending at `end`.
void WriteDigits(std::uint64_t n, int count, char* end) {
  for (; count > 0; --count, n /= 10) *--end = static_cast<char>('0' + n % 10);
}

// Fixed notation, unless scientific is shorter (to_chars's choice): false.
bool WriteFixed(bool negative, const ShortDecimal& d, char*& out) {
  const int digitCount = DigitCount(d.digits);
  const int fixedLength = d.decimals == 0 ? digitCount : std::max(digitCount, d.decimals + 1) + 1;
  int significant = digitCount;
  for (std::uint64_t n = d.digits; n % 10 == 0 && significant > 1; n /= 10) --significant;
  const int exponent = digitCount - 1 - d.decimals;
  const int scientificLength = significant + (significant > 1 ? 1 : 0) + 2 + (std::abs(exponent) >= 100 ? 3 : 2);
  if (scientificLength < fixedLength) return false;
  if (negative) *out++ = '-';
  if (d.decimals == 0) {
    WriteDigits(d.digits, digitCount, out + digitCount);
    out += digitCount;
    return true;
  }
  const int whole = std::max(digitCount - d.decimals, 1);
  const std::uint64_t scale = static_cast<std::uint64_t>(kPowerOfTen[d.decimals]);
  WriteDigits(d.digits / scale, whole, out + whole);
  out += whole;
  *out++ = '.';
  WriteDigits(d.digits % scale, d.decimals, out + d.decimals);
  out += d.decimals;
  return true;
}

char* ExactNumber(double value, char* out) {
  ShortDecimal d;
  char* end = out;
  if (value != 0 && FindShortDecimal(std::fabs(value), d) && WriteFixed(value < 0, d, end)) return end;
  return std::to_chars(out, out + kMaxExactText, value).ptr;
}

// A value split into whole seconds (floored) and the decimal digits of the
// fraction that remains, as the shortest round-trip text gives them.
struct SplitSeconds {
  std::int64_t whole = 0;
  char fraction[24];
  std::size_t fractionDigits = 0;
};

SplitSeconds Split(double seconds) {
  ShortDecimal d;
  if (seconds > 0 && FindShortDecimal(seconds, d)) {
    SplitSeconds split;
    const std::uint64_t scale = static_cast<std::uint64_t>(kPowerOfTen[d.decimals]);
    split.whole = static_cast<std::int64_t>(d.digits / scale);
    split.fractionDigits = static_cast<std::size_t>(d.decimals);
    WriteDigits(d.digits % scale, d.decimals, split.fraction + d.decimals);
    return split;
  }
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
  if (kind == ExactKind::kNumber || !(std::fabs(value) < kLargestInstant)) return ExactNumber(value, out);
  if (kind == ExactKind::kDuration) return RenderDuration(value, out);
  return RenderInstant(value, kind == ExactKind::kDateTime, out);
}

}  // namespace dravrun
