// The plain numeric formats: F, N, E, COMMA, DOT, DOLLAR and PCT.
//
// Digits are rounded exactly as printf's %.*f and %.*E round the binary
// value (2.675 is stored as 2.67499999... and shows as 2.67): std::to_chars
// with a precision does that without printf's locale and format-string
// work, and a value that scaled by 10^decimals stays below 2^52 takes a
// shortcut through integer digits (RoundScaled shows why that is exact).
// The decimals that fit the width are worked out from the number of
// integer digits before anything is formatted, so a value is formatted once;
// only when rounding proves the guess wrong (9.996 becoming 10.00) is each
// candidate tried in turn.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/DravFormat.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

// How one numeric format dresses a number.
struct NumberStyle {
  char group;               // thousands separator, 0 for none
  char point;               // decimal separator
  std::string_view prefix;  // after the sign
  std::string_view suffix;
};

// Any double in fixed notation with up to 40 decimals (JSON numbers may
// ask for that many): 309 integer digits, the point and the decimals.
constexpr std::size_t kDigitsRoom = 400;
static_assert(kDigitsRoom <= kMaxNumberText, "detail::Fixed writes into the callers' buffers");
// Below this every integer digit count is found exactly by comparing with
// powers of ten; larger values take the candidate-by-candidate path.
constexpr double kLargestGuessed = 1e15;

char* Copy(std::string_view text, char* out) {
  if (text.empty()) return out;  // most formats have no prefix or suffix: no call at all
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Digits of the integer part of `magnitude` as %.0f would show them before
// rounding; "0" counts one.
int IntegerDigits(double magnitude) {
  int digits = 1;
  for (double power = 10; magnitude >= power; power *= 10) ++digits;
  return digits;
}

bool HasNonZeroDigit(const char* first, const char* last) {
  for (; first != last; ++first) {
    if (*first >= '1' && *first <= '9') return true;
  }
  return false;
}

constexpr int kMaxScaledDecimals = 16;
constexpr double kPowerOfTen[kMaxScaledDecimals + 1] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7, 1e8,
                                                        1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};
constexpr std::uint64_t kWholePowerOfTen[kMaxScaledDecimals + 1] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull, 100000000ull,
    1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull,
    100000000000000ull, 1000000000000000ull, 10000000000000000ull};

// `magnitude` * 10^decimals rounded to the nearest whole number, exactly as
// printf rounds: by the true product, ties to even. The computed product is
// one correctly rounded multiplication (10^d is exact for these d), off the
// true one by less than half its last place. Below 2^52 one half is a
// multiple of that last place, and so is the product's fraction: a fraction
// other than one half lies on the same side of it as the true one. A
// fraction of exactly one half may be a rounded near-tie; the product's
// rounding error, exact from a fused multiply-add, tells on which side the
// true product lies. False above 2^52: to_chars takes those.
bool RoundScaled(double magnitude, int decimals, std::uint64_t& rounded) {
  if (decimals > kMaxScaledDecimals) return false;
  const double power = kPowerOfTen[decimals];
  const double scaled = magnitude * power;
  if (!(scaled < 0x1p52)) return false;
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;  // exact below 2^52
  rounded = static_cast<std::uint64_t>(whole);
  if (fraction > 0.5) {
    ++rounded;
  } else if (fraction == 0.5) {
    const double error = std::fma(magnitude, power, -scaled);
    if (error > 0 || (error == 0 && rounded % 2 == 1)) ++rounded;
  }
  return true;
}

