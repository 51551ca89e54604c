// dravrun's value rendering: numeric formats against printf (the oracle states ValueFormat.h's
// fitting rules), the calendar against gmtime over 400 years; clocks, durations, text by hand.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "base/CivilCalendar.h"
#include "base/FormatRules.h"
#include "host/DravFormat.h"
#include "tests/support/VariableListCorpus.h"
#include "tools/dravrun/Dictionary.h"
#include "tools/dravrun/ExactFormat.h"
#include "tools/dravrun/TextEscape.h"
#include "tools/dravrun/Utf8Text.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
// 2026-12-05T14:30:15.25, a Saturday, day 339 of its year.
constexpr double kSaturdayAfternoon = 1796481015.25;

std::string Render(double value, int type, int width, int decimals) {
  std::string out = "stale";
  RenderNumber(value, PrintFormat{type, width, decimals}, out);
  return out;
}

std::string Printf(const char* pattern, int decimals, double value) {
  char text[400];
  std::snprintf(text, sizeof text, pattern, decimals, value);
  return text;
}

// printf's digits of |value| grouped by `group` (0: none), `point`, affixes; no minus before zeros.
std::string Styled(double value, int decimals, char group, char point, const char* prefix, const char* suffix) {
  const std::string digits = Printf("%.*f", decimals, std::fabs(value));
  const std::size_t integer = std::min(digits.find('.'), digits.size());
  std::string out = value < 0 && digits.find_first_of("123456789") != std::string::npos ? "-" : "";
  out += prefix;
  for (std::size_t i = 0; i < integer; ++i) {
    if (group != 0 && i > 0 && (integer - i) % 3 == 0) out += group;
    out += digits[i];
  }
  if (integer < digits.size()) out += point + digits.substr(integer + 1);
  return out + suffix;
}

std::string Expected(double value, int type, int width, int decimals) {
  if (std::isnan(value)) return "";
  if (value == 0) value = 0.0;  // never "-0"
  if (std::isinf(value)) return width >= (value < 0 ? 4 : 3) ? (value < 0 ? "-Inf" : "Inf") : std::string(width, '*');
  auto fits = [width](const std::string& text) { return static_cast<int>(text.size()) <= width; };
  if (type == kFmtN) {
    char padded[400];
    std::snprintf(padded, sizeof padded, "%0*.*f", width, decimals, value);
    return std::fabs(value) < 1e300 && fits(padded) ? padded : std::string(width, '*');
  }
  if (type != kFmtE) {
    const char group = type == kFmtCOMMA || type == kFmtDOLLAR ? ',' : type == kFmtDOT ? '.' : 0;
    const char point = type == kFmtDOT ? ',' : '.';
    const char* prefix = type == kFmtDOLLAR ? "$" : "";
    const char* suffix = type == kFmtPCT ? "%" : "";
    for (int d = decimals; d >= 0; --d) {
      for (char g : {group, '\0'}) {
        const std::string text = Styled(value, d, g, point, prefix, suffix);
        if (fits(text)) return text;
      }
    }
    decimals = width > 6 ? width - 6 : 0;  // a mantissa, "E+05" and a sign
  }
  for (int d = decimals; d >= 0; --d) {
    const std::string text = Printf("%.*E", d, value);
    if (fits(text)) return text;
  }
  return std::string(width, '*');
}

// Ties as written (most are not in binary), values that round to zero, digit counts where
// grouping and widths change, the ends of the range, and a seeded sweep at every magnitude.
std::vector<double> NumberTable() {
  std::vector<double> values = {
      0.125, 2.675, 0.5, 2.5, -2.5, 0.045, 1.005, 9.995, -99.995, 999999.995, 0.0, -0.0, -0.004, -0.005,
      -0.05, -0.5, -0.95, 1e-300, -5e-324, DBL_MIN, 1e300, -1e300, DBL_MAX, -DBL_MAX, kNaN, kInf, -kInf,
      1.0 / 3, -2.0 / 3, 45.678, 999, 1000, -1000, 99999, 100000, 999999, -1000000, 9999999, 999.5,
      99999.95, 1234567.891, 123456789.0, 999999999.9996, 1e15, 1e15 + 1, 1e16, 1e21, 1e23,
      4503599627370496.5, 9007199254740993.0, 0.000123456,
  };
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 400; ++i) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    const double digits = static_cast<double>(state % 2000001) - 1000000.0;
    const double scale = std::pow(10.0, static_cast<int>(state >> 40) % 24 - 12);
    values.push_back(digits * scale + (i % 2 ? 0.5 * scale : 0.0));
    values.push_back(7.0 + i / 32.0);  // exact binary ties: printf rounds to even
  }
  return values;
}

