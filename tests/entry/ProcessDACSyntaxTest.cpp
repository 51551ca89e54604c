// The entry point end to end: host tokenizer, command adapter, parser, a
// real feeder, the registry and the messages the host's callback receives.
// Accepted pipe commands, and missing and hostile pipe paths (2279, 2280),
// are in tests/hostile.
#include <gtest/gtest.h>

#include <string>

#include "host/DravServerErrorText.h"
#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

class EntryTest : public testing::Test {
 protected:
  void SetUp() override {
    DravServerErrorText::SetCatalogDir(DRAV_SOURCE_DIR "/catalogs");
    ServerDataManager::GetInstance().ReleaseAll();
  }
  void TearDown() override { ServerDataManager::GetInstance().ReleaseAll(); }
  // The one message a run gave, which must be an error holding `mentions`.
  static void ExpectOneError(const HostRun& run, const std::string& id, const std::string& mentions) {
    EXPECT_FALSE(run.accepted);
    EXPECT_EQ(run.source, nullptr);
    EXPECT_EQ(ServerDataManager::GetInstance().Count(), 0u);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0].second, 1);
    EXPECT_NE(run.messages[0].first.find(id), std::string::npos) << run.messages[0].first;
    EXPECT_NE(run.messages[0].first.find(mentions), std::string::npos) << run.messages[0].first;
  }

  Watchdog watchdog_{60, "entry test"};
  TempDir dir_;
};

TEST_F(EntryTest, WarningsOfAnAcceptedCommandReachTheHostAfterRegistration) {
  auto feeder = TestFeeder::OverSocket(TestRecords(1));
  const std::string port = feeder->StreamName().substr(feeder->StreamName().rfind(':') + 1);
  const std::string longName(70, 'v');
  HostRun run = RunHostCommand("GET DATA /TYPE = STREAM /SOCKET = " + port + " /HOST = '127.0.0.1' /VARIABLES = " +
                               longName + " F8.2 s A4.");
  ASSERT_TRUE(run.accepted);
  EXPECT_NE(run.source, nullptr);
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].second, 0);
  EXPECT_NE(run.messages[0].first.find("[2273]"), std::string::npos) << run.messages[0].first;
}

TEST_F(EntryTest, UnreachableSocketReports2281WithTheStreamName) {
  std::string port;
  {
    auto feeder = TestFeeder::OverSocket({});
    port = feeder->StreamName().substr(feeder->StreamName().rfind(':') + 1);
  }  // the port is closed again
  ExpectOneError(RunHostCommand("GET DATA /TYPE = STREAM /SOCKET = " + port +
                                " /HOST = '127.0.0.1' /VARIABLES = n F8.2."),
                 "[2281]", "inet:127.0.0.1:" + port);
}

TEST_F(EntryTest, RefusedCommandReportsExactlyOneErrorAndNoWarnings) {
  const std::string longName(70, 'v');
  ExpectOneError(RunHostCommand("GET DATA /TYPE = STREAM /PIPE = '/tmp/x' /VARIABLES = " + longName + " F8.2 " +
                                longName + " F8.2."),
                 "[2272]", std::string(64, 'v'));
}

}  // namespace
}  // namespace test
}  // namespace drav