// The digits of `rounded` / 10^decimals in fixed notation.
char* ScaledDigits(std::uint64_t rounded, int decimals, char* out) {
  const std::uint64_t unit = kWholePowerOfTen[decimals];
  out = std::to_chars(out, out + 24, rounded / unit).ptr;
  if (decimals == 0) return out;
  *out = '.';
  std::uint64_t fraction = rounded % unit;
  for (int i = decimals; i > 0; --i) {
    out[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return out + decimals + 1;
}

// %.*f of a value of 0 or more, written at `out` (kDigitsRoom bytes).
char* FixedDigits(double magnitude, int decimals, char* out) {
  std::uint64_t rounded;
  if (RoundScaled(magnitude, decimals, rounded)) return ScaledDigits(rounded, decimals, out);
  return std::to_chars(out, out + kDigitsRoom, magnitude, std::chars_format::fixed, decimals).ptr;
}

// `value` with `decimals` decimals in `style`; with `grouped` the integer
// digits get the style's thousands separator. A value that rounds to zero
// never shows a minus sign.
char* Styled(double value, int decimals, const NumberStyle& style, bool grouped, char* out) {
  const double magnitude = std::fabs(value);
  if (!grouped && style.point == '.' && (value >= 0 || magnitude >= 1)) {
    // The usual case: the digits go straight to `out`, the sign known before.
    if (value < 0) *out++ = '-';
    return Copy(style.suffix, FixedDigits(magnitude, decimals, Copy(style.prefix, out)));
  }
  char digits[kDigitsRoom];
  char* const end = FixedDigits(magnitude, decimals, digits);
  const std::size_t integerDigits = static_cast<std::size_t>(end - digits) - (decimals > 0 ? decimals + 1 : 0);
  if (value < 0 && (magnitude >= 1 || HasNonZeroDigit(digits, end))) *out++ = '-';
  out = Copy(style.prefix, out);
  for (std::size_t i = 0; i < integerDigits; ++i) {
    if (grouped && i > 0 && (integerDigits - i) % 3 == 0) *out++ = style.group;
    *out++ = digits[i];
  }
  if (decimals > 0) {
    *out++ = style.point;
    out = Copy(std::string_view(digits + integerDigits + 1, static_cast<std::size_t>(decimals)), out);
  }
  return Copy(style.suffix, out);
}

bool Fits(const char* first, const char* last, int width) { return last - first <= width; }

// %.*E: to_chars writes the exponent's letter in lower case.
char* Scientific(double value, int decimals, char* out) {
  char* const end = std::to_chars(out, out + kMaxNumberText, value, std::chars_format::scientific, decimals).ptr;
  char* letter = end - 1;
  while (*letter != 'e') --letter;
  *letter = 'E';
  return end;
}

// The most precise scientific form that fits `width`, starting from
// `decimals` decimals; asterisks when none does. A text `excess` characters
// too wide needs at least `excess` fewer decimals (a carry into a longer
// exponent only ever makes it longer), so the next try skips straight there.
char* FitScientific(double value, int decimals, int width, char* out) {
  for (int d = decimals; d >= 0;) {
    char* const end = Scientific(value, d, out);
    const int excess = static_cast<int>(end - out) - width;
    if (excess <= 0) return end;
    if (d == 0) break;
    d = d > excess ? d - excess : 0;
  }
  return detail::Asterisks(width, out);
}

// Tries every candidate in the order the format prefers them: fewer
// decimals, grouped before plain at each, then E notation, then asterisks.
char* FitStyledByTrial(double value, const PrintFormat& format, const NumberStyle& style, char* out) {
  for (int d = format.decimals; d >= 0; --d) {
    if (style.group != 0) {
      char* const end = Styled(value, d, style, true, out);
      if (Fits(out, end, format.width)) return end;
    }
    char* const end = Styled(value, d, style, false, out);
    if (Fits(out, end, format.width)) return end;
  }
  // A mantissa can carry at most width - 6 decimals ("1.E+05" and a sign).
  return FitScientific(value, format.width > 6 ? format.width - 6 : 0, format.width, out);
}

// The first candidate whose length, worked out from the integer digits and
// the sign, fits the width; formatted once. Every earlier candidate is at
// least as long as its worked-out length (rounding only adds integer digits,
// and a sign that shows at some decimals shows at more), so when the chosen
// text has exactly the length expected it is the one the trial order would
// pick. Null when the guess proved wrong or nothing fits.
char* FitStyledByMagnitude(double value, const PrintFormat& format, const NumberStyle& style, char* out) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < kLargestGuessed)) return nullptr;
  const int integerDigits = IntegerDigits(magnitude);
  const int undecorated = (value < 0 ? 1 : 0) + static_cast<int>(style.prefix.size() + style.suffix.size()) + integerDigits;
  const int groups = style.group != 0 ? (integerDigits - 1) / 3 : 0;
  for (int d = format.decimals; d >= 0; --d) {
    const int plain = undecorated + (d > 0 ? d + 1 : 0);
    const bool grouped = style.group != 0 && plain + groups <= format.width;
    if (!grouped && plain > format.width) continue;
    char* const end = Styled(value, d, style, grouped, out);
    return end - out == plain + (grouped ? groups : 0) ? end : nullptr;
  }
  return nullptr;
}

char* FitStyled(double value, const PrintFormat& format, const NumberStyle& style, char* out) {
  if (char* end = FitStyledByMagnitude(value, format, style, out)) return end;
  return FitStyledByTrial(value, format, style, out);
}

// N: the digits padded with zeros to the full width, like %0*.*f; no other
// fallback, since a shortened N value would read as a different number.
char* ZeroPadded(double value, const PrintFormat& format, char* out) {
  if (std::fabs(value) >= 1e300) return detail::Asterisks(format.width, out);
  char digits[kDigitsRoom];
  const char* first = digits;
  const char* const end = detail::Fixed(value, format.decimals, digits);
  const int length = static_cast<int>(end - first);
  if (length > format.width) return detail::Asterisks(format.width, out);
  if (*first == '-') *out++ = *first++;  // the zeros go after the sign
  const std::size_t zeros = static_cast<std::size_t>(format.width - length);
  std::memset(out, '0', zeros);
  return Copy(std::string_view(first, static_cast<std::size_t>(end - first)), out + zeros);
}

}  // namespace

namespace detail {

char* Fixed(double value, int decimals, char* out) {
  if (value < 0) *out++ = '-';  // as %f: even when the digits are all zeros
  return FixedDigits(std::fabs(value), decimals, out);
}

char* Asterisks(int width, char* out) {
  const std::size_t count = static_cast<std::size_t>(width > 0 ? width : 1);
  std::memset(out, '*', count);
  return out + count;
}

char* RenderPlainNumber(double value, const PrintFormat& format, char* out) {
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

}  // namespace detail
}  // namespace dravrun
