// Whole commands as the entry builds them: what a host program reads after
// an accepted parse, and the one message (identifier and token) each refused
// command gets.
#include <gtest/gtest.h>

#include "tests/parser/ParserTestSupport.h"

using parser_test::Command;
using parser_test::MessageText;
using parser_test::ParseCommand;
using parser_test::PendingError;
using parser_test::Variables;

namespace {

struct Accepted {
  const char* label;
  std::string text;
  std::string name;  // "@" stands for the canonical local host name
  std::string rewindName;
  bool seek, socket;
  std::string variables;  // as parser_test::Variables shows them
  std::size_t warnings;
};

// GoogleTest would otherwise print the case as raw bytes, padding included,
// which memcheck reports as reads of uninitialised memory.
void PrintTo(const Accepted& accepted, std::ostream* out) { *out << accepted.label; }

class AcceptedCommand : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedCommand, GettersGiveWhatTheHostNeeds) {
  const Accepted& c = GetParam();
  int result = -1;
  auto parser = ParseCommand(c.text, &result);
  ASSERT_EQ(result, 0) << PendingError(*parser);
  EXPECT_EQ(parser->GetErrorMesToken(), nullptr);
  EXPECT_EQ(parser->GetWarningList()->size(), c.warnings);
  std::string name = c.name;
  if (std::string::size_type at = name.find('@'); at != std::string::npos)
    name.replace(at, 1, parser_test::CanonicalLocalHost());
  EXPECT_EQ(std::string(parser->GetName()), name);
  EXPECT_EQ(std::string(parser->GetName()), name) << "a second call must not prefix again";
  EXPECT_EQ(std::string(parser->GetRewindName()), c.rewindName);
  EXPECT_EQ(parser->GetRewSupport(), !c.rewindName.empty());
  EXPECT_EQ(parser->GetSeekFlag(), c.seek);
  EXPECT_EQ(parser->GetSockUse(), c.socket);
  EXPECT_EQ(Variables(*parser), c.variables);
  EXPECT_EQ(parser->GetVariable(parser->GetVarIndex()), nullptr);
}

const std::string kUtf8Name = [] {
  std::string word;
  for (int i = 0; i < 40; ++i) word += "é";  // 80 bytes
  return word;
}();

// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, AcceptedCommand, ::testing::Values(
    Accepted{"PipeWithThreeVariables",
             Command("PIPE = '/tmp/p' /VARIABLES = id F8 amount COMMA10.2 stamp DATETIME"),
             "/tmp/p", "", false, false, "id:5/8.0 amount:3/10.2 stamp:22/23.2", 0},
    Accepted{"RewindableSeekablePipe",
             Command("PIPE = '/tmp/data pipe' /REWINDABLE = '/tmp/rw' /SEEKABLE /VARIABLES = city A24 pop N10"),
             "/tmp/data pipe", "/tmp/rw", true, false, "city:1/24.0 pop:16/10.0", 0},
    Accepted{"KeywordsIgnoreCase",
             "get data /type = stream  /pipe = '/tmp/x' /Rewindable = '/tmp/r' /seekable /variables = a f8\n.",
             "/tmp/x", "/tmp/r", true, false, "a:5/8.0", 0},
    Accepted{"SeekableWithAValue", Command("PIPE = 'x' /REWINDABLE = 'r' /SEEKABLE = yes /VARIABLES = a F8"),
             "x", "r", true, false, "a:5/8.0", 0},
    // Written alone, REWINDABLE keeps the value of the subcommand before it.
    Accepted{"BareRewindableTakesThePreviousValue", Command("REWINDABLE /PIPE = 'x' /VARIABLES = a F8"),
             "x", "STREAM", false, false, "a:5/8.0", 0},
    Accepted{"SocketOnLocalHost", Command("SOCKET = 6000 /REWINDABLE /SEEKABLE /VARIABLES = t TIME x E"),
             "inet:@:6000", "rewindsupported", true, true, "t:21/11.2 x:17/13.5", 0},
    Accepted{"SocketRewindPathIsOnlyAMarker", Command("SOCKET = 5 /REWINDABLE = '/tmp/r' /VARIABLES = a F8"),
             "inet:@:5", "rewindsupported", false, true, "a:5/8.0", 0},
    Accepted{"SocketOnNamedHost", Command("SOCKET = 6000 /HOST = feeder.example /VARIABLES = when ADATE"),
             "inet:feeder.example:6000", "", false, true, "when:23/10.0", 0},
    Accepted{"SocketTakesItsFirstWordOnly", Command("SOCKET = 5000 6000 /HOST = h.example /VARIABLES = a F8"),
             "inet:h.example:5000", "", false, true, "a:5/8.0", 0},
    Accepted{"SecondHostReplacesTheFirst", Command("SOCKET = 7 /HOST = a.example /HOST = b.example /VARIABLES = a F8"),
             "inet:b.example:7", "", false, true, "a:5/8.0", 0},
    Accepted{"LocalhostIsLookedUp", Command("SOCKET = 1 /HOST = localhost /VARIABLES = a F8"),
             "inet:@:1", "", false, true, "a:5/8.0", 0},
    Accepted{"CapitalLocalhostIsNot", Command("SOCKET = 1 /HOST = LOCALHOST /VARIABLES = a F8"),
             "inet:LOCALHOST:1", "", false, true, "a:5/8.0", 0},
    Accepted{"InetValueIsUsedAsWritten", Command("SOCKET = inet:feeder:9000 /HOST = other /VARIABLES = a F8"),
             "inet:feeder:9000", "", false, true, "a:5/8.0", 0},
    Accepted{"EmptyVariableList", Command("PIPE = 'x' /VARIABLES = "), "x", "", false, false, "", 0},
    Accepted{"EntriesSpanLinesAndTabs", Command("PIPE = 'p' /VARIABLES =\n\tName A20\r\n  Ünïcode  8F\n"),
             "p", "", false, false, "Name:1/20.0 Ünïcode:5/8.0", 0},
    Accepted{"WordStartingWithFullStopEndsTheList", Command("PIPE = 'p' /VARIABLES = a F8 .b 1x"),
             "p", "", false, false, "a:5/8.0", 0},
    Accepted{"TextWithoutFinalFullStop", "GET DATA /TYPE = STREAM /PIPE = 'p' /VARIABLES = a F8 b A3",
             "p", "", false, false, "a:5/8.0 b:1/3.0", 0},
    Accepted{"LongUtf8NameIsCutBetweenCharacters", Command("PIPE = 'p' /VARIABLES = " + kUtf8Name + " F8"),
             "p", "", false, false, kUtf8Name.substr(0, 64) + ":5/8.0", 1}),
    [](const ::testing::TestParamInfo<Accepted>& info) { return std::string(info.param.label); });
