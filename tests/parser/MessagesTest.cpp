// Messages: texts from the catalogs, tokens, the pending error and the
// warning list.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/parser/ParserTestSupport.h"

using parser_test::CatalogText;
using parser_test::MessageText;
using parser_test::PendingError;
using parser_test::Prefix;

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
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
  std::string text;
  if (c.warning) {
    ASSERT_EQ(parser.GetWarningList()->size(), 1u);
    text = parser.GetWarningList()->front().Text().str();
    EXPECT_EQ(parser.GetErrorMesToken(), nullptr);
  } else {
    text = PendingError(parser);
    EXPECT_TRUE(parser.GetWarningList()->empty());
  }
  EXPECT_EQ(text.rfind(Prefix(c.id), 0), 0u) << text;
  EXPECT_EQ(text.find("has no text"), std::string::npos) << "catalog lacks " << c.id;
  EXPECT_EQ(text.find('%'), std::string::npos) << text;
  if (c.token != nullptr) {
    EXPECT_TRUE(EndsWith(text, std::string(" ") + c.token)) << text;
  }
  if (*c.limits == '\0') {
    EXPECT_EQ(text, MessageText(c.id, c.token, c.warning));
  } else {
    std::string catalog = CatalogText(c.id, c.warning);
    std::istringstream limits(c.limits);
    std::string::size_type from = 0;
    for (std::string limit; limits >> limit;) {
      std::string::size_type at = catalog.find("%d", from);
      ASSERT_NE(at, std::string::npos) << "the catalog text of " << c.id << " needs its %d";
      catalog.replace(at, 2, limit);
      from = at + limit.size();
    }
    EXPECT_EQ(text, catalog + " " + c.token);
  }
  EXPECT_EQ(parser.GetErrorMesID(), 2251u);
}

INSTANTIATE_TEST_SUITE_P(AllIdentifiers, PostedMessage, ::testing::ValuesIn(kPosted));

TEST(Messages, NullTokenAddsNothingEmptyTokenAddsABlank) {
  StreamParser parser("", nullptr);
  parser.PostErrorMsg(2264, nullptr, false);
  EXPECT_EQ(PendingError(parser), CatalogText(2264, false));
  parser.PostErrorMsg(2264, "", false);
  EXPECT_EQ(PendingError(parser), CatalogText(2264, false) + " ");
}

TEST(Messages, PercentInATokenIsKeptLiterally) {
  StreamParser parser("", nullptr);
  parser.PostErrorMsg(2272, "%d%s%n", false);
  EXPECT_TRUE(EndsWith(PendingError(parser), " %d%s%n"));
  parser.PostErrorMsg(2256, "100%", false);
  EXPECT_EQ(PendingError(parser), MessageText(2256, "100%"));
}

TEST(Messages, LaterErrorReplacesThePendingOne) {
  StreamParser parser("", nullptr);
  EXPECT_EQ(parser.GetErrorMesToken(), nullptr);
  EXPECT_EQ(parser.GetErrorMesID(), 2251u);
  parser.PostErrorMsg(2254, "/", false);
  parser.PostErrorMsg(2256, "HOST", false);
  EXPECT_EQ(PendingError(parser), MessageText(2256, "HOST"));
  EXPECT_TRUE(parser.GetWarningList()->empty());
}

TEST(Messages, WarningsKeepTheirOrderAndLeaveTheErrorAlone) {
  StreamParser parser("", nullptr);
  parser.PostErrorMsg(2256, "PIPE", false);
  parser.PostErrorMsg(2274, "first", true);
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
  parser.EmptyErrorTextList();
  EXPECT_TRUE(parser.GetWarningList()->empty());
}

TEST(Messages, LongMessageIsKeptWhole) {
  StreamParser parser("", nullptr);
  const std::string token(5000, 'k');
  parser.PostErrorMsg(2272, token.c_str(), false);
  EXPECT_TRUE(EndsWith(PendingError(parser), " " + token));
  parser.PostErrorMsg(2273, token.c_str(), true);
  EXPECT_TRUE(EndsWith(parser.GetWarningList()->back().Text().str(), " " + token));
}

TEST(Messages, IdentifierMissingFromTheCatalogStillGivesAText) {
  StreamParser parser("", nullptr);
  parser.PostErrorMsg(4242, "tok", false);
  std::string text = PendingError(parser);
  EXPECT_EQ(text.rfind(Prefix(4242), 0), 0u);
  EXPECT_TRUE(EndsWith(text, " tok"));
}

}  // namespace
