// Name check, message catalogs, error monitor and host-name lookup.
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/DravErrorMonitor.h"
#include "host/DravName.h"
#include "host/DravServerErrorText.h"
#include "host/DravVariable.h"
#include "host/SockAPIWrap.h"

namespace {

// ---- ValidateDRAVName --------------------------------------------------------

TEST(DravName, AcceptsLettersDigitsUnderscoresAndInnerPeriods) {
  const std::string longest(64, 'a');
  const char* valid[] = {"x", "income", "Q1_total", "a.b.c", "v2024", "caf\xC3\xA9",
                         "\xC3\xA9t\xC3\xA9", "\xCE\xB1\xCE\xB2_1", "ANDY", "too",
                         "x_", longest.c_str()};
  for (const char* name : valid) EXPECT_EQ(ValidateDRAVName(name), kDravNameValid) << name;
}

TEST(DravName, ReservedWordsGiveFiveInAnyCase) {
  const char* reserved[] = {"AND", "or", "Not", "eq", "NE", "lt", "LE", "gt", "GE", "to", "To"};
  for (const char* name : reserved) EXPECT_EQ(ValidateDRAVName(name), 5) << name;
}

TEST(DravName, OtherRefusalsGiveAnotherNonZeroCode) {
  const std::string tooLong(65, 'a');
  const char* refused[] = {"",      "1abc",     "_x",  ".x",    "a b",    "a-b",  "x.",
                           "a$",    "caf\xE9",  "\xE9", "a/b",  "\xC3",   "a=b",
                           tooLong.c_str()};
  for (const char* name : refused) {
    int code = ValidateDRAVName(name);
    EXPECT_NE(code, kDravNameValid) << name;
    EXPECT_NE(code, kDravNameReservedWord) << name;
  }
  EXPECT_NE(ValidateDRAVName(nullptr), kDravNameValid);
  EXPECT_EQ(ValidateDRAVName("x."), kDravNameEndsWithPeriod);
}

// ---- Variables -----------------------------------------------------------------

TEST(DravVariable, UpperCaseNameFollowsTheNameAndStaysPut) {
  DRAV_Variable variable(kFmtF);
  variable.SetName("caf\xC3\xA9_x");
  const char* upper = variable.GetUpperCaseName();
  EXPECT_STREQ(upper, "CAF\xC3\x89_X");
  EXPECT_STREQ(variable.GetName(), "caf\xC3\xA9_x");
  variable.SetFormat(kFmtDATETIME, 20, 0);
  variable.SetWriteFormat(kFmtF, 10, 2);
  EXPECT_EQ(variable.GetUpperCaseName(), upper);  // other setters leave the key alone
  DRAV_Variable::FormatType type;
  int width = 0, decimals = 0;
  variable.GetFormat(type, width, decimals);
  EXPECT_EQ(type, kFmtDATETIME);
  EXPECT_EQ(width, 20);
  variable.GetWriteFormat(type, width, decimals);
  EXPECT_EQ(type, kFmtF);
  EXPECT_EQ(decimals, 2);
}

// ---- Message catalogs --------------------------------------------------------

// Points the catalog lookup at a folder for one test and restores the
// default afterwards, so other tests see the real catalogs.
class CatalogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    DravServerErrorText::SetCatalogDir("");
    if (!dir_.empty()) {
      for (const std::string& file : files_) unlink((dir_ + "/" + file).c_str());
      rmdir(dir_.c_str());
    }
  }
  void UseTempCatalog(const std::string& file, const std::string& content) {
    char pattern[] = "/tmp/drav_catalog_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ + "/" + file, std::ios::binary) << content;
    files_.push_back(file);
    DravServerErrorText::SetCatalogDir(dir_);
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(CatalogTest, RealCatalogTextStartsWithTheIdentifier) {
  const std::string text = DravServerErrorText("korvel.err", 2255).GetText();
  EXPECT_EQ(text.rfind("[2255] ", 0), 0u) << text;
  EXPECT_NE(text.find("VARIABLES"), std::string::npos) << text;
  EXPECT_EQ(text.find("no text"), std::string::npos) << text;
}

TEST_F(CatalogTest, BothRealCatalogsAreFoundWithoutConfiguration) {
  for (const char* file : {"korvel.err", "talvex.err"}) {
    std::ifstream in(DravServerErrorText::CatalogDir() + "/" + file);
    EXPECT_TRUE(in.is_open()) << file << " in " << DravServerErrorText::CatalogDir();
  }
}

TEST_F(CatalogTest, MissingIdentifierStillGivesATextThatSaysSo) {
  DravServerErrorText lookup("korvel.err", 999999);
  ASSERT_NE(lookup.GetText(), nullptr);
  const std::string text = lookup.GetText();
  EXPECT_EQ(text.rfind("[999999] ", 0), 0u);
  EXPECT_NE(text.find("no text"), std::string::npos) << text;
}

TEST_F(CatalogTest, ReadsCommentsCrLfAndSkipsMalformedLines) {
  UseTempCatalog("test.err",
                 "# a comment line\r\n"
                 "100\tFirst message.\r\n"
                 "\r\n"
                 "12x\tnot an identifier\n"
                 "no tab at all\n"
                 "200\tSecond\twith a tab.\n"
                 "#300\tcommented out\n");
  EXPECT_STREQ(DravServerErrorText("test.err", 100).GetText(), "[100] First message.");
  EXPECT_STREQ(DravServerErrorText("test.err", 200).GetText(), "[200] Second\twith a tab.");
  const std::string commented = DravServerErrorText("test.err", 300).GetText();
  EXPECT_NE(commented.find("no text"), std::string::npos) << commented;
  const std::string partial = DravServerErrorText("test.err", 12).GetText();
  EXPECT_NE(partial.find("no text"), std::string::npos) << partial;
}

TEST_F(CatalogTest, UnreadableCatalogGivesATextThatSaysSo) {
  UseTempCatalog("other.err", "1\tx\n");
  const std::string text = DravServerErrorText("absent.err", 2255).GetText();
  EXPECT_EQ(text.rfind("[2255] ", 0), 0u);
  EXPECT_NE(text.find("could not be read"), std::string::npos) << text;
}

TEST_F(CatalogTest, RestoringTheDefaultFindsTheRealCatalogsAgain) {
  UseTempCatalog("korvel.err", "2255\tReplaced.\n");
  EXPECT_STREQ(DravServerErrorText("korvel.err", 2255).GetText(), "[2255] Replaced.");
  DravServerErrorText::SetCatalogDir("");
  EXPECT_STRNE(DravServerErrorText("korvel.err", 2255).GetText(), "[2255] Replaced.");
}

// ---- Error monitor -----------------------------------------------------------

std::vector<std::pair<std::string, int>>* g_delivered = nullptr;

void Collect(const char* text, int severity) { g_delivered->emplace_back(text, severity); }

TEST(DravErrorMonitor, DeliversEveryRecordInOrderWithItsSeverity) {
  std::vector<std::pair<std::string, int>> delivered;
  g_delivered = &delivered;
  {
    DravErrorMonitor monitor(&Collect);
    monitor.Report(ErrorText(ErrorString("[2276] first"), ErrorText::kWarning, 0));
    monitor.Report(ErrorText(ErrorString("[2275] second"), ErrorText::kWarning, 0));
    monitor.Report(ErrorText(ErrorString("[2255] refused"), ErrorText::kError, 0));
  }
  g_delivered = nullptr;
  const std::vector<std::pair<std::string, int>> expected = {
      {"[2276] first", 0}, {"[2275] second", 0}, {"[2255] refused", 1}};
  EXPECT_EQ(delivered, expected);
}

// ---- Host-name lookup --------------------------------------------------------

bool ResolvesToLoopback(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), "1", &hints, &found) != 0) return false;
  bool loopback = false;
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    char host[NI_MAXHOST];
    if (getnameinfo(ai->ai_addr, ai->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST) ==
        0) {
      const std::string numeric = host;
      loopback = loopback || numeric == "::1" || numeric.rfind("127.", 0) == 0;
    }
  }
  freeaddrinfo(found);
  return loopback;
}

TEST(SockAPIWrap, LocalhostStaysALoopbackName) {
  SockAPIWrap wrap(SockAPIWrap::kNoSsl);
  std::string canonical;
  EXPECT_EQ(wrap.GetCanonicalHostByName("localhost", canonical), 0);
  ASSERT_FALSE(canonical.empty());
  EXPECT_TRUE(ResolvesToLoopback(canonical)) << canonical;
}

TEST(SockAPIWrap, NameThatCannotBeLookedUpGivesAnErrorAndTheNameItself) {
  SockAPIWrap wrap(SockAPIWrap::kNoSsl);
  std::string canonical = "previous";
  EXPECT_NE(wrap.GetCanonicalHostByName("", canonical), 0);
  EXPECT_EQ(canonical, "");
  canonical = "previous";
  EXPECT_NE(wrap.GetCanonicalHostByName(nullptr, canonical), 0);
  EXPECT_EQ(canonical, "");
}

}  // namespace