TEST(Rendering, NumericFormatsMatchPrintfAtEveryWidthAndDecimals) {
  const std::vector<double> values = NumberTable();
  for (int type : {int{kFmtF}, int{kFmtN}, int{kFmtE}, int{kFmtCOMMA}, int{kFmtDOT}, int{kFmtDOLLAR}, int{kFmtPCT}, 99})
    for (int width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 20, 40, 70, 255})
      for (int d : {0, 1, 2, 3, 6, 16})
        for (double v : values)
          ASSERT_EQ(Render(v, type, width, d), Expected(v, type == 99 ? kFmtF : type, width, d))
              << FormatName(PrintFormat{type, width, d}) << " of " << v;
}

TEST(Rendering, JsonNumbersArePrintfsWithoutANegativeZero) {
  for (double v : NumberTable()) {
    if (!std::isfinite(v)) continue;
    for (int d : {-1, 0, 2, 17, 40, 42})
      for (bool scientific : {false, true}) {
        std::string actual;
        AppendJsonNumber(v, scientific, d, actual);
        ASSERT_EQ(actual, Printf(scientific ? "%.*E" : "%.*f", std::max(0, std::min(d, 40)), v == 0 ? 0.0 : v))
            << v << " with " << d << " decimals" << (scientific ? ", E" : "");
      }
  }
}

std::string Exact(double value, int type) {
  char text[kMaxExactText];
  return std::string(text, RenderExact(value, type, text));
}

// Exact numbers are std::to_chars's shortest text in any format; few-decimal numbers take a faster path.
TEST(Rendering, ExactNumbersAreTheShortestTextThatReadsBack) {
  std::vector<double> values = NumberTable();
  for (std::uint64_t bits = 1; bits < (std::uint64_t{0x7FF} << 52); bits += 0x0003F1A2B3C4D5E7ull) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
  }
  for (long long i = -20000; i < 20000; i += 7) {
    for (double scale : {1.0, 1e-1, 1e-2, 1e-3, 1e-6, 1e-8, 1e-9, 1e3, 1e8, 1e12}) values.push_back(i * scale);
    values.push_back(i * 244.140625 + (i % 4) / 4.0);
    values.push_back(1.7e9 + i * 60.123456);
  }
  for (double v : values)
    for (double signed_v : {v, -v}) {
      char expected[64];
      const std::string shortest(expected, std::to_chars(expected, expected + sizeof expected, signed_v).ptr);
      for (int type : {kFmtF, kFmtCOMMA, kFmtE, kFmtWKDAY}) ASSERT_EQ(Exact(signed_v, type), shortest);
    }
}

// Microsecond instants (as pandas keeps them) read back as the same microsecond wherever a double holds it.
TEST(Rendering, ExactInstantsCarryTheFractionThatReadsBack) {
  std::uint64_t state = 88172645463325252ull;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    const std::int64_t micros = static_cast<std::int64_t>(state % 8000000000000000ull) - 4000000000000000ll;
    const std::string text = Exact(static_cast<double>(micros) / 1e6, kFmtDATETIME);
    long long year;
    int month, day, hour, minute, second, used = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "%lld-%d-%dT%d:%d:%d%n", &year, &month, &day, &hour, &minute, &second, &used), 6) << text;
    std::string fraction = text.substr(static_cast<std::size_t>(used));
    ASSERT_LE(fraction.size(), 7u) << text;
    fraction = fraction.empty() ? "000000" : (fraction.substr(1) + "000000").substr(0, 6);
    const std::int64_t whole = drav::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    ASSERT_EQ(whole * 1000000 + std::stoll(fraction), micros) << text;
  }
}

