// Rebuilding the command text from the host's tokens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry/CommandTextBuilder.h"
#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"

namespace {

using drav::entry::RebuildCommandText;

constexpr int W = DACTokenSource::kWord;
constexpr int S = DACTokenSource::kString;

std::vector<CommandToken> Words(std::initializer_list<const char*> words) {
  std::vector<CommandToken> tokens;
  for (const char* w : words) {
    std::string t = w;
    int kind = t == "/" ? DACTokenSource::kSlash : t == "=" ? DACTokenSource::kEquals : W;
    tokens.push_back({t, kind});
  }
  return tokens;
}

std::string Rebuild(std::vector<CommandToken> tokens) {
  CommandTokenSource source(std::move(tokens));
  return RebuildCommandText(source);
}

const std::string kHead = "GET DATA /TYPE = STREAM  /";

struct RebuildCase {
  const char* name;
  std::vector<CommandToken> tokens;
  std::string body;  // the text between the head and "\n."
};

// Without it gtest prints the case as raw bytes, among them the unused part
// of a short string's inline buffer, which was never written.
void PrintTo(const RebuildCase& rebuildCase, std::ostream* out) { *out << rebuildCase.name; }

class RebuildTest : public testing::TestWithParam<RebuildCase> {};

TEST_P(RebuildTest, PutsBackBlanksAndQuotes) {
  EXPECT_EQ(Rebuild(GetParam().tokens), kHead + GetParam().body + "\n.");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RebuildTest,
    testing::Values(
        RebuildCase{"PipeValueQuotedMinusGlued",
                    Words({"PIPE", "=", "P", "/", "VARIABLES", "=", "a", "1", "-5"}),
                    "PIPE = 'P' /VARIABLES = a 1-5"},
        RebuildCase{"LowerCasePipeRecognised", Words({"pipe", "=", "/tmp/x"}), "pipe = '/tmp/x'"},
        RebuildCase{"PipeStringValueSingleQuotedWhateverKind",
                    {{"PIPE", W}, {"=", 3}, {"/tmp/a b", S}},
                    "PIPE = '/tmp/a b'"},
        RebuildCase{"OnlyFirstTokenAfterPipeEqualsQuoted",
                    Words({"PIPE", "=", "P", "SEEKABLE"}), "PIPE = 'P' SEEKABLE"},
        RebuildCase{"StreamStringLiteralDoubleQuotedNoBlanks",
                    {{"X", W}, {"STREAM", W}, {"=", 3}, {"T", S}, {"Y", W}},
                    "X STREAM=\"T\" Y"},
        RebuildCase{"StreamLiteralWithDoubleQuoteSingleQuoted",
                    {{"STREAM", W}, {"=", 3}, {"a\"b", S}},
                    "STREAM='a\"b'"},
        RebuildCase{"StreamWordValueNotQuoted", Words({"STREAM", "=", "T"}), "STREAM=T"},
        RebuildCase{"VariablesAfterEqualsIsNoKeyword",
                    {{"A", W}, {"=", 3}, {"VARIABLES", W}, {"STREAM", W}, {"=", 3}, {"T", S}},
                    "A = VARIABLES STREAM=\"T\""},
        RebuildCase{"StreamAfterVariablesIsOrdinary",
                    {{"VARIABLES", W}, {"=", 3}, {"STREAM", W}, {"=", 3}, {"T", S}},
                    "VARIABLES = STREAM = T"},
        RebuildCase{"NoBlankAfterSlash", Words({"SEEKABLE", "/", "REWINDABLE"}), "SEEKABLE /REWINDABLE"},
        RebuildCase{"EmptyTokenSource", {}, ""}),
    [](const testing::TestParamInfo<RebuildCase>& info) { return std::string(info.param.name); });

TEST(RebuildLimitTest, LongTokenIsCutAt1023BytesOnACharacterBoundary) {
  // 1022 ASCII bytes and then a two-byte character that would straddle the cut.
  std::string token(1022, 'a');
  token += "\xC3\xA9tail";
  std::string text = Rebuild({{token, W}});
  EXPECT_EQ(text, kHead + std::string(1022, 'a') + "\n.");
  std::string exact(1500, 'b');
  EXPECT_EQ(Rebuild({{exact, W}}), kHead + std::string(1023, 'b') + "\n.");
}

TEST(RebuildLimitTest, TokensFromTheHostTokenizerRebuildAParsableCommand) {
  TokenizeResult result = TokenizeStreamCommand(
      "get data /type = stream /pipe = '/tmp/my pipe' /variables = a F8.2 b A20.");
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(Rebuild(result.tokens),
            kHead + "pipe = '/tmp/my pipe' /variables = a F8.2 b A20\n.");
}

}  // namespace
