// The /VARIABLES list beyond the command tables: the order of the checks,
// names cut to 64 bytes, lookups by upper-case name; and the
// column-description operations.
#include <gtest/gtest.h>

#include <string>

#include "tests/parser/ParserTestSupport.h"

using parser_test::Command;
using parser_test::MessageText;
using parser_test::ParseCommand;
using parser_test::PendingError;
using parser_test::Variables;

namespace {

std::string DuplicateText(const std::string& name) { return MessageText(2272, name.c_str(), false, "64 64"); }
std::string NameCutText(const std::string& word) { return MessageText(2273, word.c_str(), true, "64"); }

TEST(VariableList, DuplicateCheckComesBeforeTheNameCheck) {
  // "TO" is reserved; once a variable of that name exists, the duplicate is
  // what gets reported.
  StreamParser parser("TO F8\n.", nullptr);
  auto* existing = new DRAV_Variable(kFmtF);
  existing->SetName("to");
  parser.AddVariable(existing);
  EXPECT_EQ(parser.ParseVariable(0), 2);
  EXPECT_EQ(PendingError(parser), DuplicateText("TO"));
}

TEST(VariableList, LongNameIsCutWithAWarningThatShowsItWhole) {
  const std::string word = std::string(64, 'n') + "_tail_";  // 70 bytes
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = " + word + " F8"), &result);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  EXPECT_EQ(Variables(*parser), std::string(64, 'n') + ":5/8.0");
  const ErrorTextList& warnings = *parser->GetWarningList();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].Text().str(), NameCutText(word));
  EXPECT_EQ(warnings[0].Severity(), ErrorText::kWarning);
  EXPECT_EQ(warnings[0].Number(), 0);
}

TEST(VariableList, NamesEqualInTheirFirst64BytesAreDuplicates) {
  const std::string first = std::string(64, 'n') + "_one";
  const std::string second = std::string(64, 'N') + "_two";
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = " + first + " F8 " + second + " F8"), &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(PendingError(*parser), DuplicateText(std::string(64, 'N')));
  EXPECT_EQ(parser->GetWarningList()->size(), 2u);
}

TEST(VariableList, CutNameWithOverwideStringGivesWarningThenError) {
  const std::string word = std::string(64, 'w') + "abcdef";
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = " + word + " A32768"), &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(PendingError(*parser), MessageText(2265, std::string(64, 'w').c_str()));
  const ErrorTextList& warnings = *parser->GetWarningList();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].Text().str(), NameCutText(word));
}

TEST(VariableList, SearchFindsThePositionOfTheUpperCaseName) {
  char bee[] = "BEE", cee[] = "CEE", lower[] = "cee", none[] = "D";
  StreamParser empty("", nullptr);
  EXPECT_EQ(empty.SearchUpperVarName(bee), static_cast<unsigned int>(-1));
  EXPECT_EQ(empty.GetVariable(0), nullptr);
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = a F8 bee F8 Cee F8"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(parser->SearchUpperVarName(bee), 1u);
  EXPECT_EQ(parser->SearchUpperVarName(cee), 2u);
  EXPECT_EQ(parser->SearchUpperVarName(lower), static_cast<unsigned int>(-1));
  EXPECT_EQ(parser->SearchUpperVarName(none), static_cast<unsigned int>(-1));
  EXPECT_EQ(parser->GetVariable(-1), nullptr);
}

TEST(ColumnDescription, PositionsReadAColumnRange) {
  struct Case {
    const char* word;
    bool ok;
    unsigned long start, width;
  } cases[] = {{"5-9", true, 5, 5}, {"9-5", false, 9, 0}, {"5-", false, 5, 0},        {"5", false, 5, 0},
               {"-5", false, 0, 0}, {"7-7", true, 7, 1},  {"1-80 next", true, 1, 80}};
  for (const Case& c : cases) {
    StreamParser parser(c.word, nullptr);
    unsigned long start = 99, width = 99;
    EXPECT_EQ(parser.GetPositions(start, width), c.ok) << c.word;
    EXPECT_EQ(start, c.start) << c.word;
    EXPECT_EQ(width, c.width) << c.word;
  }
}

TEST(ColumnDescription, LineNumbersFollowTheRecords) {
  StreamParser parser("name /3 x /2 y / z /", nullptr);
  // Per step: the line number or 0 when refused, then the word after it.
  const struct {
    bool ok;
    unsigned long line;
    const char* next;
  } steps[] = {{true, 1, "name"},  // no "/": the current record
               {true, 3, "x"},
               {false, 0, "/2"},  // going back is refused
               {true, 3, "y"},    // nothing consumed: "y" is read as no slash
               {true, 4, "z"},    // a bare "/" is the next record
               {true, 5, ""}};
  for (const auto& step : steps) {
    unsigned long line = 99;
    char word[StreamParser::kBufferSize];
    EXPECT_EQ(parser.GetLineNumber(line), step.ok) << step.next;
    EXPECT_EQ(line, step.line) << step.next;
    parser.ParseWord(word, sizeof word);
    EXPECT_STREQ(word, step.next);
  }
  StreamParser first("/ a", nullptr), zero("/0", nullptr);
  unsigned long line = 0;
  EXPECT_TRUE(first.GetLineNumber(line));  // a bare "/" before any record is the first
  EXPECT_EQ(line, 1u);
  EXPECT_FALSE(zero.GetLineNumber(line));
}

TEST(ColumnDescription, VariableNameRunsToTheLineEnd) {
  StreamParser parser("   Income per year\r\nskip", nullptr);
  DRAV_Variable variable(kFmtA);
  parser.ParseVarName(&variable);
  EXPECT_STREQ(variable.GetName(), "Income per year");
  parser.ParseDataType(&variable);
  DRAV_Variable::FormatType type;
  int width, decimals;
  variable.GetFormat(type, width, decimals);
  EXPECT_EQ(type, kFmtF);
}

}  // namespace
