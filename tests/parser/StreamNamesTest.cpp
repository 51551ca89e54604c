// Path values (quoting rules), file names, and the stream, rewind and host
// names a parsed command yields.
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

TEST(PathValue, AdapterResolvesPipeAndRewindPaths) {
  RecordingAdapter adapter;
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = /tmp/p /REWINDABLE = \"/tmp/r\" /VARIABLES = a F8"),
                             &result, &adapter);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  EXPECT_STREQ(parser->GetName(), "unquoted:/tmp/p");
  EXPECT_STREQ(parser->GetRewindName(), "quoted:/tmp/r");
}

TEST(PathValue, WithoutTheFlagTheAdapterIsNotAsked) {
  RecordingAdapter adapter;
  StreamParser parser("PIPE = /tmp/p /V", &adapter);
  char out[StreamParser::kBufferSize];
  EXPECT_TRUE(parser.GetFilePath(out, false));
  EXPECT_STREQ(out, "/tmp/p");
}

TEST(FileName, ReadsPrefixedQuotedNameToTheLineEnd) {
  struct Case {
    const char* text;
    const char* name;
  } cases[] = {
      {"  FILE='/data/x.txt'\nnext", "/data/x.txt"},
      {"file=/data/with blank.txt\r\n", "/data/with blank.txt"},
      {"/plain/name", "/plain/name"},
      {"''\n", ""},
      {"\n", ""},
  };
  for (const Case& c : cases) {
    StreamParser parser(c.text, nullptr);
    char out[StreamParser::kBufferSize];
    parser.ParseFileName(out, sizeof out);
    EXPECT_STREQ(out, c.name) << c.text;
  }
}

TEST(FileName, CopyIsBoundedByTheGivenRoom) {
  StreamParser parser("/a/rather/long/name\n", nullptr);
  char out[8 + 4] = "###########";
  parser.ParseFileName(out, 8);
  EXPECT_STREQ(out, "/a/rath");
  EXPECT_EQ(std::string(out + 8, 3), "###");
}

TEST(FileName, AdapterSeesWhetherTheNameWasQuoted) {
  RecordingAdapter adapter;
  StreamParser quoted("file='~/x'\n", &adapter);
  StreamParser plain("~/x\n", &adapter);
  char out[StreamParser::kBufferSize];
  quoted.ParseFileName(out, sizeof out);
  EXPECT_STREQ(out, "quoted:~/x");
  plain.ParseFileName(out, sizeof out);
  EXPECT_STREQ(out, "unquoted:~/x");
}

TEST(TextEdits, StripQuotesRemovesEnclosingQuotes) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"'abc'", "abc"}, {"\"a b\"c", "a b"}, {"'open", "open"}, {"plain", "plain"},
               {"", ""},         {"'a\"b'", "a\"b"}};
  for (const Case& c : cases) {
    std::string buffer = c.in;
    char* text = buffer.data();
    StreamParser parser;
    parser.StripQuotes(text);
    EXPECT_STREQ(text, c.out) << c.in;
  }
}

TEST(TextEdits, ConvertSlashTabTurnsALeadingEscapeIntoATab) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"\\t\\\\rest", "\t\\rest"},
      {"\\trest", "\trest"},
      {"\\Trest", "\trest"},
      {"\\\\rest", "\\rest"},
      {"rest", "rest"},
      {"\\", "\\"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string buffer = c.in;
    char* text = buffer.data();
    StreamParser parser;
    parser.ConvertSlashTab(text);
    EXPECT_STREQ(text, c.out) << c.in;
  }
}

TEST(SocketName, DefaultHostIsTheCanonicalLocalName) {
  int result = -1;
  auto parser = ParseCommand(Command("SOCKET = 5000 /VARIABLES = a F8"), &result);
  ASSERT_EQ(result, 0);
  const std::string expected = "inet:" + parser_test::CanonicalLocalHost() + ":5000";
  EXPECT_EQ(std::string(parser->GetName()), expected);
  EXPECT_EQ(std::string(parser->GetName()), expected) << "a second call must not prefix again";
}

TEST(SocketName, ExplicitLocalhostIsLookedUpButCapitalsAreNot) {
  int result = -1;
  auto lower = ParseCommand(Command("SOCKET = 1 /HOST = localhost /VARIABLES = a F8"), &result);
  EXPECT_EQ(std::string(lower->GetHostName()), parser_test::CanonicalLocalHost());
  auto upper = ParseCommand(Command("SOCKET = 1 /HOST = LOCALHOST /VARIABLES = a F8"), &result);
  EXPECT_STREQ(upper->GetName(), "inet:LOCALHOST:1");
}

TEST(SocketName, ValueWithInetPrefixIsUsedAsWritten) {
  int result = -1;
  auto parser =
      ParseCommand(Command("SOCKET = inet:feeder:9000 /HOST = other /VARIABLES = a F8"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_STREQ(parser->GetName(), "inet:feeder:9000");
}

TEST(RewindName, DependsOnTransportAndSubcommand) {
  int result = -1;
  auto pipe = ParseCommand(Command("PIPE = 'd' /REWINDABLE = '/tmp/r' /VARIABLES = a F8"), &result);
  EXPECT_STREQ(pipe->GetRewindName(), "/tmp/r");
  auto socket =
      ParseCommand(Command("SOCKET = 5 /REWINDABLE = '/tmp/r' /VARIABLES = a F8"), &result);
  EXPECT_STREQ(socket->GetRewindName(), "rewindsupported");
  auto none = ParseCommand(Command("PIPE = 'd' /VARIABLES = a F8"), &result);
  EXPECT_STREQ(none->GetRewindName(), "");
  EXPECT_FALSE(none->GetRewSupport());
}

}  // namespace
