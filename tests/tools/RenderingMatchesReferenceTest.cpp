// The std::to_chars renderers against the printf-based ones they replaced
// (tests/tools/ReferenceRendering.cpp): byte for byte, on the values where
// rounding, signs, widths, grouping and calendars are easiest to get wrong.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "host/DravFormat.h"
#include "tests/tools/ReferenceRendering.h"
#include "tools/dravrun/TextEscape.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Rounding ties (as written; most are not ties in binary), values that round
// to zero, signs, the digit counts where grouping and widths change, and
// the ends of the double range.
const std::vector<double> kTrickyNumbers = {
    0.125, 2.675, 0.5, 1.5, 2.5, -2.5, 0.045, 0.45, 0.025, 0.15, 0.35, 1.005, 0.015, 0.035, 1.0005, 9.995, 99.995, -99.995,
    999999.995, 0.0, -0.0, -0.001, -0.004, -0.005, -0.0049, 0.0049, -0.05, -0.5, -0.49, 0.95, -0.95,
    1e-300, -1e-300, 5e-324, -5e-324, DBL_MIN, 1e300, -1e300, DBL_MAX, -DBL_MAX, kNaN, kInf, -kInf,
    0.1, 0.2, 0.3, 1.0 / 3, 2.0 / 3, -2.0 / 3, 45.678, 3.14159, -3.14159, 7.6,
    999, 1000, -1000, 9999, 10000, 99999, 100000, 999999, 1000000, -1000000, 9999999, 10000000,
    999.5, 9999.5, 99999.95, 999999.5, 1234.5678, 1234567.891, -1234567.891, 12345678.9,
    123456789.0, 999999999.9996, 123456789012345.0, 999999999999999.0, 1e15, 1e15 + 1, 9.999999e14,
    1e16, 1e21, 1e22, 1e23, 4503599627370496.5, 9007199254740993.0, 0.000123456, -0.00012345,
};

struct NumberFormatCase {
  int type;
  const char* name;
};

const NumberFormatCase kNumberFormats[] = {
    {kFmtF, "F"},       {kFmtN, "N"},     {kFmtE, "E"},     {kFmtCOMMA, "COMMA"},
    {kFmtDOT, "DOT"},   {kFmtDOLLAR, "DOLLAR"}, {kFmtPCT, "PCT"}, {99, "unknown"},
};

bool EndsWithExponent(const std::string& text) {
  const std::size_t letter = text.rfind('E');
  return letter != std::string::npos && letter + 4 <= text.size() &&
         (text[letter + 1] == '+' || text[letter + 1] == '-') &&
         text.find_first_not_of("0123456789", letter + 2) == std::string::npos;
}

// The one place where the two differ on purpose: the printf version wrote
// E notation into a 64-byte buffer, so a format wider than 63 showed a
// number too large for fixed notation as 63 characters of its mantissa,
// without the exponent. The new text is the whole one.
bool ReferenceCutItsExponentOff(const std::string& expected, const std::string& actual) {
  return expected.size() == 63 && !EndsWithExponent(expected) && EndsWithExponent(actual) &&
         actual.compare(0, 10, expected, 0, 10) == 0;
}

// The other change on purpose: the printf version showed instants before
// year 1 or after year 9999 as year 0, negative or five-digit years (or,
// in two-digit forms, as a wrong century). They are asterisks now.
bool IsCalendarFormat(int type) {
  return IsDateTimeFormat(type) && type != kFmtTIME && type != kFmtDTIME && type != kFmtMTIME &&
         type != kFmtWKDAY && type != kFmtMONTH;
}

bool OutsideYearsOneToNineThousandNineHundredNinetyNine(double seconds) {
  const double kFirstMoment = -62135596800.0;  // 0001-01-01 00:00:00
  const double kEndMoment = 253402300800.0;    // 10000-01-01 00:00:00
  return std::isfinite(seconds) && (seconds < kFirstMoment || seconds >= kEndMoment);
}

void ExpectSameNumber(double value, const PrintFormat& f) {
  std::string expected, actual;
  reference::RenderNumber(value, f, expected);
  if (IsCalendarFormat(f.type) && OutsideYearsOneToNineThousandNineHundredNinetyNine(value)) {
    expected.assign(static_cast<std::size_t>(f.width), '*');
  }
  RenderNumber(value, f, actual);
  if (ReferenceCutItsExponentOff(expected, actual)) return;
  ASSERT_EQ(actual, expected) << FormatName(f) << " of " << value;
}

TEST(RenderingMatchesReference, EveryNumericFormatAtEveryWidthOnTrickyValues) {
  const int widths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 20, 24, 30, 40, 64, 255, 300};
  const int decimals[] = {0, 1, 2, 3, 4, 6, 9, 16, 20};
  for (const NumberFormatCase& format : kNumberFormats) {
    SCOPED_TRACE(format.name);
    for (int width : widths) {
      for (int d : decimals) {
        for (double value : kTrickyNumbers) ExpectSameNumber(value, PrintFormat{format.type, width, d});
      }
    }
  }
}

