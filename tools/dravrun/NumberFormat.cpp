// The plain numeric formats: F, N, E, COMMA, DOT, DOLLAR and PCT.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/DravFormat.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

// How one numeric format dresses a number.
struct NumberStyle {
  char group;          // thousands separator, 0 for none
  char point;          // decimal separator
  const char* prefix;  // after the sign
  const char* suffix;
};

// %.*f of |value|; 400 bytes hold any double with up to 40 decimals.
void FixedDigits(double magnitude, int decimals, char (&buffer)[400]) {
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, magnitude);
}

bool HasNonZeroDigit(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= '1' && *text <= '9') return true;
  }
  return false;
}

// `value` with `decimals` decimals in `style`; with `grouped` the integer
// digits get the style's thousands separator. A value that rounds to zero
// never shows a minus sign.
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

// The most precise scientific form that fits `width`, starting from
// `decimals` decimals; asterisks when none does.
void FitScientific(double value, int decimals, int width, std::string& out) {
  for (int d = decimals; d >= 0; --d) {
    Scientific(value, d, out);
    if (Fits(out, width)) return;
  }
  detail::Asterisks(width, out);
}

// Tries fewer decimals, then no grouping, then E notation, then asterisks.
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

// N: the digits padded with zeros to the full width; no other fallback,
// since a shortened N value would read as a different number.
void ZeroPadded(double value, const PrintFormat& format, std::string& out) {
  char buffer[400];
  if (std::fabs(value) >= 1e300) {
    detail::Asterisks(format.width, out);
    return;
  }
  std::snprintf(buffer, sizeof buffer, "%0*.*f", format.width, format.decimals, value);
  out = buffer;
  if (!Fits(out, format.width)) detail::Asterisks(format.width, out);
}

}  // namespace

namespace detail {

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

}  // namespace detail
}  // namespace dravrun
