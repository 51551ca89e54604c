// The /VARIABLES list: names, formats, order, duplicates, name checks; and
// the column-description operations.
#include <gtest/gtest.h>

#include <string>

#include "tests/parser/ParserTestSupport.h"

using parser_test::CatalogText;
using parser_test::Command;
using parser_test::MessageText;
using parser_test::ParseCommand;
using parser_test::PendingError;

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::string::size_type at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string DuplicateText(const std::string& name) {
  return ReplaceAll(CatalogText(2272, false), "%d", "64") + " " + name;
}

std::string NameCutText(const std::string& word) {
  return ReplaceAll(CatalogText(2273, true), "%d", "64") + " " + word;
}

struct Expected {
  const char* name;
  int type;
  int width;
  int decimals;
};

void ExpectVariables(StreamParser& parser, std::initializer_list<Expected> expected) {
  ASSERT_EQ(parser.GetVarIndex(), static_cast<int>(expected.size()));
  int i = 0;
  for (const Expected& e : expected) {
    DRAV_Variable* variable = parser.GetVariable(i++);
    ASSERT_NE(variable, nullptr);
    EXPECT_STREQ(variable->GetName(), e.name);
    DRAV_Variable::FormatType type;
    int width, decimals;
    variable->GetFormat(type, width, decimals);
    EXPECT_EQ(static_cast<int>(type), e.type) << e.name;
    EXPECT_EQ(width, e.width) << e.name;
    EXPECT_EQ(decimals, e.decimals) << e.name;
  }
}

TEST(VariableList, ReadsEntriesInOrderWithTheirFormats) {
  int result = -1;
  auto parser = ParseCommand(
      Command("PIPE = 'p' /VARIABLES = id F8 amount COMMA10.2 stamp DATETIME"), &result);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  ExpectVariables(*parser, {{"id", 5, 8, 0}, {"amount", 3, 10, 2}, {"stamp", 22, 23, 2}});
}

TEST(VariableList, EntriesMaySpanLinesAndTabs) {
  int result = -1;
  auto parser =
      ParseCommand(Command("PIPE = 'p' /VARIABLES =\n\tName A20\r\n  Ünïcode  8F\n"), &result);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  ExpectVariables(*parser, {{"Name", 1, 20, 0}, {"Ünïcode", 5, 8, 0}});
}

TEST(VariableList, WordStartingWithFullStopEndsTheList) {
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = a F8 .b 1x"), &result);
  ASSERT_EQ(result, 0);
  ExpectVariables(*parser, {{"a", 5, 8, 0}});
}

TEST(VariableList, TextWithoutFinalFullStopEndsAtItsEnd) {
  int result = -1;
  auto parser = ParseCommand("GET DATA /TYPE = STREAM /PIPE = 'p' /VARIABLES = a F8 b A3", &result);
  ASSERT_EQ(result, 0);
  ExpectVariables(*parser, {{"a", 5, 8, 0}, {"b", 1, 3, 0}});
}

struct EntryRefusal {
  const char* label;
  const char* list;
  unsigned int id;
  const char* token;
  int variablesKept;
};

// Without it gtest prints the case as raw bytes, padding included, which
// was never written.
void PrintTo(const EntryRefusal& refusal, std::ostream* out) { *out << refusal.label; }

class RefusedEntry : public ::testing::TestWithParam<EntryRefusal> {};

TEST_P(RefusedEntry, PostsItsMessageAndKeepsEarlierVariables) {
  const EntryRefusal& c = GetParam();
  int result = -1;
  auto parser = ParseCommand(Command(std::string("PIPE = 'p' /VARIABLES = ") + c.list), &result);
  EXPECT_EQ(result, 1);
  std::string expected = c.id == 2272 ? DuplicateText(c.token) : MessageText(c.id, c.token);
  EXPECT_EQ(PendingError(*parser), expected);
  EXPECT_EQ(parser->GetVarIndex(), c.variablesKept);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, RefusedEntry,
    ::testing::Values(EntryRefusal{"DuplicateIgnoringCase", "x F8 X F8", 2272, "X", 1},
                      EntryRefusal{"DuplicateLater", "a F8 b F8 c A2 B F8", 2272, "B", 3},
                      EntryRefusal{"ReservedWord", "a F8 To F8", 2277, "To", 1},
                      EntryRefusal{"StartsWithDigit", "1abc F8", 2278, "1abc", 0},
                      EntryRefusal{"EndsWithPeriod", "a. F8", 2278, "a.", 0},
                      EntryRefusal{"StartsWithUnderscore", "_x F8", 2278, "_x", 0},
                      EntryRefusal{"NameWithoutFormat", "a F8 last", 2265, "last", 1},
                      EntryRefusal{"FormatTooWide", "a F41", 2265, "a", 0},
                      EntryRefusal{"FormatInParentheses", "a (F8.2)", 2265, "a", 0},
                      EntryRefusal{"BareWidth", "a 8 X", 2265, "a", 0}),
    [](const ::testing::TestParamInfo<EntryRefusal>& info) {
      return std::string(info.param.label);
    });

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