// Values with few significant digits at every magnitude, many of them
// halfway between two shown values, from a fixed seed; and exact binary
// ties (multiples of 1/32 above whole numbers of every size), which printf
// rounds to the even neighbour.
std::vector<double> SweepValues() {
  std::vector<double> values;
  for (int i = 0; i < 64; ++i) {
    for (double whole : {0.0, 7.0, 999.0, 123456.0, 99999999.0, 4503599627370495.0}) {
      values.push_back(whole + i / 32.0);
      values.push_back(-(whole + i / 32.0));
    }
  }
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 1500; ++i) {
    const double digits = static_cast<double>(next() % 2000001) - 1000000.0;  // up to seven digits
    const int exponent = static_cast<int>(next() % 24) - 12;
    values.push_back(digits * std::pow(10.0, exponent) + (i % 3 == 0 ? 0.0 : 0.5 * std::pow(10.0, exponent)));
  }
  return values;
}

TEST(RenderingMatchesReference, PlainAndGroupedFormatsOnASweepOfMagnitudes) {
  const std::vector<double> values = SweepValues();
  for (const NumberFormatCase& format : kNumberFormats) {
    SCOPED_TRACE(format.name);
    for (int width = 3; width <= 14; ++width) {
      for (int d = 0; d <= 4; ++d) {
        for (double value : values) ExpectSameNumber(value, PrintFormat{format.type, width, d});
      }
    }
  }
}

// Instants and durations: the epoch, just before it, leap days, the last
// moments of a day, fractions a double cannot hold exactly, the first and
// last moments of years 1 and 9999, years beyond four digits and before
// year 0, and the limits of a representable date.
const std::vector<double> kTrickyInstants = {
    0.0, -0.0, -1.0, -0.5, 0.29, 86399.9, 86399.999999, 86399.9999996, 86400.0, 1796481015.25,
    1709164800.0,                  // 2024-02-29
    951782400.0,                   // 2000-02-29
    -2203891200.0,                 // 1900-03-01
    -11676096000.0,                // 1600-01-01
    -62167219200.0,                // 0000-01-01
    -62135596800.0,                // 0001-01-01
    -62135596800.5,                // 0000-12-31 23:59:59.5
    -62167219200.0 - 86400 * 366,  // year -1
    -80000000000.0,                // year -566
    253402300799.999,              // 9999-12-31 23:59:59.999
    253402300800.0,                // 10000-01-01
    8.99e12, -8.99e12, 9.0e12, 1e15, -1e15, kNaN, kInf, -kInf,
    45015.25, 3723.25, -3723.5, 360000.0, 3600000.0, 2 * 86400 + 3723.25, 123456789.123456,
    0.5, 1.0, 4.9, 7.0, 7.99, 8.0, 12.0, 13.0, -3.0,  // WKDAY and MONTH numbers
};

const int kDateFormats[] = {kFmtDATE, kFmtADATE, kFmtEDATE, kFmtSDATE, kFmtJDATE, kFmtQYR,  kFmtMOYR, kFmtWKYR,
                            kFmtWKDAY, kFmtMONTH, kFmtDATETIME, kFmtYMDHMS, kFmtTIME, kFmtDTIME, kFmtMTIME};

TEST(RenderingMatchesReference, EveryDateAndTimeFormatAtEveryWidth) {
  for (int type : kDateFormats) {
    for (int width = 1; width <= 40; ++width) {
      for (int d = 0; d <= 8; ++d) {
        for (double value : kTrickyInstants) ExpectSameNumber(value, PrintFormat{type, width, d});
      }
    }
  }
}

TEST(RenderingMatchesReference, DatesOnEveryDayOfFourHundredYears) {
  // A day and a bit apart, so that every day of the Gregorian cycle, both
  // sides of 1970, and every clock reading drift past.
  for (double t = -6307200000.0; t < 6307200000.0; t += 86400.0 * 1.00417 + 0.37) {
    for (int type : {kFmtDATE, kFmtJDATE, kFmtWKYR, kFmtQYR, kFmtDATETIME, kFmtYMDHMS}) {
      ExpectSameNumber(t, PrintFormat{type, 24, 2});
      ExpectSameNumber(t, PrintFormat{type, 9, 0});
    }
  }
}

TEST(RenderingMatchesReference, WideScientificKeepsItsExponent) {
  std::string out;
  RenderNumber(-1e300, PrintFormat{kFmtF, 255, 2}, out);
  EXPECT_EQ(out.size(), 255u);
  EXPECT_EQ(out.substr(out.size() - 5), "E+300") << out;
  EXPECT_EQ(out.compare(0, 3, "-1."), 0) << out;
}

TEST(RenderingMatchesReference, JsonNumbersInFixedAndScientificNotation) {
  for (double value : kTrickyNumbers) {
    if (!std::isfinite(value)) continue;
    for (int d = -1; d <= 42; ++d) {
      for (bool scientific : {false, true}) {
        std::string expected, actual;
        reference::AppendJsonNumber(value, scientific, d, expected);
        AppendJsonNumber(value, scientific, d, actual);
        ASSERT_EQ(actual, expected) << value << " with " << d << (scientific ? " decimals, E" : " decimals");
      }
    }
  }
}

}  // namespace
}  // namespace dravrun
