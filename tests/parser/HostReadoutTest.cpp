// What a host program reads after ParseToExecutor, for complete commands as
// the entry builds them.
#include <gtest/gtest.h>

#include <string>

#include "tests/parser/ParserTestSupport.h"

using parser_test::MessageText;
using parser_test::ParseCommand;
using parser_test::PendingError;

namespace {

struct VariableReadout {
  std::string name;
  int type, width, decimals;
};

struct Readout {
  const char* label;
  std::string text;
  int result;
  std::string error;  // empty when accepted
  std::size_t warnings;
  std::string name;  // "@" stands for the canonical local host name
  std::string rewindName;
  bool seek, socket;
  std::vector<VariableReadout> variables;
};

// Without it gtest prints the case as raw bytes, padding and the unused
// parts of short strings included, which were never written.
void PrintTo(const Readout& readout, std::ostream* out) { *out << readout.label; }

class HostReadout : public ::testing::TestWithParam<Readout> {};

TEST_P(HostReadout, GettersGiveWhatTheHostNeeds) {
  const Readout& c = GetParam();
  int result = -1;
  auto parser = ParseCommand(c.text, &result);
  ASSERT_EQ(result, c.result);
  EXPECT_EQ(PendingError(*parser), c.error);
  EXPECT_EQ(parser->GetWarningList()->size(), c.warnings);
  if (result != 0) return;
  std::string name = c.name;
  if (std::string::size_type at = name.find('@'); at != std::string::npos) {
    name.replace(at, 1, parser_test::CanonicalLocalHost());
  }
  EXPECT_EQ(std::string(parser->GetName()), name);
  EXPECT_EQ(std::string(parser->GetRewindName()), c.rewindName);
  EXPECT_EQ(parser->GetSeekFlag(), c.seek);
  EXPECT_EQ(parser->GetSockUse(), c.socket);
  ASSERT_EQ(parser->GetVarIndex(), static_cast<int>(c.variables.size()));
  for (std::size_t i = 0; i < c.variables.size(); ++i) {
    DRAV_Variable* variable = parser->GetVariable(static_cast<int>(i));
    DRAV_Variable::FormatType type;
    int width, decimals;
    variable->GetFormat(type, width, decimals);
    EXPECT_EQ(variable->GetName(), c.variables[i].name);
    EXPECT_EQ(static_cast<int>(type), c.variables[i].type) << c.variables[i].name;
    EXPECT_EQ(width, c.variables[i].width) << c.variables[i].name;
    EXPECT_EQ(decimals, c.variables[i].decimals) << c.variables[i].name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HostReadout,
    ::testing::Values(
        Readout{"PipeWithThreeVariables",
                "GET DATA /TYPE = STREAM  /PIPE = '/tmp/p' /VARIABLES = id F8 amount COMMA10.2 "
                "stamp DATETIME\n.",
                0,
                "",
                0,
                "/tmp/p",
                "",
                false,
                false,
                {{"id", 5, 8, 0}, {"amount", 3, 10, 2}, {"stamp", 22, 23, 2}}},
        Readout{"RewindableSeekablePipe",
                "GET DATA /TYPE = STREAM  /PIPE = '/tmp/data pipe' /REWINDABLE = '/tmp/rw' "
                "/SEEKABLE /VARIABLES = city A24 pop N10\n.",
                0,
                "",
                0,
                "/tmp/data pipe",
                "/tmp/rw",
                true,
                false,
                {{"city", 1, 24, 0}, {"pop", 16, 10, 0}}},
        Readout{"SocketOnLocalHost",
                "GET DATA /TYPE = STREAM  /SOCKET = 6000 /REWINDABLE /SEEKABLE /VARIABLES = t "
                "TIME x E\n.",
                0,
                "",
                0,
                "inet:@:6000",
                "rewindsupported",
                true,
                true,
                {{"t", 21, 11, 2}, {"x", 17, 13, 5}}},
        Readout{"SocketOnNamedHost",
                "GET DATA /TYPE = STREAM  /SOCKET = 6000 /HOST = feeder.example /VARIABLES = "
                "when ADATE\n.",
                0,
                "",
                0,
                "inet:feeder.example:6000",
                "",
                false,
                true,
                {{"when", 23, 10, 0}}},
        Readout{"LongNameWarns",
                "GET DATA /TYPE = STREAM  /PIPE = 'p' /VARIABLES = " + std::string(70, 'q') +
                    " F8.2\n.",
                0,
                "",
                1,
                "p",
                "",
                false,
                false,
                {{std::string(64, 'q'), 5, 8, 2}}},
        Readout{"RefusedStream",
                "GET DATA /TYPE = STREAM  /PIPE = 'p' /SOCKET = 1 /VARIABLES = id F8\n.",
                1,
                MessageText(2257, "/SOCKET"),
                0,
                "",
                "",
                false,
                false,
                {}}),
    [](const ::testing::TestParamInfo<Readout>& info) { return std::string(info.param.label); });

}  // namespace
