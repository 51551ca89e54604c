// Rendering of every print format, table-driven.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "host/DravFormat.h"
#include "host/CivilCalendar.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
using drav::CivilDate;
using drav::CivilFromDays;
using drav::DayOfYear;
using drav::DaysFromCivil;
using drav::FloorDiv;
using drav::FloorMod;
namespace {

struct Case {
  int type;
  int width;
  int decimals;
  double value;
  const char* expected;
};

std::string Render(const Case& c) {
  std::string out = "stale";
  RenderNumber(c.value, PrintFormat{c.type, c.width, c.decimals}, out);
  return out;
}

void ExpectAll(const Case* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(Render(c), c.expected) << FormatName(PrintFormat{c.type, c.width, c.decimals})
                                     << " of " << c.value;
  }
}

// 2026-12-05T14:30:15.25, a Saturday, day 339 of its year.
constexpr double kSaturdayAfternoon = 1796481015.25;

TEST(ValueFormat, PlainNumbersLoseDecimalsThenGoScientificThenStar) {
  const Case cases[] = {
      {kFmtF, 8, 2, 3.14159, "3.14"},
      {kFmtF, 8, 2, -3.14159, "-3.14"},
      {kFmtF, 8, 0, 2.6, "3"},
      {kFmtF, 8, 2, -0.001, "0.00"},
      {kFmtF, 8, 2, 0.0, "0.00"},
      {kFmtF, 8, 2, -0.0, "0.00"},
      {kFmtF, 8, 2, 12345.678, "12345.68"},
      {kFmtF, 8, 2, 123456.78, "123456.8"},
      {kFmtF, 8, 2, 1234567.8, "1234568"},
      {kFmtF, 8, 2, 123456789.0, "1.23E+08"},
      {kFmtF, 3, 0, 123456.0, "***"},
      {kFmtF, 5, 1, 1e300, "*****"},
      {kFmtF, 40, 16, 0.1, "0.1000000000000000"},
      {kFmtE, 13, 5, 1234.5678, "1.23457E+03"},
      {kFmtE, 13, 5, -0.00012345, "-1.23450E-04"},
      {kFmtE, 8, 3, 1234.5678, "1.23E+03"},
      {kFmtE, 7, 3, 1234.5678, "1.2E+03"},
      {kFmtE, 8, 0, -1e300, "-1E+300"},
      {kFmtN, 8, 0, 42.0, "00000042"},
      {kFmtN, 4, 0, 7.6, "0008"},
      {kFmtN, 8, 2, 3.5, "00003.50"},
      {kFmtN, 3, 0, 12345.0, "***"},
  };
  ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(ValueFormat, GroupedAndDecoratedNumbers) {
  const Case cases[] = {
      {kFmtCOMMA, 12, 2, 1234567.891, "1,234,567.89"},
      {kFmtCOMMA, 10, 2, 1234567.891, "1234567.89"},  // grouping goes before decimals do
      {kFmtCOMMA, 8, 2, 1234567.891, "1234568"},
      {kFmtCOMMA, 8, 0, 999.0, "999"},
      {kFmtCOMMA, 8, 0, -1000.0, "-1,000"},
      {kFmtDOT, 12, 2, 1234567.891, "1.234.567,89"},
      {kFmtDOT, 8, 1, -0.26, "-0,3"},
      {kFmtDOLLAR, 10, 2, 1234.5, "$1,234.50"},
      {kFmtDOLLAR, 10, 2, -1234.5, "-$1,234.50"},
      {kFmtDOLLAR, 4, 2, 5.0, "$5.0"},
      {kFmtPCT, 8, 2, 45.678, "45.68%"},
      {kFmtPCT, 4, 1, 45.678, "46%"},
      {kFmtPCT, 8, 2, -5.0, "-5.00%"},
      {99, 8, 2, 1.5, "1.50"},  // an unknown code shows as F
  };
  ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(ValueFormat, DatesShowTheDayOfTheInstantInFourOrTwoDigitYears) {
  const Case cases[] = {
      {kFmtDATE, 11, 0, kSaturdayAfternoon, "05-DEC-2026"},
      {kFmtDATE, 9, 0, kSaturdayAfternoon, "05-DEC-26"},
      {kFmtDATE, 11, 2, kSaturdayAfternoon, "05-DEC-2026"},
      {kFmtDATE, 11, 0, -1.0, "31-DEC-1969"},
      {kFmtDATE, 11, 0, 0.0, "01-JAN-1970"},
      {kFmtDATE, 11, 0, 1709164800.0, "29-FEB-2024"},
      {kFmtADATE, 10, 0, kSaturdayAfternoon, "12/05/2026"},
      {kFmtADATE, 8, 0, kSaturdayAfternoon, "12/05/26"},
      {kFmtEDATE, 10, 0, kSaturdayAfternoon, "05.12.2026"},
      {kFmtEDATE, 8, 0, 946684800.0, "01.01.00"},
      {kFmtSDATE, 10, 0, kSaturdayAfternoon, "2026/12/05"},
      {kFmtSDATE, 8, 0, kSaturdayAfternoon, "26/12/05"},
      {kFmtJDATE, 7, 0, kSaturdayAfternoon, "2026339"},
      {kFmtJDATE, 5, 0, 946684800.0, "00001"},
      {kFmtQYR, 8, 0, kSaturdayAfternoon, "4 Q 2026"},
      {kFmtQYR, 6, 0, 1709164800.0, "1 Q 24"},
      {kFmtMOYR, 8, 0, kSaturdayAfternoon, "DEC 2026"},
      {kFmtMOYR, 6, 0, kSaturdayAfternoon, "DEC 26"},
      {kFmtWKYR, 10, 0, kSaturdayAfternoon, "49 WK 2026"},
      {kFmtWKYR, 8, 0, 946684800.0, "01 WK 00"},
      {kFmtWKDAY, 9, 0, 7, "SATURDAY"},
      {kFmtWKDAY, 3, 0, 4.9, "WED"},
      {kFmtWKDAY, 2, 0, 1, "SU"},
      {kFmtWKDAY, 9, 0, 0, "*********"},
      {kFmtWKDAY, 9, 0, 8, "*********"},
      {kFmtMONTH, 9, 0, 12, "DECEMBER"},
      {kFmtMONTH, 3, 0, 2, "FEB"},
      {kFmtMONTH, 9, 0, 9, "SEPTEMBER"},
      {kFmtMONTH, 3, 0, 13, "***"},
      {kFmtDATE, 11, 0, 1e15, "***********"},
  };
  ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

// Every date format at the ends of the years it can show: the first moment
// of year 1 and the last of year 9999 are shown, in four-digit and two-digit
// year forms; the moment before, the moment after, a year long before
// (-566) and the year 0 fill the width with asterisks.
TEST(ValueFormat, DatesOutsideYearsOneToNineThousandNineHundredNinetyNineAreAsterisks) {
  const double kFirstMoment = -62135596800.0;  // 0001-01-01 00:00:00
  const double kLastMoment = 253402300799.0;   // 9999-12-31 23:59:59
  const double outside[] = {kFirstMoment - 1, kFirstMoment - 86400.0 * 200, kLastMoment + 1, -80000000000.0};
  const struct {
    int type;
    int width;
    const char* first;
    const char* last;
  } formats[] = {
      {kFmtDATE, 11, "01-JAN-0001", "31-DEC-9999"},       {kFmtDATE, 9, "01-JAN-01", "31-DEC-99"},
      {kFmtADATE, 10, "01/01/0001", "12/31/9999"},        {kFmtADATE, 8, "01/01/01", "12/31/99"},
      {kFmtEDATE, 10, "01.01.0001", "31.12.9999"},        {kFmtEDATE, 8, "01.01.01", "31.12.99"},
      {kFmtSDATE, 10, "0001/01/01", "9999/12/31"},        {kFmtSDATE, 8, "01/01/01", "99/12/31"},
      {kFmtJDATE, 7, "0001001", "9999365"},               {kFmtJDATE, 5, "01001", "99365"},
      {kFmtQYR, 8, "1 Q 0001", "4 Q 9999"},               {kFmtQYR, 6, "1 Q 01", "4 Q 99"},
      {kFmtMOYR, 8, "JAN 0001", "DEC 9999"},              {kFmtMOYR, 6, "JAN 01", "DEC 99"},
      {kFmtWKYR, 10, "01 WK 0001", "53 WK 9999"},         {kFmtWKYR, 8, "01 WK 01", "53 WK 99"},
      {kFmtDATETIME, 20, "01-JAN-0001 00:00:00", "31-DEC-9999 23:59:59"},
      {kFmtDATETIME, 17, "01-JAN-0001 00:00", "31-DEC-9999 23:59"},
      {kFmtYMDHMS, 19, "0001-01-01 00:00:00", "9999-12-31 23:59:59"},
      {kFmtYMDHMS, 10, "0001-01-01", "9999-12-31"},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(FormatName(PrintFormat{f.type, f.width, 0}));
    EXPECT_EQ(Render({f.type, f.width, 0, kFirstMoment, ""}), f.first);
    EXPECT_EQ(Render({f.type, f.width, 0, kLastMoment, ""}), f.last);
    for (double value : outside) {
      EXPECT_EQ(Render({f.type, f.width, 0, value, ""}), std::string(static_cast<std::size_t>(f.width), '*')) << value;
    }
  }
}

// Durations are not dates: ten thousand years of hours still show.
TEST(ValueFormat, LongDurationsAreNotCutToFourDigitYears) {
  const Case cases[] = {
      {kFmtTIME, 16, 0, 253402300800.0, "70389528:00:00"},
      {kFmtDTIME, 16, 0, 253402300800.0, "2932897 00:00:00"},
      {kFmtTIME, 16, 0, -253402300800.0, "-70389528:00:00"},
  };
  ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(ValueFormat, ClocksAndDurationsCutFieldsTheWidthCannotShow) {
  const Case cases[] = {
      {kFmtDATETIME, 23, 2, kSaturdayAfternoon, "05-DEC-2026 14:30:15.25"},
      {kFmtDATETIME, 20, 0, kSaturdayAfternoon, "05-DEC-2026 14:30:15"},
      {kFmtDATETIME, 17, 0, kSaturdayAfternoon, "05-DEC-2026 14:30"},
      {kFmtDATETIME, 22, 2, kSaturdayAfternoon, "05-DEC-2026 14:30:15"},
      {kFmtDATETIME, 20, 0, 86399.9, "01-JAN-1970 23:59:59"},  // cut, not rounded into the next day
      {kFmtDATETIME, 20, 0, -0.5, "31-DEC-1969 23:59:59"},
      {kFmtYMDHMS, 22, 2, kSaturdayAfternoon, "2026-12-05 14:30:15.25"},
      {kFmtYMDHMS, 19, 0, kSaturdayAfternoon, "2026-12-05 14:30:15"},
      {kFmtYMDHMS, 12, 0, kSaturdayAfternoon, "2026-12-05"},
      {kFmtTIME, 11, 2, 45015.25, "12:30:15.25"},
      {kFmtTIME, 8, 0, 45015.25, "12:30:15"},
      {kFmtTIME, 5, 0, 45015.25, "12:30"},
      {kFmtTIME, 11, 2, 0.29, "00:00:00.29"},
      {kFmtTIME, 13, 3, -3723.5, "-01:02:03.500"},
      {kFmtTIME, 8, 0, 360000.0, "100:00"},  // 100:00:00 is too wide for 8: fewer fields
      {kFmtTIME, 5, 0, 3600000.0, "*****"},
      {kFmtDTIME, 15, 2, 2 * 86400 + 3723.25, "02 01:02:03.25"},
      {kFmtDTIME, 11, 0, 2 * 86400 + 3723.25, "02 01:02:03"},
      {kFmtDTIME, 9, 0, 2 * 86400 + 3723.25, "02 01:02"},
      {kFmtMTIME, 8, 2, 3723.25, "62:03.25"},
      {kFmtMTIME, 5, 0, 63.0, "01:03"},
  };
  ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(ValueFormat, MissingIsEmptyAndInfinityIsNamed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {kFmtF, 8, 2, nan, ""},
      {kFmtDATE, 11, 0, nan, ""},
      {kFmtF, 8, 2, inf, "Inf"},
      {kFmtF, 8, 2, -inf, "-Inf"},
      {kFmtDATETIME, 20, 0, inf, "Inf"},
      {kFmtF, 3, 0, -inf, "***"},
  };
  ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(ValueFormat, NumbersNeverExceedTheirWidth) {
  const double values[] = {0.0, -1.0, 0.5, 99.99, 1e5, -1e5, 1e12, 1e-12, 123456.789, -9e99};
  const int types[] = {kFmtF, kFmtN, kFmtE, kFmtCOMMA, kFmtDOT, kFmtDOLLAR, kFmtPCT};
  std::string out;
  for (int type : types) {
    for (int width = 1; width <= 12; ++width) {
      for (double v : values) {
        RenderNumber(v, PrintFormat{type, width, 2}, out);
        EXPECT_LE(out.size(), static_cast<std::size_t>(width)) << type << " " << width << " " << v;
        EXPECT_FALSE(out.empty());
      }
    }
  }
}

TEST(ValueFormat, StringsDropTrailingPaddingOnly) {
  struct StringCase {
    const char* bytes;
    std::size_t length;
    int type;
    const char* expected;
  } cases[] = {
      {"KRV01   ", 8, kFmtA, "KRV01"},
      {"  left  ", 8, kFmtA, "  left"},
      {"nul\0\0\0\0\0", 8, kFmtA, "nul"},
      {"        ", 8, kFmtA, ""},
      {"caf\xc3\xa9 ", 6, kFmtA, "caf\xc3\xa9"},
      {"\x01\xab", 2, kFmtAHEX, "01AB"},
  };
  std::string out;
  for (const StringCase& c : cases) {
    RenderString(c.bytes, c.length, PrintFormat{c.type, static_cast<int>(c.length), 0}, out);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(ValueFormat, FormatNamesReadLikeTheCommand) {
  EXPECT_EQ(FormatName(PrintFormat{kFmtF, 8, 2}), "F8.2");
  EXPECT_EQ(FormatName(PrintFormat{kFmtA, 20, 0}), "A20");
  EXPECT_EQ(FormatName(PrintFormat{kFmtDATETIME, 23, 2}), "DATETIME23.2");
  EXPECT_EQ(FormatName(PrintFormat{kFmtWKYR, 10, 0}), "WKYR10");
  EXPECT_EQ(FormatName(PrintFormat{77, 8, 0}), "FORMAT77:8");
}

TEST(CivilCalendar, DayNumbersRoundTripAcrossCenturiesAndLeapDays) {
  struct DateCase {
    std::int64_t year;
    int month, day;
    std::int64_t days;
  } cases[] = {
      {1970, 1, 1, 0},       {1969, 12, 31, -1},    {2000, 2, 29, 11016}, {2000, 3, 1, 11017},
      {1900, 3, 1, -25508},  {2024, 2, 29, 19782},  {1600, 1, 1, -135140}, {2400, 12, 31, 157419},
  };
  for (const DateCase& c : cases) {
    EXPECT_EQ(DaysFromCivil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month << "-" << c.day;
    const CivilDate d = CivilFromDays(c.days);
    EXPECT_EQ(d.year, c.year);
    EXPECT_EQ(d.month, c.month);
    EXPECT_EQ(d.day, c.day);
  }
  for (std::int64_t day = -800000; day <= 800000; day += 997) {
    const CivilDate d = CivilFromDays(day);
    ASSERT_EQ(DaysFromCivil(d.year, d.month, d.day), day);
  }
}

}  // namespace
}  // namespace dravrun
