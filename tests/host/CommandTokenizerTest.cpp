// The host tokenizer, the token source and the reference command adapter
// (the entry tests use the adapter's token source and callback).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"

namespace {

constexpr int W = DACTokenSource::kWord;
constexpr int S = DACTokenSource::kSlash;
constexpr int E = DACTokenSource::kEquals;
constexpr int Q = DACTokenSource::kString;

using Tokens = std::vector<std::pair<std::string, int>>;

Tokens Flatten(const TokenizeResult& result) {
  Tokens out;
  for (const CommandToken& token : result.tokens) out.emplace_back(token.text, token.kind);
  return out;
}

struct TokenizeCase {
  const char* name;
  std::string text;
  Tokens expected;
};

TEST(CommandTokenizer, SplitsCommandsIntoTheExpectedTokens) {
  const TokenizeCase cases[] = {
      {"plain head", "GET DATA /TYPE = STREAM /PIPE = '/tmp/p'.",
       {{"PIPE", W}, {"=", E}, {"/tmp/p", Q}}},
      {"lower case, no blanks", "get data/type=stream/socket=5000.",
       {{"socket", W}, {"=", E}, {"5000", W}}},
      {"mixed case, extra blanks and line breaks", "  Get\tData \r\n / Type =\n Stream  /  X .",
       {{"X", W}}},
      {"double quotes", "GET DATA /TYPE=STREAM /PIPE=\"a b\".", {{"PIPE", W}, {"=", E}, {"a b", Q}}},
      {"doubled single quote", "GET DATA /TYPE=STREAM /PIPE='it''s'.",
       {{"PIPE", W}, {"=", E}, {"it's", Q}}},
      {"doubled double quote", "GET DATA /TYPE=STREAM /PIPE=\"say \"\"hi\"\"\".",
       {{"PIPE", W}, {"=", E}, {"say \"hi\"", Q}}},
      {"other quote inside", "GET DATA /TYPE=STREAM /PIPE=\"it's\".",
       {{"PIPE", W}, {"=", E}, {"it's", Q}}},
      {"empty quotes", "GET DATA /TYPE=STREAM /PIPE=''.", {{"PIPE", W}, {"=", E}, {"", Q}}},
      {"formats and numbers are single tokens",
       "GET DATA /TYPE=STREAM /VARIABLES = a F8.2 b 8F c COMMA10.2 d -5 e 5000.",
       {{"VARIABLES", W}, {"=", E}, {"a", W}, {"F8.2", W}, {"b", W}, {"8F", W}, {"c", W},
        {"COMMA10.2", W}, {"d", W}, {"-5", W}, {"e", W}, {"5000", W}}},
      {"word ends at a quote", "GET DATA /TYPE=STREAM /A'b'c.", {{"A", W}, {"b", Q}, {"c", W}}},
      {"slash and equals stand alone", "GET DATA /TYPE=STREAM /a/=b==.",
       {{"a", W}, {"/", S}, {"=", E}, {"b", W}, {"=", E}, {"=", E}}},
      {"full stop after a format", "GET DATA /TYPE=STREAM /VARIABLES=x F8.2.",
       {{"VARIABLES", W}, {"=", E}, {"x", W}, {"F8.2", W}}},
      {"full stop followed by blanks", "GET DATA /TYPE=STREAM /VARIABLES=x A8 . \n\t ",
       {{"VARIABLES", W}, {"=", E}, {"x", W}, {"A8", W}}},
      {"inner periods are kept", "GET DATA /TYPE=STREAM /VARIABLES=x.y F8.",
       {{"VARIABLES", W}, {"=", E}, {"x.y", W}, {"F8", W}}},
      {"no full stop", "GET DATA /TYPE=STREAM /VARIABLES=x F8.2",
       {{"VARIABLES", W}, {"=", E}, {"x", W}, {"F8.2", W}}},
      {"full stop inside quotes stays", "GET DATA /TYPE=STREAM /PIPE='a.'.",
       {{"PIPE", W}, {"=", E}, {"a.", Q}}},
      {"UTF-8 in words and strings", "GET DATA /TYPE=STREAM /VARIABLES=caf\xC3\xA9 '\xC3\xA9'.",
       {{"VARIABLES", W}, {"=", E}, {"caf\xC3\xA9", W}, {"\xC3\xA9", Q}}},
      {"no subcommands", "GET DATA /TYPE = STREAM.", {}},
      {"only a slash", "GET DATA /TYPE = STREAM /.", {}},
  };
  for (const TokenizeCase& c : cases) {
    TokenizeResult result = TokenizeStreamCommand(c.text);
    EXPECT_TRUE(result.ok) << c.name << ": " << result.error;
    EXPECT_EQ(Flatten(result), c.expected) << c.name;
  }
}

struct ErrorCase {
  const char* name;
  std::string text;
  const char* mentions;  // a word the error sentence must contain
};

TEST(CommandTokenizer, RefusesTextsThatAreNotStreamCommandsWithAClearSentence) {
  const ErrorCase cases[] = {
      {"empty", "", "GET DATA /TYPE = STREAM"},
      {"other type", "GET DATA /TYPE = TXT /FILE='x'.", "GET DATA /TYPE = STREAM"},
      {"other command", "FREQUENCIES x.", "GET DATA /TYPE = STREAM"},
      {"run-together keywords", "GETDATA /TYPE=STREAM /X.", "GET DATA /TYPE = STREAM"},
      {"longer keyword", "GET DATA /TYPE=STREAMS /X.", "GET DATA /TYPE = STREAM"},
      {"missing slash", "GET DATA TYPE=STREAM /X.", "GET DATA /TYPE = STREAM"},
      {"no slash after head", "GET DATA /TYPE=STREAM PIPE='x'.", "slash"},
      {"unterminated single quote", "GET DATA /TYPE=STREAM /PIPE='abc.", "single quote"},
      {"unterminated double quote", "GET DATA /TYPE=STREAM /PIPE=\"abc\"\".", "double quote"},
      {"where the quote starts", "GET DATA /TYPE=STREAM /PIPE='abc", "character 29"},
  };
  for (const ErrorCase& c : cases) {
    TokenizeResult result = TokenizeStreamCommand(c.text);
    EXPECT_FALSE(result.ok) << c.name;
    EXPECT_TRUE(result.tokens.empty()) << c.name;
    EXPECT_NE(result.error.find(c.mentions), std::string::npos) << c.name << ": " << result.error;
    ASSERT_FALSE(result.error.empty()) << c.name;
    EXPECT_EQ(result.error.back(), '.') << c.name << ": a sentence ends with a full stop";
  }
}

// ---- Token source -------------------------------------------------------------

Tokens Drain(DACTokenSource& source) {
  // As a plug-in does: the first token without asking, then ask after each.
  Tokens out;
  do {
    const char* text = nullptr;
    unsigned int length = 12345;
    source.NextToken(&text, &length);
    out.push_back({std::string(text, length), source.TokenKind()});
  } while (source.HasMoreTokens() && out.size() < 100);
  return out;
}

TEST(CommandTokenSource, HandsOutEveryTokenWithItsKindInOrder) {
  TokenizeResult result = TokenizeStreamCommand("GET DATA /TYPE=STREAM /PIPE='a b' /X=1.");
  ASSERT_TRUE(result.ok);
  CommandTokenSource source(result.tokens);
  const Tokens expected = {{"PIPE", W}, {"=", E}, {"a b", Q}, {"/", S},
                                        {"X", W},    {"=", E}, {"1", W}};
  EXPECT_EQ(Drain(source), expected);
}

TEST(CommandTokenSource, EmptyListHandsOutEmptyTokensEvenPastTheEnd) {
  CommandTokenSource source({});
  const Tokens one = {{"", source.TokenKind()}};
  EXPECT_EQ(Drain(source), one);
  EXPECT_FALSE(source.HasMoreTokens());
  const char* text = nullptr;
  unsigned int length = 7;
  source.NextToken(&text, &length);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(length, 0u);
}

TEST(CommandTokenSource, OverlongTokenIsCutAtACharacterBoundaryWithin1023Bytes) {
  std::string longWord = "a";
  while (longWord.size() < 2000) longWord += "\xC3\xA9";  // "a" then é é é ...
  CommandTokenSource source({{longWord, W}});
  const char* text = nullptr;
  unsigned int length = 0;
  source.NextToken(&text, &length);
  EXPECT_LE(length, 1023u);
  EXPECT_GE(length, 1022u);
  EXPECT_EQ(length % 2, 1u) << "the cut must not split the two bytes of an é";
}

// ---- Command adapter ------------------------------------------------------------

TEST(CommandAdapter, ExpandsHomeOnlyInUnquotedNames) {
  CommandAdapter adapter({}, nullptr);
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    EXPECT_EQ(adapter.ResolveFileSpec("~/pipe", true), std::string(home) + "/pipe");
  }
  EXPECT_EQ(adapter.ResolveFileSpec("~/pipe", false), "~/pipe");
  EXPECT_EQ(adapter.ResolveFileSpec("/tmp/~/p", true), "/tmp/~/p");
  EXPECT_EQ(adapter.ResolveFileSpec("~user/p", true), "~user/p");
  EXPECT_EQ(adapter.ResolveFileSpec("", true), "");
}

}  // namespace