TEST(Rendering, ExactDatesAndDurationsAreIso8601) {
  const struct { double value; int type; const char* text; } cases[] = {
      {kSaturdayAfternoon, kFmtDATETIME, "2026-12-05T14:30:15.25"},
      {kSaturdayAfternoon, kFmtADATE, "2026-12-05T14:30:15.25"},  // a date with a time keeps it
      {1796428800, kFmtDATE, "2026-12-05"},
      {1796428800, kFmtDATETIME, "2026-12-05T00:00:00"},
      {1704067200.123456, kFmtSDATE, "2024-01-01T00:00:00.123456"},
      {-0.5, kFmtDATETIME, "1969-12-31T23:59:59.5"},
      {-62135596800.0 - 86400, kFmtDATE, "0000-12-31"},
      {253402300800.0, kFmtDATE, "+10000-01-01"},
      {-62135596800.0 - 366 * 86400.0 - 365 * 86400.0, kFmtDATE, "-0001-01-01"},
      {1e18, kFmtDATE, "1e+18"},  // no calendar that far: the seconds themselves
      {kInf, kFmtDATETIME, "inf"},
      {93600.5, kFmtTIME, "26:00:00.5"},
      {-3600.25, kFmtDTIME, "-01:00:00.25"},
      {360000000, kFmtTIME, "100000:00:00"},
      {7, kFmtWKDAY, "7"},
      {-0.0, kFmtF, "-0"},
      {123456789012345, kFmtF, "123456789012345"},
      {0.1, kFmtF, "0.1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Exact(c.value, c.type), c.text) << c.value << " type " << c.type;
}

std::string Strftime(const char* pattern, const std::tm& tm) {
  char text[64];
  std::string out(text, std::strftime(text, sizeof text, pattern, &tm));
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

TEST(Rendering, CalendarFormatsMatchGmtimeOnEveryDayOfFourHundredYears) {
  // A day and a bit apart: every day of the Gregorian cycle and every clock reading drift past.
  for (double t = -6307200000.0; t < 6307200000.0; t += 86400.0 * 1.00417 + 0.37) {
    const std::time_t whole = static_cast<std::time_t>(std::floor(t));
    std::tm tm{};
    gmtime_r(&whole, &tm);
    char week[32], quarter[32];
    std::snprintf(week, sizeof week, "%02d WK %04d", tm.tm_yday / 7 + 1, tm.tm_year + 1900);
    std::snprintf(quarter, sizeof quarter, "%d Q %04d", tm.tm_mon / 3 + 1, tm.tm_year + 1900);
    ASSERT_EQ(Render(t, kFmtDATE, 11, 0), Strftime("%d-%b-%Y", tm)) << t;
    ASSERT_EQ(Render(t, kFmtSDATE, 8, 0), Strftime("%y/%m/%d", tm)) << t;
    ASSERT_EQ(Render(t, kFmtJDATE, 7, 0), Strftime("%Y%j", tm)) << t;
    ASSERT_EQ(Render(t, kFmtWKYR, 10, 0), week) << t;
    ASSERT_EQ(Render(t, kFmtQYR, 8, 0), quarter) << t;
    ASSERT_EQ(Render(t, kFmtYMDHMS, 19, 0), Strftime("%Y-%m-%d %H:%M:%S", tm)) << t;
    ASSERT_EQ(Render(t, kFmtDATETIME, 17, 0), Strftime("%d-%b-%Y %H:%M", tm)) << t;
  }
}

TEST(Rendering, DatesClocksAndDurationsCutWhatTheWidthCannotShow) {
  const struct { int type, width, decimals; double value; const char* expected; } cases[] = {
      {kFmtDATE, 9, 0, kSaturdayAfternoon, "05-DEC-26"},
      {kFmtADATE, 10, 0, kSaturdayAfternoon, "12/05/2026"},
      {kFmtADATE, 8, 0, kSaturdayAfternoon, "12/05/26"},
      {kFmtEDATE, 10, 0, kSaturdayAfternoon, "05.12.2026"},
      {kFmtSDATE, 10, 0, kSaturdayAfternoon, "2026/12/05"},
      {kFmtJDATE, 5, 0, 946684800.0, "00001"},
      {kFmtQYR, 6, 0, 1709164800.0, "1 Q 24"},
      {kFmtMOYR, 8, 0, kSaturdayAfternoon, "DEC 2026"},
      {kFmtMOYR, 6, 0, kSaturdayAfternoon, "DEC 26"},
      {kFmtWKYR, 8, 0, 946684800.0, "01 WK 00"},
      {kFmtWKDAY, 9, 0, 7, "SATURDAY"},
      {kFmtWKDAY, 3, 0, 4.9, "WED"},
      {kFmtWKDAY, 2, 0, 1, "SU"},
      {kFmtWKDAY, 9, 0, 0, "*********"},
      {kFmtWKDAY, 9, 0, 8, "*********"},
      {kFmtMONTH, 9, 0, 9, "SEPTEMBER"},
      {kFmtMONTH, 3, 0, 2, "FEB"},
      {kFmtMONTH, 3, 0, 13, "***"},
      {kFmtDATE, 11, 0, 1e15, "***********"},
      {kFmtDATE, 11, 0, kNaN, ""},
      {kFmtDATETIME, 20, 0, kInf, "Inf"},
      {kFmtDATETIME, 23, 2, kSaturdayAfternoon, "05-DEC-2026 14:30:15.25"},
      {kFmtDATETIME, 22, 2, kSaturdayAfternoon, "05-DEC-2026 14:30:15"},
      {kFmtDATETIME, 20, 0, 86399.9, "01-JAN-1970 23:59:59"},  // cut, not rounded into the next day
      {kFmtDATETIME, 20, 0, -0.5, "31-DEC-1969 23:59:59"},
      {kFmtYMDHMS, 22, 2, kSaturdayAfternoon, "2026-12-05 14:30:15.25"},
      {kFmtYMDHMS, 12, 0, kSaturdayAfternoon, "2026-12-05"},
      {kFmtTIME, 11, 2, 45015.25, "12:30:15.25"},
      {kFmtTIME, 15, 6, 45015.123456, "12:30:15.123456"},  // the sixth decimal
      {kFmtTIME, 17, 8, 45015.123456, "12:30:15.12345600"},  // zeros beyond the sixth
      {kFmtTIME, 5, 0, 45015.25, "12:30"},
      {kFmtTIME, 11, 2, 0.29, "00:00:00.29"},
      {kFmtTIME, 13, 3, -3723.5, "-01:02:03.500"},
      {kFmtTIME, 5, 0, 3600000.0, "*****"},
      {kFmtTIME, 8, 0, 360000.0, "100:00"},  // 100:00:00 is too wide for 8: fewer fields
      {kFmtTIME, 16, 0, 8.99e12, "2497222222:13:20"},  // the longest duration shown
      {kFmtTIME, 16, 0, 9.0e12, "****************"},
      {kFmtDTIME, 16, 0, 253402300800.0, "2932897 00:00:00"},
      {kFmtTIME, 16, 0, -253402300800.0, "-70389528:00:00"},  // durations are not cut to years
      {kFmtDTIME, 15, 2, 2 * 86400 + 3723.25, "02 01:02:03.25"},
      {kFmtDTIME, 9, 0, 2 * 86400 + 3723.25, "02 01:02"},
      {kFmtMTIME, 8, 2, 3723.25, "62:03.25"},
      {kFmtMTIME, 5, 0, 63.0, "01:03"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Render(c.value, c.type, c.width, c.decimals), c.expected)
        << FormatName(PrintFormat{c.type, c.width, c.decimals}) << " of " << c.value;
}

// Year 1's first moment and 9999's last show (four- or two-digit years); moments outside are asterisks.
TEST(Rendering, DatesOutsideYearsOneToNineThousandNineHundredNinetyNineAreAsterisks) {
  const double kFirstMoment = -62135596800.0;  // 0001-01-01 00:00:00
  const double kLastMoment = 253402300799.0;   // 9999-12-31 23:59:59
  const struct { int type, width; const char *first, *last; } formats[] = {
      {kFmtDATE, 11, "01-JAN-0001", "31-DEC-9999"},
      {kFmtDATE, 9, "01-JAN-01", "31-DEC-99"},
      {kFmtADATE, 10, "01/01/0001", "12/31/9999"},  {kFmtEDATE, 8, "01.01.01", "31.12.99"},
      {kFmtSDATE, 10, "0001/01/01", "9999/12/31"},  {kFmtJDATE, 5, "01001", "99365"},
      {kFmtQYR, 8, "1 Q 0001", "4 Q 9999"},         {kFmtMOYR, 6, "JAN 01", "DEC 99"},
      {kFmtWKYR, 10, "01 WK 0001", "53 WK 9999"},   {kFmtDATETIME, 20, "01-JAN-0001 00:00:00", "31-DEC-9999 23:59:59"},
      {kFmtYMDHMS, 10, "0001-01-01", "9999-12-31"},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(FormatName(PrintFormat{f.type, f.width, 0}));
    EXPECT_EQ(Render(kFirstMoment, f.type, f.width, 0), f.first);
    EXPECT_EQ(Render(kLastMoment, f.type, f.width, 0), f.last);
    for (double outside : {kFirstMoment - 1, kLastMoment + 1, -80000000000.0})
      EXPECT_EQ(Render(outside, f.type, f.width, 0), std::string(static_cast<std::size_t>(f.width), '*')) << outside;
  }
}

TEST(Rendering, StringsDropTrailingPaddingOnlyAndUnknownFormatsAreNamedByCode) {
  const struct { std::string bytes; int type; const char* expected; } cases[] = {
      {"KRV01   ", kFmtA, "KRV01"},          {"  left  ", kFmtA, "  left"},
      {std::string("nul\0\0\0\0\0", 8), kFmtA, "nul"},
      {"        ", kFmtA, ""},
      {"caf\xc3\xa9 ", kFmtA, "caf\xc3\xa9"},  {"\x01\xab", kFmtAHEX, "01AB"},
  };
  std::string out;
  for (const auto& c : cases) {
    RenderString(c.bytes.data(), c.bytes.size(), PrintFormat{c.type, static_cast<int>(c.bytes.size()), 0}, out);
    EXPECT_EQ(out, c.expected);
  }
  EXPECT_EQ(FormatName(PrintFormat{77, 8, 0}), "FORMAT77:8");
}

// Every variable tests/data accepts: the name of its format, its rendering, its raw place.
TEST(FormatCorpus, DravrunNamesRendersAndPlacesEveryAcceptedVariable) {
  for (const drav::test::ListCase& c : drav::test::VariableListCorpus(DRAV_SOURCE_DIR)) {
    if (c.verdict.rfind("refused", 0) == 0) continue;  // dravrun never sees a refused list
    std::istringstream fields(c.verdict);
    std::string field, expected, got;
    std::getline(fields, field, '\t');
    std::vector<Column> columns;
    while (std::getline(fields, field, '\t')) {
      if (field.rfind("warning", 0) == 0) continue;
      Column v;
      std::string kind;
      char point, atSign;
      int slot;
      std::istringstream(field) >> v.name >> v.format.type >> v.format.width >> point >> v.format.decimals >> kind >>
          atSign >> slot;
      v.stringWidth = IsStringFormat(v.format.type) ? v.format.width : 0;
      columns.push_back(v);
      expected += drav::test::VariableField(v.name, v.format.type, v.format.width, v.format.decimals,
                                            kind == "string" || kind == "number" ? kind : "calendar", slot);
    }
    const std::string dictionary = JsonDictionary(columns);
    std::size_t at = 0;
    for (const Column& v : columns) {  // the format as dravrun names it, read back by the list's rules
      drav::format::Format read;
      drav::format::ReadFormatWord(FormatName(v.format).c_str(), read);
      at = dictionary.find("\"offset\": ", at) + 10;
      const char* rendering =
          IsStringFormat(v.format.type) ? "string" : IsDateTimeFormat(v.format.type) ? "calendar" : "number";
      got += drav::test::VariableField(v.name, read.code, static_cast<int>(read.width), static_cast<int>(read.decimals),
                                       rendering, std::stoi(dictionary.substr(at)) / 8);
    }
    EXPECT_EQ(got, expected) << "line " << c.line << ": " << c.list;
    EXPECT_EQ(dictionary.rfind("{\"record_bytes\": " + std::to_string(std::stoi(c.verdict) * 8) + ",", 0), 0u)
        << "line " << c.line << ": " << dictionary;
  }
}

TEST(DisplayWidth, WideCharactersTakeTwoColumnsAndCombiningMarksNone) {
  const struct { const char* text; std::size_t columns; } cases[] = {
      {"", 0},
      {"abc", 3},
      {"\xc3\xa9", 1},                          // é, precomposed
      {"e\xcc\x81", 1},                         // e and a combining acute accent
      {"\xe6\x97\xa5\xe6\x9c\xac", 4},          // 日本
      {"\xed\x95\x9c", 2},                      // 한, a Hangul syllable
      {"\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab", 2},  // the same, as conjoining jamo
      {"\xef\xbc\xa1", 2},                      // Ａ, fullwidth
      {"\xef\xbd\xb6", 1},                      // ｶ, halfwidth katakana
      {"\xe3\x80\x80", 2},                      // the ideographic space
      {"\xf0\x9f\x98\x80", 2},                  // 😀
      {"\xf0\xa0\x80\x80", 2},                  // an ideograph beyond the BMP
      {"a\xe2\x80\x8b" "b", 2},                 // a zero-width space between
      {"\xe0\xa4\x95\xe0\xa5\x8d", 1},          // क and a virama
      {"\xff" "a\x80", 3},                      // bytes that are not UTF-8 count one each
      {"\xe6\x97", 2},                          // a wide character cut short
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayWidth(c.text), c.columns) << c.text;
}

TEST(TableCell, ControlsAreEscapedAndLongTextIsCutBetweenCharactersButNotInMarkdown) {
  const struct { const char* text; std::size_t maxColumns; const char* shown; std::size_t columns; } cases[] = {
      {"a\tb", 32, "a\\tb", 4},
      {"two\nlines\r", 32, "two\\nlines\\r", 12},
      {"C:\\temp", 32, "C:\\\\temp", 8},
      {"\x1b[31mred", 32, "\\x1b[31mred", 11},
      {"nul\x01\x7f", 32, "nul\\x01\\x7f", 11},
      {"\xc2\x9b" "2J", 32, "\\xc2\\x9b2J", 10},  // a C1 control (CSI) shows its bytes
      {"caf\xe9", 32, "caf\\xe9", 7},             // Latin-1, not UTF-8
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 32, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 6},
      {"abcd", 4, "abcd", 4},                     // fits exactly: no cut
      {"abcde", 4, "abc\xe2\x80\xa6", 4},
      {"xy", 1, "\xe2\x80\xa6", 1},
      {"ab\tcd", 4, "ab\xe2\x80\xa6", 3},         // an escape is not cut in two
      {"a\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 4, "a\xe6\x97\xa5\xe2\x80\xa6", 4},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 5, "\xe6\x97\xa5\xe6\x9c\xac\xe2\x80\xa6", 5},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 4, "\xe6\x97\xa5\xe2\x80\xa6", 3},  // a wide one is not split
      {"e\xcc\x81" "e\xcc\x81" "e\xcc\x81" "e\xcc\x81", 3, "e\xcc\x81" "e\xcc\x81\xe2\x80\xa6", 3},
  };
  for (const auto& c : cases) {
    std::string out(4 * std::strlen(c.text) + 3, '?');
    const TableCell cell = AppendTableCell(c.text, std::strlen(c.text), c.maxColumns, &out[0]);
    out.resize(static_cast<std::size_t>(cell.end - out.data()));
    EXPECT_EQ(out, c.shown) << c.text;
    EXPECT_EQ(cell.columns, c.columns) << c.text;
  }
  // Markdown cells escape controls and pipes and are never cut.
  const std::string text = "a|b\r\n\\\x1b " + std::string(40, 'x');
  std::string out(4 * text.size(), '?');
  out.resize(static_cast<std::size_t>(AppendMarkdownCell(text.data(), text.size(), &out[0]) - out.data()));
  EXPECT_EQ(out, "a\\|b\\r\\n\\\\\\x1b " + std::string(40, 'x'));
}

TEST(TextEscape, JsonStringsAreAlwaysValidUtf8) {
  const struct { std::string in, out; } cases[] = {
      {"plain", "\"plain\""},
      {"tab\tnew\r\nline\\", "\"tab\\tnew\\r\\nline\\\\\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"bad\xff", "\"bad\\ufffd\""},
      {"cut\xc3", "\"cut\\ufffd\""},
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate is not UTF-8
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},              // nor an overlong form
  };
  for (const auto& c : cases) {
    std::string out;
    AppendJsonString(c.in, out);
    EXPECT_EQ(out, c.out);
  }
}

}  // namespace
}  // namespace dravrun
