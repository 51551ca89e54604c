// The command head and the subcommand rules: which commands are accepted,
// and the one message (identifier and token) each refused command gets.
#include <gtest/gtest.h>

#include "tests/parser/ParserTestSupport.h"

using parser_test::Command;
using parser_test::MessageText;
using parser_test::ParseCommand;
using parser_test::PendingError;

namespace {

struct RefusalCase {
  const char* label;
  std::string text;
  unsigned int id;
  const char* token;  // null: the message has no token
};

// Without it gtest prints the case as raw bytes, padding included, which
// was never written.
void PrintTo(const RefusalCase& refusal, std::ostream* out) { *out << refusal.label; }

class RefusedCommand : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedCommand, PostsExactlyItsMessage) {
  const RefusalCase& c = GetParam();
  int result = -1;
  auto parser = ParseCommand(c.text, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(PendingError(*parser), MessageText(c.id, c.token));
  EXPECT_TRUE(parser->GetWarningList()->empty());
  EXPECT_EQ(parser->GetErrorMesID(), 2251u);
}

const std::string kLong(1100, ' ');

INSTANTIATE_TEST_SUITE_P(
    Subcommands, RefusedCommand,
    ::testing::Values(
        RefusalCase{"NotGetData", "PUT DATA /TYPE = STREAM /PIPE = 'x' /VARIABLES = a F8\n.", 2263,
                    nullptr},
        RefusalCase{"EmptyText", "", 2263, nullptr},
        RefusalCase{"NotTypeStream", "GET DATA /TYPE = FILE /PIPE = 'x' /VARIABLES = a F8\n.", 2264,
                    nullptr},
        RefusalCase{"FirstSubcommandNotType", "GET DATA /PIPE = 'x' /VARIABLES = a F8\n.", 2264,
                    nullptr},
        RefusalCase{"HeadOnly", "GET DATA", 2264, nullptr},
        RefusalCase{"NoVariables", Command("SOCKET = 5 /HOST = h"), 2255, "/VARIABLES"},
        RefusalCase{"SocketThenPipe", Command("SOCKET = 5000 /PIPE = 'x' /VARIABLES = a F8"), 2257,
                    "/PIPE"},
        RefusalCase{"PipeThenSocket", Command("PIPE = 'x' /SOCKET = 5000 /VARIABLES = a F8"), 2257,
                    "/SOCKET"},
        RefusalCase{"PipeTwice", Command("PIPE = 'x' /PIPE = 'y' /VARIABLES = a F8"), 2257,
                    "/PIPE"},
        RefusalCase{"RewindableTwice",
                    Command("PIPE = 'x' /REWINDABLE = 'r' /REWINDABLE = 's' /VARIABLES = a F8"),
                    2257, "/REWINDABLE"},
        RefusalCase{"SeekableBeforeRewindable",
                    Command("PIPE = 'x' /SeekAble /REWINDABLE = 'r' /VARIABLES = a F8"), 2256,
                    "SeekAble"},
        RefusalCase{"PipeWithoutEquals", Command("PIPE 'x' /VARIABLES = a F8"), 2267, "="},
        RefusalCase{"SocketWithoutEquals", Command("SOCKET 5000 /VARIABLES = a F8"), 2267, "="},
        RefusalCase{"VariablesWithoutEquals", Command("PIPE = 'x' /VARIABLES a F8"), 2267, "="},
        RefusalCase{"Delimiters", Command("PIPE = 'x' /DELIMITERS = x /VARIABLES = a F8"), 2256,
                    "DELIMITERS"},
        RefusalCase{"QualifierLowerCase", Command("PIPE = 'x' /qualifier = x /VARIABLES = a F8"),
                    2256, "qualifier"},
        RefusalCase{"DelimitersEmptyValue", Command("PIPE = 'x' /DELIMITERS = /VARIABLES = a F8"),
                    2256, "DELIMITERS"},
        RefusalCase{"DelimitersWithoutEquals", Command("PIPE = 'x' /DELIMITERS /VARIABLES = a F8"),
                    2267, "="},
        RefusalCase{"UnknownSubcommand", Command("PIPE = 'x' /COLOUR = red /VARIABLES = a F8"),
                    2256, "COLOUR"},
        RefusalCase{"SecondType", Command("PIPE = 'x' /TYPE = STREAM /VARIABLES = a F8"), 2256,
                    "TYPE"},
        RefusalCase{"HostEmptyValue", Command("PIPE = 'x' /HOST = /VARIABLES = a F8"), 2256,
                    "HOST"},
        RefusalCase{"EmptyPipePath", Command("PIPE = '' /VARIABLES = a F8"), 2256, "PIPE"},
        RefusalCase{"PipePathNotFollowedBySlash", Command("PIPE = 'x' y /VARIABLES = a F8"), 2256,
                    "PIPE"},
        RefusalCase{"PipePathLast", Command("PIPE = 'x'") + " ", 2256, "PIPE"},
        RefusalCase{"TwoSlashes", Command("PIPE = 'x' //VARIABLES = a F8"), 2254, "/"},
        RefusalCase{"SlashAtEnd", "GET DATA /TYPE = STREAM  / ", 2254, "/"},
        RefusalCase{"EmptyName", Command("PIPE = 'x' / = 5 /VARIABLES = a F8"), 2268, nullptr},
        RefusalCase{"SubcommandCutAfter1022Bytes",
                    Command("HOST = h" + kLong + "x/PIPE = 'x' /VARIABLES = a F8"), 2267, "/"},
        RefusalCase{"RefusalStopsTheParse",
                    Command("PIPE = 'x' /BOGUS = 1 /PIPE = 'y' /VARIABLES = 1a F8"), 2256,
                    "BOGUS"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) {
      return std::string(info.param.label);
    });

TEST(Subcommands, PipePathLastIsRefusedAtTheEndOfTheCommand) {
  // 'p' as the very last value, with nothing but the full stop after it.
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'p'"), &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(PendingError(*parser), MessageText(2256, "PIPE"));
}

TEST(Subcommands, KeywordsIgnoreCase) {
  int result = -1;
  auto parser = ParseCommand(
      "get data /type = stream  /pipe = '/tmp/x' /Rewindable = '/tmp/r' "
      "/seekable /variables = a f8\n.",
      &result);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  EXPECT_STREQ(parser->GetName(), "/tmp/x");
  EXPECT_STREQ(parser->GetRewindName(), "/tmp/r");
  EXPECT_TRUE(parser->GetSeekFlag());
  EXPECT_TRUE(parser->GetRewSupport());
  EXPECT_FALSE(parser->GetSockUse());
  EXPECT_EQ(parser->GetVarIndex(), 1);
}

TEST(Subcommands, EmptyVariableListIsAccepted) {
  int result = -1;
  auto parser = ParseCommand(Command("PIPE = 'x' /VARIABLES = "), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(parser->GetVarIndex(), 0);
  EXPECT_EQ(parser->GetVariable(0), nullptr);
  EXPECT_EQ(parser->GetErrorMesToken(), nullptr);
}

TEST(Subcommands, SocketTakesItsFirstWordOnly) {
  int result = -1;
  auto parser =
      ParseCommand(Command("SOCKET = 5000 6000 /HOST = feeder.example /VARIABLES = a F8"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(parser->GetSockUse());
  EXPECT_STREQ(parser->GetName(), "inet:feeder.example:5000");
}

TEST(Subcommands, SecondHostReplacesTheFirst) {
  int result = -1;
  auto parser = ParseCommand(
      Command("SOCKET = 7 /HOST = a.example /HOST = b.example /VARIABLES = a F8"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_STREQ(parser->GetHostName(), "b.example");
}

TEST(Subcommands, SeekableAfterRewindableSetsTheFlag) {
  int result = -1;
  auto parser = ParseCommand(
      Command("PIPE = 'x' /REWINDABLE = 'r' /SEEKABLE = yes /VARIABLES = a F8"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(parser->GetSeekFlag());
}

TEST(Subcommands, BareRewindableTakesThePreviousValue) {
  // Written alone, REWINDABLE keeps the value of the subcommand before it:
  // for a socket that is the port, reported as the rewind marker.
  int result = -1;
  auto socket = ParseCommand(Command("SOCKET = 5000 /REWINDABLE /VARIABLES = a F8"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(socket->GetRewSupport());
  EXPECT_STREQ(socket->GetRewindName(), "rewindsupported");

  auto pipe = ParseCommand(Command("REWINDABLE /PIPE = 'x' /VARIABLES = a F8"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_STREQ(pipe->GetRewindName(), "STREAM");
}

TEST(Subcommands, RefusedSubcommandLeavesLaterOnesUnapplied) {
  int result = -1;
  auto parser =
      ParseCommand(Command("PIPE = 'x' /BOGUS = 1 /SOCKET = 5 /VARIABLES = a F8"), &result);
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(parser->GetSockUse());
  EXPECT_STREQ(parser->GetName(), "x");
  EXPECT_EQ(parser->GetVarIndex(), 0);
}

TEST(Subcommands, SubcommandNotStartingWithSlashIsRefused) {
  StreamParser parser("  x = 1", nullptr);
  char name[StreamParser::kBufferSize] = "";
  char value[StreamParser::kBufferSize] = "";
  EXPECT_EQ(parser.ParseSubCommand(name, value), 2);
  EXPECT_EQ(PendingError(parser), MessageText(2267, "/"));
}

TEST(Subcommands, EndOfCommandEndsTheSubcommands) {
  for (const char* text : {"", "   ", " \n.", "."}) {
    StreamParser parser(text, nullptr);
    char name[StreamParser::kBufferSize] = "";
    char value[StreamParser::kBufferSize] = "";
    EXPECT_EQ(parser.ParseSubCommand(name, value), 1) << '"' << text << '"';
    EXPECT_EQ(parser.GetErrorMesToken(), nullptr);
  }
}

}  // namespace
