// Name check, message catalogs, error monitor and host-name lookup.
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/DravErrorMonitor.h"
#include "host/DravName.h"
#include "host/DravServerErrorText.h"
#include "host/DravVariable.h"
#include "host/SockAPIWrap.h"
#include "tests/support/TempDir.h"

namespace {

// ---- ValidateDRAVName --------------------------------------------------------

TEST(DravName, ReservedWordsGiveFiveOtherRefusalsAnotherCode) {
  constexpr int kOther = -1;  // any refusal but the two named ones
  const std::string longest(64, 'a'), tooLong(65, 'a');
  const struct {
    const char* name;
    int code;
  } cases[] = {
      {"x", kDravNameValid}, {"Q1_total", kDravNameValid}, {"a.b.c", kDravNameValid},
      {"caf\xC3\xA9", kDravNameValid}, {"\xCE\xB1\xCE\xB2_1", kDravNameValid}, {"ANDY", kDravNameValid},
      {"too", kDravNameValid}, {"x_", kDravNameValid}, {longest.c_str(), kDravNameValid},
      {"AND", 5}, {"or", 5}, {"Not", 5}, {"eq", 5}, {"NE", 5}, {"lt", 5}, {"LE", 5}, {"gt", 5}, {"GE", 5}, {"To", 5},
      {"x.", kDravNameEndsWithPeriod},
      {"", kOther}, {"1abc", kOther}, {"_x", kOther}, {".x", kOther}, {"a b", kOther}, {"a-b", kOther},
      {"a$", kOther}, {"caf\xE9", kOther}, {"\xE9", kOther}, {"a/b", kOther}, {"\xC3", kOther}, {"a=b", kOther},
      {tooLong.c_str(), kOther}, {nullptr, kOther},
  };
  for (const auto& c : cases) {
    const int code = ValidateDRAVName(c.name);
    const char* shown = c.name ? c.name : "(null)";
    if (c.code != kOther) {
      EXPECT_EQ(code, c.code) << shown;
    } else {
      EXPECT_NE(code, kDravNameValid) << shown;
      EXPECT_NE(code, kDravNameReservedWord) << shown;
    }
  }
}

// ---- Variables -----------------------------------------------------------------

TEST(DravVariable, UpperCaseNameFollowsTheNameAndStaysPut) {
  DRAV_Variable variable(kFmtF);
  variable.SetName("caf\xC3\xA9_x");
  const char* upper = variable.GetUpperCaseName();
  EXPECT_STREQ(upper, "CAF\xC3\x89_X");
  EXPECT_STREQ(variable.GetName(), "caf\xC3\xA9_x");
  variable.SetFormat(kFmtDATETIME, 20, 0);
  EXPECT_EQ(variable.GetUpperCaseName(), upper) << "other setters leave the key alone";
}

// ---- Message catalogs --------------------------------------------------------

// Points the catalog lookup at a folder for one test and restores the
// default afterwards, so other tests see the real catalogs.
class CatalogTest : public ::testing::Test {
 protected:
  void TearDown() override { DravServerErrorText::SetCatalogDir(""); }
  void UseTempCatalog(const std::string& file, const std::string& content) {
    dir_.WriteFile(file, content);
    DravServerErrorText::SetCatalogDir(dir_.Path());
  }
  drav::test::TempDir dir_;
};

TEST_F(CatalogTest, RealCatalogsAreFoundWithoutConfiguration) {
  for (const char* file : {"korvel.err", "talvex.err"}) {
    std::ifstream in(DravServerErrorText::CatalogDir() + "/" + file);
    EXPECT_TRUE(in.is_open()) << file << " in " << DravServerErrorText::CatalogDir();
  }
  const std::string text = DravServerErrorText("korvel.err", 2255).GetText();
  EXPECT_EQ(text.rfind("[2255] ", 0), 0u) << text;
  EXPECT_NE(text.find("VARIABLES"), std::string::npos) << text;
  const std::string missing = DravServerErrorText("korvel.err", 999999).GetText();
  EXPECT_EQ(missing.rfind("[999999] ", 0), 0u);
  EXPECT_NE(missing.find("no text"), std::string::npos) << missing;
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

TEST_F(CatalogTest, UnreadableCatalogSaysSoAndTheDefaultComesBack) {
  UseTempCatalog("korvel.err", "2255\tReplaced.\n");
  EXPECT_STREQ(DravServerErrorText("korvel.err", 2255).GetText(), "[2255] Replaced.");
  const std::string text = DravServerErrorText("absent.err", 2255).GetText();
  EXPECT_EQ(text.rfind("[2255] ", 0), 0u);
  EXPECT_NE(text.find("could not be read"), std::string::npos) << text;
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

TEST(SockAPIWrap, LocalhostStaysALoopbackNameAndNoNameGivesAnError) {
  SockAPIWrap wrap(SockAPIWrap::kNoSsl);
  std::string canonical;
  EXPECT_EQ(wrap.GetCanonicalHostByName("localhost", canonical), 0);
  EXPECT_TRUE(ResolvesToLoopback(canonical)) << canonical;
  for (const char* name : {"", static_cast<const char*>(nullptr)}) {
    canonical = "previous";
    EXPECT_NE(wrap.GetCanonicalHostByName(name, canonical), 0);
    EXPECT_EQ(canonical, "");
  }
}

}  // namespace
