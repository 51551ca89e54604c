// Path values (quoting rules), file names and the text edits on them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/parser/ParserTestSupport.h"

using parser_test::Command;
using parser_test::ParseCommand;
using parser_test::PendingError;

namespace {

struct PathCase {
  const char* label;
  const char* text;  // starts at the subcommand keyword
  const char* value;
  bool followedBySubcommand;
};

// Without it gtest prints the case as raw bytes, padding included, which
// was never written.
void PrintTo(const PathCase& pathCase, std::ostream* out) { *out << pathCase.label; }

class PathValue : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathValue, ReadsTheValueAsWritten) {
  const PathCase& c = GetParam();
  StreamParser parser(c.text, nullptr);
  char out[StreamParser::kBufferSize];
  EXPECT_EQ(parser.GetFilePath(out, true), c.followedBySubcommand);
  EXPECT_STREQ(out, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Quoting, PathValue,
    ::testing::Values(
        PathCase{"SingleQuotedWithBlank", "PIPE = '/tmp/in pipe' /VARIABLES", "/tmp/in pipe", true},
        PathCase{"UnquotedWithSlashes", "PIPE=/tmp/a/b /VARIABLES", "/tmp/a/b", true},
        PathCase{"QuotedLastValue", "PIPE = 'p'\n.", "p", false},
        PathCase{"DoubleQuotedHoldsSlash", "PIPE = \"x/y z\"/VARIABLES", "x/y z", true},
        PathCase{"RunOfDoubleQuotesClosesValue", "PIPE = \"a\"\"\" /VARIABLES", "a\"\"", true},
        PathCase{"DoubleQuoteInsideValue", "PIPE = \"a\"\"b\" /VARIABLES", "a\"", false},
        PathCase{"EmptyQuotedValue", "PIPE = '' /VARIABLES", "", true},
        PathCase{"BlanksAroundEquals", "PIPE \t=\r\n '/tmp/t'\r\n/VARIABLES", "/tmp/t", true},
        PathCase{"NoEscapesInQuotes", "PIPE = 'C:\\tmp\\n' /V", "C:\\tmp\\n", true},
        PathCase{"UnterminatedQuote", "PIPE = 'open /VARIABLES = a", "open /VARIABLES = a", false},
        PathCase{"UnterminatedDoubleQuote", "PIPE = \"open", "open", false},
        PathCase{"ClosedAtTheEnd", "PIPE = \"shut\"", "shut", false},
        PathCase{"NoEquals", "PIPE 'x' /VARIABLES", "", false},
        PathCase{"NothingAfterEquals", "PIPE =", "", false},
        PathCase{"Utf8Path", "PIPE = '/tmp/flöde strøm' /V", "/tmp/flöde strøm", true}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.label); });

TEST(PathValue, OverLongPathIsCutAtTheBufferBetweenCharacters) {
  // 600 two-byte characters: 1200 bytes, cut to the 1022 bytes that end on a
  // character boundary; the scan still moves past the whole value.
  std::string path;
  for (int i = 0; i < 600; ++i) path += "é";
  std::string text = "PIPE = '" + path + "' /VARIABLES";
  StreamParser parser(text.c_str(), nullptr);
  char out[StreamParser::kBufferSize + 16];
  std::string guard(16, '#');
  std::memcpy(out + StreamParser::kBufferSize, guard.data(), guard.size());
  EXPECT_TRUE(parser.GetFilePath(out, true));
  EXPECT_EQ(std::strlen(out), 1022u);
  EXPECT_EQ(std::string(out), path.substr(0, 1022));
  EXPECT_EQ(std::string(out + StreamParser::kBufferSize, 16), guard);
}

// A host adapter that shows what it was asked.
class RecordingAdapter : public DACAdapterBase {
 public:
  DACTokenSource* GetTokenSource() override { return nullptr; }
  ErrorCallback GetErrorCallback() override { return nullptr; }
  std::string ResolveFileSpec(const std::string& name, bool unquoted) override {
    return (unquoted ? "unquoted:" : "quoted:") + name;
  }
};

TEST(PathValue, AdapterResolvesPipeAndRewindPathsOnlyWhenAsked) {
  RecordingAdapter adapter;
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = /tmp/p /REWINDABLE = \"/tmp/r\" /VARIABLES = a F8"),
                             &result, &adapter);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  EXPECT_STREQ(parser->GetName(), "unquoted:/tmp/p");
  EXPECT_STREQ(parser->GetRewindName(), "quoted:/tmp/r");
  StreamParser unresolved("PIPE = /tmp/p /V", &adapter);
  char out[StreamParser::kBufferSize];
  EXPECT_TRUE(unresolved.GetFilePath(out, false));
  EXPECT_STREQ(out, "/tmp/p");
}

TEST(FileName, ReadsPrefixedQuotedNameToTheLineEnd) {
  RecordingAdapter adapter;
  struct Case {
    const char* text;
    const char* name;
    DACAdapterBase* adapter;
  } cases[] = {
      {"  FILE='/data/x.txt'\nnext", "/data/x.txt", nullptr},
      {"file=/data/with blank.txt\r\n", "/data/with blank.txt", nullptr},
      {"/plain/name", "/plain/name", nullptr},
      {"''\n", "", nullptr},
      {"\n", "", nullptr},
      {"file='~/x'\n", "quoted:~/x", &adapter},
      {"~/x\n", "unquoted:~/x", &adapter},
  };
  for (const Case& c : cases) {
    StreamParser parser(c.text, c.adapter);
    char out[StreamParser::kBufferSize];
    parser.ParseFileName(out, sizeof out);
    EXPECT_STREQ(out, c.name) << c.text;
  }
  StreamParser parser("/a/rather/long/name\n", nullptr);
  char out[8 + 4] = "###########";
  parser.ParseFileName(out, 8);
  EXPECT_STREQ(out, "/a/rath") << "the copy is bounded by the given room";
  EXPECT_EQ(std::string(out + 8, 3), "###");
}

TEST(TextEdits, StripQuotesAndConvertSlashTab) {
  struct Case {
    void (StreamParser::*edit)(char*&);
    const char* in;
    const char* out;
  } cases[] = {
      {&StreamParser::StripQuotes, "'abc'", "abc"},      {&StreamParser::StripQuotes, "\"a b\"c", "a b"},
      {&StreamParser::StripQuotes, "'open", "open"},     {&StreamParser::StripQuotes, "plain", "plain"},
      {&StreamParser::StripQuotes, "", ""},              {&StreamParser::StripQuotes, "'a\"b'", "a\"b"},
      // A leading escape becomes a tab or a backslash.
      {&StreamParser::ConvertSlashTab, "\\t\\\\rest", "\t\\rest"},
      {&StreamParser::ConvertSlashTab, "\\trest", "\trest"},
      {&StreamParser::ConvertSlashTab, "\\Trest", "\trest"},
      {&StreamParser::ConvertSlashTab, "\\\\rest", "\\rest"},
      {&StreamParser::ConvertSlashTab, "rest", "rest"},
      {&StreamParser::ConvertSlashTab, "\\", "\\"},
      {&StreamParser::ConvertSlashTab, "", ""},
  };
  StreamParser parser;
  for (const Case& c : cases) {
    std::string buffer = c.in;
    char* text = buffer.data();
    (parser.*c.edit)(text);
    EXPECT_STREQ(text, c.out) << c.in;
  }
}

}  // namespace