// clang-format on

struct Refusal {
  const char* label;
  std::string text;
  unsigned int id;
  const char* token;  // null: the message has no token
  int variablesKept;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.label; }

class RefusedCommand : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedCommand, PostsExactlyItsMessage) {
  const Refusal& c = GetParam();
  int result = -1;
  auto parser = ParseCommand(c.text, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(PendingError(*parser), MessageText(c.id, c.token, false, c.id == 2272 ? "64 64" : ""));
  EXPECT_TRUE(parser->GetWarningList()->empty());
  EXPECT_EQ(parser->GetErrorMesID(), 2251u);
  EXPECT_EQ(parser->GetVarIndex(), c.variablesKept);
}

const std::string kLong(1100, ' ');
std::string Pipe(const std::string& variables) { return Command("PIPE = 'p' /VARIABLES = " + variables); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, RefusedCommand, ::testing::Values(
    Refusal{"NotGetData", "PUT DATA /TYPE = STREAM /PIPE = 'x' /VARIABLES = a F8\n.", 2263, nullptr, 0},
    Refusal{"EmptyText", "", 2263, nullptr, 0},
    Refusal{"NotTypeStream", "GET DATA /TYPE = FILE /PIPE = 'x' /VARIABLES = a F8\n.", 2264, nullptr, 0},
    Refusal{"FirstSubcommandNotType", "GET DATA /PIPE = 'x' /VARIABLES = a F8\n.", 2264, nullptr, 0},
    Refusal{"HeadOnly", "GET DATA", 2264, nullptr, 0},
    Refusal{"NoVariables", Command("SOCKET = 5 /HOST = h"), 2255, "/VARIABLES", 0},
    Refusal{"SocketThenPipe", Command("SOCKET = 5000 /PIPE = 'x' /VARIABLES = a F8"), 2257, "/PIPE", 0},
    Refusal{"PipeThenSocket", Command("PIPE = 'x' /SOCKET = 5000 /VARIABLES = a F8"), 2257, "/SOCKET", 0},
    Refusal{"PipeTwice", Command("PIPE = 'x' /PIPE = 'y' /VARIABLES = a F8"), 2257, "/PIPE", 0},
    Refusal{"RewindableTwice", Command("PIPE = 'x' /REWINDABLE = 'r' /REWINDABLE = 's' /VARIABLES = a F8"), 2257, "/REWINDABLE", 0},
    Refusal{"SeekableBeforeRewindable", Command("PIPE = 'x' /SeekAble /REWINDABLE = 'r' /VARIABLES = a F8"), 2256, "SeekAble", 0},
    Refusal{"PipeWithoutEquals", Command("PIPE 'x' /VARIABLES = a F8"), 2267, "=", 0},
    Refusal{"SocketWithoutEquals", Command("SOCKET 5000 /VARIABLES = a F8"), 2267, "=", 0},
    Refusal{"VariablesWithoutEquals", Command("PIPE = 'x' /VARIABLES a F8"), 2267, "=", 0},
    Refusal{"Delimiters", Command("PIPE = 'x' /DELIMITERS = x /VARIABLES = a F8"), 2256, "DELIMITERS", 0},
    Refusal{"QualifierLowerCase", Command("PIPE = 'x' /qualifier = x /VARIABLES = a F8"), 2256, "qualifier", 0},
    Refusal{"DelimitersEmptyValue", Command("PIPE = 'x' /DELIMITERS = /VARIABLES = a F8"), 2256, "DELIMITERS", 0},
    Refusal{"DelimitersWithoutEquals", Command("PIPE = 'x' /DELIMITERS /VARIABLES = a F8"), 2267, "=", 0},
    Refusal{"UnknownSubcommand", Command("PIPE = 'x' /COLOUR = red /VARIABLES = a F8"), 2256, "COLOUR", 0},
    Refusal{"SecondType", Command("PIPE = 'x' /TYPE = STREAM /VARIABLES = a F8"), 2256, "TYPE", 0},
    Refusal{"HostEmptyValue", Command("PIPE = 'x' /HOST = /VARIABLES = a F8"), 2256, "HOST", 0},
    Refusal{"EmptyPipePath", Command("PIPE = '' /VARIABLES = a F8"), 2256, "PIPE", 0},
    Refusal{"PipePathNotFollowedBySlash", Command("PIPE = 'x' y /VARIABLES = a F8"), 2256, "PIPE", 0},
    Refusal{"PipePathLast", Command("PIPE = 'x'") + " ", 2256, "PIPE", 0},
    Refusal{"PipePathLastBeforeTheFullStop", Command("PIPE = 'p'"), 2256, "PIPE", 0},
    Refusal{"TwoSlashes", Command("PIPE = 'x' //VARIABLES = a F8"), 2254, "/", 0},
    Refusal{"SlashAtEnd", "GET DATA /TYPE = STREAM  / ", 2254, "/", 0},
    Refusal{"EmptyName", Command("PIPE = 'x' / = 5 /VARIABLES = a F8"), 2268, nullptr, 0},
    Refusal{"SubcommandCutAfter1022Bytes", Command("HOST = h" + kLong + "x/PIPE = 'x' /VARIABLES = a F8"), 2267, "/", 0},
    // Later subcommands would post other errors: the first refusal stops the parse.
    Refusal{"RefusalStopsTheParse", Command("PIPE = 'x' /BOGUS = 1 /PIPE = 'y' /VARIABLES = 1a F8"), 2256, "BOGUS", 0},
    Refusal{"DuplicateIgnoringCase", Pipe("x F8 X F8"), 2272, "X", 1},
    Refusal{"DuplicateLater", Pipe("a F8 b F8 c A2 B F8"), 2272, "B", 3},
    Refusal{"ReservedWord", Pipe("a F8 To F8"), 2277, "To", 1},
    Refusal{"StartsWithDigit", Pipe("1abc F8"), 2278, "1abc", 0},
    Refusal{"EndsWithPeriod", Pipe("a. F8"), 2278, "a.", 0},
    Refusal{"StartsWithUnderscore", Pipe("_x F8"), 2278, "_x", 0},
    Refusal{"NameWithoutFormat", Pipe("a F8 last"), 2265, "last", 1},
    Refusal{"FormatTooWide", Pipe("a F41"), 2265, "a", 0},
    Refusal{"FormatInParentheses", Pipe("a (F8.2)"), 2265, "a", 0},
    Refusal{"BareWidth", Pipe("a 8 X"), 2265, "a", 0}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.label); });
// clang-format on

TEST(Subcommands, OneSubcommandAtATimeEndsAtTheEndOfTheCommand) {
  char name[StreamParser::kBufferSize] = "";
  char value[StreamParser::kBufferSize] = "";
  for (const char* text : {"", "   ", " \n.", "."}) {
    StreamParser parser(text, nullptr);
    EXPECT_EQ(parser.ParseSubCommand(name, value), 1) << '"' << text << '"';
    EXPECT_EQ(parser.GetErrorMesToken(), nullptr);
  }
  StreamParser noSlash("  x = 1", nullptr);
  EXPECT_EQ(noSlash.ParseSubCommand(name, value), 2);
  EXPECT_EQ(PendingError(noSlash), MessageText(2267, "/"));
}

}  // namespace
