// Format words: keyword, width and decimals, the defaults, the limits of
// every keyword, and the format value shared with the host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/parser/ParserTestSupport.h"

namespace {

struct FormatCase {
  const char* word;
  bool accepted;
  int type;
  unsigned long width;
  unsigned int decimals;
};

// Without it gtest prints the case as raw bytes, padding included, which
// was never written.
void PrintTo(const FormatCase& formatCase, std::ostream* out) { *out << formatCase.word; }

class FormatWord : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatWord, GivesTypeWidthAndDecimals) {
  const FormatCase& c = GetParam();
  StreamParser parser(c.word, nullptr);
  DRAV_Variable::FormatType type;
  unsigned long width = 0;
  unsigned int decimals = 0;
  bool accepted = parser.GetFormat(0, type, width, decimals);
  ASSERT_EQ(accepted, c.accepted) << c.word;
  if (!c.accepted) return;
  EXPECT_EQ(static_cast<int>(type), c.type) << c.word;
  EXPECT_EQ(width, c.width) << c.word;
  EXPECT_EQ(decimals, c.decimals) << c.word;
}

// clang-format off
const FormatCase kFormats[] = {
    // Keyword, width and decimals.
    {"F8.2", true, 5, 8, 2}, {"f8.2", true, 5, 8, 2}, {"COMMA10.2", true, 3, 10, 2},
    {"8F", true, 5, 8, 0}, {"F8.", true, 5, 8, 0}, {"F8X", true, 5, 8, 0}, {"F8.2X", true, 5, 8, 2},
    {"CCA8.2", true, 5, 8, 2}, {"cce4", true, 5, 4, 0}, {"N5.3", true, 16, 5, 3},
    {"A10.2", true, 1, 10, 2}, {"DATE11.2", true, 20, 11, 2},
    // Defaults when the word gives neither width nor decimals.
    {"F", true, 5, 8, 2}, {"F.2", true, 5, 8, 2}, {"A", true, 1, 255, 0}, {"N", true, 16, 8, 0},
    {"E", true, 17, 13, 5}, {"DATETIME", true, 22, 23, 2}, {"DATE", true, 20, 11, 0},
    {"TIME", true, 21, 11, 2}, {"DTIME", true, 25, 15, 2}, {"COMMA", true, 3, 8, 2},
    {"DOLLAR", true, 4, 8, 2}, {"PCT", true, 31, 8, 2}, {"DOT", true, 32, 8, 2},
    {"ADATE", true, 23, 10, 0}, {"EDATE", true, 38, 10, 0}, {"SDATE", true, 39, 10, 0},
    {"JDATE", true, 24, 7, 0}, {"WKDAY", true, 26, 9, 0}, {"MONTH", true, 27, 9, 0},
    {"MOYR", true, 28, 8, 0}, {"QYR", true, 29, 8, 0}, {"WKYR", true, 30, 10, 0},
    {"MTIME", false, 0, 0, 0}, {"YMDHMS", false, 0, 0, 0},
    // Smallest widths.
    {"MTIME5", true, 85, 5, 0}, {"MTIME6.1", false, 0, 0, 0}, {"MTIME7.1", true, 85, 7, 1},
    {"YMDHMS12", true, 86, 12, 0}, {"YMDHMS20.1", false, 0, 0, 0}, {"YMDHMS21.1", true, 86, 21, 1},
    {"E10.5", true, 17, 12, 5}, {"E6.1", true, 17, 8, 1}, {"E8", true, 17, 8, 0},
    {"E6", false, 0, 0, 0}, {"TIME5.2", true, 21, 11, 2}, {"TIME5.3", false, 0, 0, 0},
    {"TIME5.1", false, 0, 0, 0}, {"TIME5", true, 21, 5, 0}, {"TIME4", false, 0, 0, 0},
    {"DATETIME17", true, 22, 17, 0}, {"DATETIME16", false, 0, 0, 0},
    {"DATETIME22.1", true, 22, 22, 1}, {"DATETIME22.2", false, 0, 0, 0}, {"DTIME9", true, 25, 9, 0},
    {"DTIME14.2", false, 0, 0, 0}, {"DOLLAR1", false, 0, 0, 0}, {"DOLLAR3.2", false, 0, 0, 0},
    {"DOLLAR4.2", true, 4, 4, 2}, {"PCT1", false, 0, 0, 0}, {"DATE8", false, 0, 0, 0},
    {"JDATE4", false, 0, 0, 0}, {"WKDAY1", false, 0, 0, 0}, {"MONTH2", false, 0, 0, 0},
    {"QYR5", false, 0, 0, 0}, {"ADATE7", false, 0, 0, 0},
    // Width and decimal limits.
    {"F40", true, 5, 40, 0}, {"F41", false, 0, 0, 0}, {"A32767", true, 1, 32767, 0},
    {"A32768", false, 0, 0, 0}, {"F20.16", true, 5, 20, 16}, {"F20.17", false, 0, 0, 0},
    {"F8.16", false, 0, 0, 0}, {"F0.2", false, 0, 0, 0}, {"F8.-2", false, 0, 0, 0},
    {"F99999999999999999999", false, 0, 0, 0},
    // Words that are no format.
    {"8.2F", false, 0, 0, 0}, {"8X", false, 0, 0, 0}, {"X", false, 0, 0, 0},
    {"(F8.2)", false, 0, 0, 0}, {"FF8", false, 0, 0, 0}, {".", false, 0, 0, 0},
    {"", false, 0, 0, 0}, {"8", false, 0, 0, 0}, {"8 X", false, 0, 0, 0},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, FormatWord, ::testing::ValuesIn(kFormats));