TEST(VariableList, LongNameIsCutWithAWarning) {
  const std::string word = std::string(64, 'n') + "_tail_";  // 70 bytes
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = " + word + " F8"), &result);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  ExpectVariables(*parser, {{std::string(64, 'n').c_str(), 5, 8, 0}});
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
  auto parser =
      ParseCommand(Command("PIPE = 'p' /VARIABLES = " + first + " F8 " + second + " F8"), &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(PendingError(*parser), DuplicateText(std::string(64, 'N')));
  EXPECT_EQ(parser->GetWarningList()->size(), 2u);
}

TEST(VariableList, LongUtf8NameIsCutBetweenCharacters) {
  std::string word;
  for (int i = 0; i < 40; ++i) word += "é";  // 80 bytes
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = " + word + " F8"), &result);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  EXPECT_EQ(std::string(parser->GetVariable(0)->GetName()), word.substr(0, 64));
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

TEST(VariableList, NoVariablesBeforeTheFirstIsAdded) {
  StreamParser parser("", nullptr);
  char name[] = "X";
  EXPECT_EQ(parser.SearchUpperVarName(name), static_cast<unsigned int>(-1));
  EXPECT_EQ(parser.GetVarIndex(), 0);
  EXPECT_EQ(parser.GetVariable(0), nullptr);
}

TEST(VariableList, SearchFindsThePositionOfTheUpperCaseName) {
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p' /VARIABLES = a F8 bee F8 Cee F8"), &result);
  ASSERT_EQ(result, 0);
  char bee[] = "BEE", cee[] = "CEE", lower[] = "cee", none[] = "D";
  EXPECT_EQ(parser->SearchUpperVarName(bee), 1u);
  EXPECT_EQ(parser->SearchUpperVarName(cee), 2u);
  EXPECT_EQ(parser->SearchUpperVarName(lower), static_cast<unsigned int>(-1));
  EXPECT_EQ(parser->SearchUpperVarName(none), static_cast<unsigned int>(-1));
  EXPECT_EQ(parser->GetVariable(-1), nullptr);
  EXPECT_EQ(parser->GetVariable(3), nullptr);
}

TEST(ColumnDescription, PositionsReadAColumnRange) {
  struct Case {
    const char* word;
    bool ok;
    unsigned long start;
    unsigned long width;
  } cases[] = {{"5-9", true, 5, 5},       {"9-5", false, 9, 0}, {"5-", false, 5, 0},
               {"5", false, 5, 0},        {"-5", false, 0, 0},  {"7-7", true, 7, 1},
               {"1-80 next", true, 1, 80}};
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
  unsigned long line = 0;
  char word[StreamParser::kBufferSize];

  EXPECT_TRUE(parser.GetLineNumber(line));  // no "/": the current record
  EXPECT_EQ(line, 1u);
  parser.ParseWord(word, sizeof word);
  EXPECT_STREQ(word, "name");

  EXPECT_TRUE(parser.GetLineNumber(line));
  EXPECT_EQ(line, 3u);
  parser.ParseWord(word, sizeof word);
  EXPECT_STREQ(word, "x");

  EXPECT_FALSE(parser.GetLineNumber(line));  // going back is refused
  EXPECT_EQ(line, 0u);
  parser.ParseWord(word, sizeof word);
  EXPECT_STREQ(word, "/2");
  parser.ParseWord(word, sizeof word);

  EXPECT_TRUE(parser.GetLineNumber(line));  // a bare "/" is the next record
  EXPECT_EQ(line, 4u);
  parser.ParseWord(word, sizeof word);
  EXPECT_STREQ(word, "z");
  EXPECT_TRUE(parser.GetLineNumber(line));
  EXPECT_EQ(line, 5u);
}

TEST(ColumnDescription, BareSlashBeforeAnyRecordIsTheFirst) {
  StreamParser parser("/ a", nullptr);
  unsigned long line = 0;
  EXPECT_TRUE(parser.GetLineNumber(line));
  EXPECT_EQ(line, 1u);
  StreamParser zero("/0", nullptr);
  EXPECT_FALSE(zero.GetLineNumber(line));
}

TEST(ColumnDescription, VariableNameRunsToTheLineEnd) {
  StreamParser parser("   Income per year\r\nskip", nullptr);
  DRAV_Variable variable(kFmtF);
  parser.ParseVarName(&variable);
  EXPECT_STREQ(variable.GetName(), "Income per year");
  parser.ParseDataType(&variable);
  DRAV_Variable::FormatType type;
  int width, decimals;
  variable.GetFormat(type, width, decimals);
  EXPECT_EQ(type, kFmtF);
}

}  // namespace
