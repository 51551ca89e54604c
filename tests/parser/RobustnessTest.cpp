// Malformed and huge input: every outcome is an acceptance or exactly one
// refusal with its text, and no buffer is written past (run under ASan).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "tests/parser/ParserTestSupport.h"

using parser_test::Command;
using parser_test::ParseCommand;
using parser_test::PendingError;
using parser_test::Prefix;

namespace {

// Every refusal explains itself; an acceptance has no pending error.
void ExpectCoherentOutcome(const std::string& text) {
  int result = -1;
  auto parser = ParseCommand(text, &result);
  ASSERT_TRUE(result == 0 || result == 1);
  if (result == 1) {
    ASSERT_NE(parser->GetErrorMesToken(), nullptr) << text.substr(0, 200);
    EXPECT_EQ(PendingError(*parser).front(), '[');
  } else {
    EXPECT_EQ(parser->GetErrorMesToken(), nullptr);
    for (int i = 0; i < parser->GetVarIndex(); ++i) ASSERT_NE(parser->GetVariable(i), nullptr);
  }
  // The names may be asked for after any outcome.
  EXPECT_NE(parser->GetName(), nullptr);
  EXPECT_NE(parser->GetRewindName(), nullptr);
}

TEST(Robustness, OverLongWordsEverywhere) {
  const std::string huge(5000, 'w');
  const std::string hugeDigits(3000, '9');
  const std::string texts[] = {
      huge,
      "GET " + huge,
      "GET DATA /" + huge,
      "GET DATA /TYPE = " + huge,
      Command(huge),
      Command(huge + " = 1 /VARIABLES = a F8"),
      Command("PIPE = '" + huge + "' /VARIABLES = a F8"),
      Command("PIPE = " + huge + " /VARIABLES = a F8"),
      Command("PIPE = \"" + huge + "\"\"\"\" /VARIABLES = a F8"),
      Command("SOCKET = " + huge + " /HOST = " + huge + " /VARIABLES = a F8"),
      Command("REWINDABLE = '" + huge + "' /PIPE = 'x' /VARIABLES = a F8"),
      Command("PIPE = 'x' /VARIABLES = " + huge + " F8"),
      Command("PIPE = 'x' /VARIABLES = a F" + hugeDigits),
      Command("PIPE = 'x' /VARIABLES = a F8." + hugeDigits),
      Command("PIPE = 'x' /VARIABLES = a " + hugeDigits + "F"),
      Command("PIPE = 'x' /VARIABLES = a " + hugeDigits + " X"),
      Command("PIPE = 'x' /VARIABLES = a " + huge),
      Command("PIPE = 'x' /VARIABLES" + std::string(3000, ' ') + "= a F8"),
      Command(std::string(2000, '/')),
      Command(std::string(2000, '=')),
      Command(std::string(2000, '\'')),
  };
  for (const std::string& text : texts) ExpectCoherentOutcome(text);
}

TEST(Robustness, OverLongWordIsCutAndNeverOverruns) {
  std::string word(3000, 'a');
  word += "é";
  StreamParser parser(word.c_str(), nullptr);
  char small[16 + 8];
  std::memset(small, '#', sizeof small);
  parser.ParseWord(small, 16);
  EXPECT_EQ(std::string(small), std::string(15, 'a'));
  EXPECT_EQ(std::string(small + 16, 8), std::string(8, '#'));
}

TEST(Robustness, NumbersFromHugeTextsStayInTheirBuffers) {
  const std::string digits(2000, '7');
  StreamParser ints((digits + "x 5").c_str(), nullptr);
  EXPECT_EQ(ints.ParseInt(), 2147483647L);
  EXPECT_EQ(ints.ParseInt(), 5);

  StreamParser small("  42x7", nullptr);
  EXPECT_EQ(small.ParseInt(), 42);
  char rest[StreamParser::kBufferSize];
  small.ParseWord(rest, sizeof rest);
  EXPECT_STREQ(rest, "7");
  StreamParser none("abc", nullptr);
  EXPECT_EQ(none.ParseInt(), 0);

  StreamParser numbers(("  3.5e2 " + std::string(500, '1') + " next").c_str(), nullptr);
  EXPECT_DOUBLE_EQ(numbers.ParseNumber(), 350.0);
  EXPECT_GT(numbers.ParseNumber(), 1e100);
  numbers.ParseWord(rest, sizeof rest);
  EXPECT_STREQ(rest, "next");

  int value = 0;
  StreamParser parser;
  char text[] = "  17abc";
  parser.GetNextInt(text, value);
  EXPECT_EQ(value, 17);
  std::string long_text = " " + digits;
  parser.GetNextInt(long_text.data(), value);
  EXPECT_EQ(value, 2147483647);
}

TEST(Robustness, ScanningStopsAtTheEndOfTheText) {
  StreamParser parser("a", nullptr);
  char word[StreamParser::kBufferSize];
  for (int i = 0; i < 5; ++i) parser.ParseWord(word, sizeof word);
  EXPECT_STREQ(word, "");
  parser.ParseDelims(word, sizeof word);
  EXPECT_STREQ(word, "");
  EXPECT_EQ(parser.ParseInt(), 0);
  EXPECT_EQ(parser.ParseNumber(), 0.0);
  unsigned long a = 1, b = 1;
  EXPECT_FALSE(parser.GetPositions(a, b));
  EXPECT_TRUE(parser.GetLineNumber(a));
  EXPECT_EQ(parser.ParseVariable(0), 1);
  char words[] = " \t first second ", blanks[] = " \r\n ";
  parser.StripSpaces(words);
  parser.StripSpaces(blanks);
  EXPECT_STREQ(words, "first");
  EXPECT_STREQ(blanks, "");
  StreamParser textless;
  EXPECT_EQ(textless.ParseToExecutor(), 1);
  EXPECT_NE(textless.GetErrorMesToken(), nullptr);
}

// Every reading operation, called in turn over random and over-long texts,
// stays within the text and within its buffers.
TEST(Robustness, EveryOperationOverRandomText) {
  const char alphabet[] = "ab/=.'\" \t\r\n-0123456789Xx\\\xc3\xa9\xff";
  std::mt19937 random(777);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
  std::uniform_int_distribution<int> length(0, 3000);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += alphabet[pick(random)];
    StreamParser parser(text.c_str(), nullptr);
    char buffer[StreamParser::kBufferSize];
    char value[StreamParser::kBufferSize] = "";
    unsigned long a = 0, b = 0;
    DRAV_Variable variable(kFmtF);
    DRAV_Variable::FormatType type;
    unsigned int decimals = 0;
    const std::function<void()> operations[] = {
        [&] { parser.GetFilePath(buffer, true); },
        [&] { parser.ParseFileName(buffer, sizeof buffer); },
        [&] { parser.ParseVarName(&variable); },
        [&] { parser.GetPositions(a, b); },
        [&] { parser.GetLineNumber(a); },
        [&] { parser.ParseDataType(&variable); },
        [&] { parser.GetFormat(0, type, a, decimals); },
        [&] { parser.ParseVariable(0); },
        [&] { parser.ParseInt(), parser.ParseNumber(); },
        [&] { parser.ParseSubCommand(buffer, value); },
    };
    for (int step = 0; step < 40; ++step) operations[step % 10]();
    std::string copy = text;
    char* edit = copy.data();
    parser.ConvertSlashTab(edit);
    parser.StripQuotes(edit);
  }
}

}  // namespace