TEST(FormatWord, ColumnWidthReplacesTheDefaultAndABareWidthTakesTheNextWord) {
  DRAV_Variable::FormatType type;
  unsigned long width;
  unsigned int decimals;
  StreamParser column("DATETIME", nullptr);
  ASSERT_TRUE(column.GetFormat(25, type, width, decimals));
  EXPECT_EQ(type, kFmtDATETIME);
  EXPECT_EQ(width, 25u);
  EXPECT_EQ(decimals, 2u);
  StreamParser bare("8 Y Z", nullptr);
  EXPECT_FALSE(bare.GetFormat(0, type, width, decimals));
  char next[StreamParser::kBufferSize];
  bare.ParseWord(next, sizeof next);
  EXPECT_STREQ(next, "Z");
}

TEST(FormatDefaults, ColumnWidthGivesSecondsOnlyWhenTheyFit) {
  struct Case {
    unsigned long column;
    unsigned int type;
    unsigned long width;
    unsigned int decimals;
  } cases[] = {
      {30, kFmtDATETIME, 30, 2}, {22, kFmtDATETIME, 22, 0}, {11, kFmtTIME, 11, 2},   {10, kFmtTIME, 10, 0},
      {15, kFmtDTIME, 15, 2},    {14, kFmtDTIME, 14, 0},    {12, kFmtF, 12, 0},      {0, kFmtMTIME, 0, 0},
      {0, kFmtYMDHMS, 0, 0},     {0, 99, 0, 0},             {0, kFmtE, 13, 5},       {0, kFmtA, 255, 0},
  };
  StreamParser parser;
  for (const Case& c : cases) {
    unsigned long width = 777;
    unsigned int decimals = 777;
    parser.ApplyFormatDefaults(c.column, c.type, width, decimals);
    EXPECT_EQ(width, c.width) << c.column << " " << c.type;
    EXPECT_EQ(decimals, c.decimals) << c.column << " " << c.type;
  }
}

TEST(FormatSplit, CutsTheWordToItsKeyword) {
  struct Case {
    const char* word;
    const char* keyword;
    unsigned long width;
    unsigned int decimals;
  } cases[] = {{"COMMA10.2", "COMMA", 10, 2}, {"8F", "F", 8, 0}, {"F.2", "F", 0, 0},
               {".5", ".5", 0, 0},           {"A", "A", 0, 0},  {"12", "", 12, 0}};
  StreamParser parser;
  for (const Case& c : cases) {
    char word[StreamParser::kBufferSize];
    std::strcpy(word, c.word);
    unsigned long width = 1;
    unsigned int decimals = 1;
    parser.ParseFormat(word, width, decimals);
    EXPECT_STREQ(word, c.keyword) << c.word;
    EXPECT_EQ(width, c.width) << c.word;
    EXPECT_EQ(decimals, c.decimals) << c.word;
  }
}

TEST(FormatAdjust, LowersOverwideWidthsWithAWarning) {
  StreamParser parser("", nullptr);
  DRAV_Variable::FormatType string = kFmtA, number = kFmtF, comma = kFmtCOMMA;
  unsigned long wideString = 40000, wideNumber = 300, wideComma = 300, fitting = 32767;
  char name[] = "v";
  parser.AdjustFormat(string, wideString, name);
  parser.AdjustFormat(number, wideNumber, name);
  parser.AdjustFormat(comma, wideComma, name);
  parser.AdjustFormat(string, fitting, name);
  EXPECT_EQ(wideString, 32767u);
  EXPECT_EQ(wideNumber, 40u);
  EXPECT_EQ(wideComma, 300u);
  EXPECT_EQ(fitting, 32767u);
  const ErrorTextList& warnings = *parser.GetWarningList();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].Text().str(), parser_test::MessageText(2271, "v", true, "32767"));
  EXPECT_EQ(warnings[1].Text().str(), parser_test::MessageText(2274, "v", true, "40"));
  EXPECT_EQ(parser.GetErrorMesToken(), nullptr);
}

TEST(FormatValue, WidthIsLimitedForNumbersOnly) {
  EXPECT_EQ(DRAV_Format(kFmtF, 300, 2).width, 40);
  EXPECT_EQ(DRAV_Format(kFmtA, 300, 0).width, 300);
  EXPECT_EQ(DRAV_Format(kFmtAHEX, 300, 0).width, 300);
  EXPECT_EQ(DRAV_Format(kFmtA, 70000, 0).width, 65535) << "held at the field's bound";
  EXPECT_EQ(DRAV_Format(kFmtA, -3, -1).width, 0);
}

TEST(DataTypeTable, KeywordsMapToTheirCodes) {
  struct Case {
    const char* word;
    int type;
  } cases[] = {{"skip", kFmtF},         {"F", kFmtF},           {"Comma", kFmtCOMMA}, {"date", kFmtDATE},
               {"DATETIME", kFmtDATETIME}, {"ymdhms", kFmtYMDHMS}, {"bogus", 0},         {"e", 0}};
  for (const Case& c : cases) {
    StreamParser parser(c.word, nullptr);
    DRAV_Variable variable(kFmtF);
    parser.ParseDataType(&variable);
    DRAV_Variable::FormatType type;
    int width = -1, decimals = -1;
    variable.GetFormat(type, width, decimals);
    EXPECT_EQ(static_cast<int>(type), c.type) << c.word;
    EXPECT_EQ(width, 0) << c.word;
    EXPECT_EQ(decimals, 0) << c.word;
  }
}

}  // namespace
