// Messages: texts from the catalogs with their limits and tokens, the
// pending error and the warning list.
#include <gtest/gtest.h>

#include <string>

#include "tests/parser/ParserTestSupport.h"

using parser_test::CatalogText;
using parser_test::MessageText;
using parser_test::PendingError;
using parser_test::Prefix;

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The text a parser posted: its one warning, or else its pending error.
std::string Posted(StreamParser& parser, bool warning) {
  if (!warning) return PendingError(parser);
  return parser.GetWarningList()->empty() ? "" : parser.GetWarningList()->back().Text().str();
}

struct PostedCase {
  unsigned int id;
  bool warning;
  const char* token;
  const char* limits;  // what the integer conversions become, in order
};

// Without it gtest prints the case as raw bytes, padding included, which
// was never written.
void PrintTo(const PostedCase& posted, std::ostream* out) { *out << posted.id; }

// Every message the parser and the entry post, with the token each gets.
const PostedCase kPosted[] = {
    {2254, false, "/", ""},          {2255, false, "/VARIABLES", ""}, {2256, false, "PIPE", ""},
    {2257, false, "/SOCKET", ""},    {2263, false, nullptr, ""},      {2263, false, "/tmp/p", ""},
    {2264, false, nullptr, ""},      {2265, false, "amount", ""},     {2267, false, "/", ""},
    {2267, false, "=", ""},          {2268, false, nullptr, ""},      {2272, false, "X", "64 64"},
    {2277, false, "TO", ""},         {2278, false, "1x", ""},         {2279, false, "/tmp/p", ""},
    {2280, false, "/tmp/r", ""},     {2281, false, "inet:h:1", ""},   {2271, true, "s", "32767"},
    {2273, true, "long_name", "64"}, {2274, true, "n", "40"},
};

class PostedMessage : public ::testing::TestWithParam<PostedCase> {};

TEST_P(PostedMessage, HasCatalogTextLimitsAndToken) {
  const PostedCase& c = GetParam();
  StreamParser parser("", nullptr);
  EXPECT_TRUE(parser.PostErrorMsg(c.id, c.token, c.warning));
  const std::string text = Posted(parser, c.warning);
  EXPECT_EQ(parser.GetWarningList()->size(), c.warning ? 1u : 0u);
  EXPECT_EQ(parser.GetErrorMesToken() == nullptr, c.warning);
  EXPECT_EQ(text.rfind(Prefix(c.id), 0), 0u) << text;
  EXPECT_EQ(text.find("has no text"), std::string::npos) << "catalog lacks " << c.id;
  EXPECT_EQ(text.find('%'), std::string::npos) << text;
  EXPECT_EQ(text, MessageText(c.id, c.token, c.warning, c.limits));
  EXPECT_EQ(parser.GetErrorMesID(), 2251u);
}

INSTANTIATE_TEST_SUITE_P(AllIdentifiers, PostedMessage, ::testing::ValuesIn(kPosted));

TEST(Messages, TokenIsAppendedAsGivenHoweverLong) {
  const std::string huge(5000, 'k');
  const struct {
    unsigned int id;
    bool warning;
    const char* token;
    std::string tail;  // how the text ends
  } cases[] = {
      {2264, false, nullptr, CatalogText(2264, false)},  // no token: nothing added
      {2264, false, "", CatalogText(2264, false) + " "},
      {2256, false, "100%", " 100%"},  // a "%" in a token is not a conversion
      {2272, false, "%d%s%n", " %d%s%n"},
      {2272, false, huge.c_str(), " " + huge},
      {2273, true, huge.c_str(), " " + huge},
      {4242, false, "tok", " tok"},  // not in the catalog: still a text
  };
  for (const auto& c : cases) {
    StreamParser parser("", nullptr);
    parser.PostErrorMsg(c.id, c.token, c.warning);
    const std::string text = Posted(parser, c.warning);
    EXPECT_EQ(text.rfind(Prefix(c.id), 0), 0u) << text;
    EXPECT_TRUE(EndsWith(text, c.tail)) << text.substr(0, 200);
  }
}

TEST(Messages, LaterErrorReplacesThePendingOneAndWarningsKeepTheirOrder) {
  StreamParser parser("", nullptr);
  EXPECT_EQ(parser.GetErrorMesToken(), nullptr);
  parser.PostErrorMsg(2254, "/", false);
  parser.PostErrorMsg(2274, "first", true);
  parser.PostErrorMsg(2256, "PIPE", false);
  parser.PostErrorMsg(2273, "second", true);
  parser.PostErrorMsg(2271, "third", true);
  EXPECT_EQ(PendingError(parser), MessageText(2256, "PIPE"));
  const ErrorTextList& warnings = *parser.GetWarningList();
  ASSERT_EQ(warnings.size(), 3u);
  const char* order[] = {" first", " second", " third"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(EndsWith(warnings[i].Text().str(), order[i]));
    EXPECT_EQ(warnings[i].Severity(), ErrorText::kWarning);
    EXPECT_EQ(warnings[i].Number(), 0);
  }
  parser.EmptyErrorTextList();
  EXPECT_TRUE(parser.GetWarningList()->empty());
}

}  // namespace
