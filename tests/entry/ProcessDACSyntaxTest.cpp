// The entry point end to end: host tokenizer, command adapter, parser, a
// real feeder, the registry and the messages the host's callback receives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"
#include "host/DravServerErrorText.h"
#include "host/DravCaseIterator.h"
#include "host/OBS.h"
#include "host/ServerDataManager.h"
#include "stream/DRAV_StreamDataSrc.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestFeeder.h"
#include "tests/support/Watchdog.h"

extern "C" bool ProcessDACSyntax(DACAdapterBase* adapter);

namespace drav {
namespace test {
namespace {

struct Message {
  std::string text;
  int severity;
};
std::vector<Message> received;
void Collect(const char* text, int severity) { received.push_back({text, severity}); }

class EntryTest : public testing::Test {
 protected:
  void SetUp() override {
    DravServerErrorText::SetCatalogDir(DRAV_SOURCE_DIR "/catalogs");
    received.clear();
    ServerDataManager::GetInstance().ReleaseAll();
  }
  void TearDown() override { ServerDataManager::GetInstance().ReleaseAll(); }

  bool Run(const std::string& command) {
    TokenizeResult tokens = TokenizeStreamCommand(command);
    EXPECT_TRUE(tokens.ok) << tokens.error;
    CommandAdapter adapter(tokens.tokens, Collect);
    return ProcessDACSyntax(&adapter);
  }
  static std::size_t Registered() { return ServerDataManager::GetInstance().Count(); }

  Watchdog watchdog_{100, "entry test"};
  TempDir dir_;
};

std::vector<std::string> Records(int count) {
  RecordBuilder builder({0, 4});
  std::vector<std::string> records;
  for (int i = 0; i < count; ++i) records.push_back(builder.Make({i * 1.0}, {"r" + std::to_string(i)}));
  return records;
}

TEST_F(EntryTest, AcceptedCommandRegistersAReadableSource) {
  FeederOptions options;
  options.records = Records(3);
  auto feeder = TestFeeder::OverPipe(dir_, false, options);
  ASSERT_TRUE(Run("GET DATA /TYPE = STREAM /PIPE = '" + feeder->StreamName() +
                  "' /VARIABLES = n F8.2 s A4."));
  EXPECT_TRUE(received.empty());
  ASSERT_EQ(Registered(), 1u);
  std::unique_ptr<DRAV_DataSource> source = ServerDataManager::GetInstance().TakeLast();
  OBS obs(source->GetObsAreaSize());
  std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
  int cases = 0;
  while (it->Next() == 1) {
    EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), options.records[cases]);
    ++cases;
  }
  EXPECT_EQ(cases, 3);
  EXPECT_EQ(source->RowCount(), 3);
}

TEST_F(EntryTest, WarningsOfAnAcceptedCommandReachTheHostAfterRegistration) {
  FeederOptions options;
  options.records = Records(1);
  auto feeder = TestFeeder::OverSocket(options);
  const std::string port = feeder->StreamName().substr(feeder->StreamName().rfind(':') + 1);
  const std::string longName(70, 'v');
  ASSERT_TRUE(Run("GET DATA /TYPE = STREAM /SOCKET = " + port +
                  " /HOST = '127.0.0.1' /VARIABLES = " + longName + " F8.2 s A4."));
  EXPECT_EQ(Registered(), 1u);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].severity, 0);
  EXPECT_NE(received[0].text.find("[2273]"), std::string::npos) << received[0].text;
}

TEST_F(EntryTest, MissingRewindPipeReports2280WithTheRewindName) {
  std::string data = dir_.MakeFifo("data");
  std::string rewind = dir_.File("no-such-rewind");
  EXPECT_FALSE(Run("GET DATA /TYPE = STREAM /PIPE = '" + data + "' /REWINDABLE = '" + rewind +
                   "' /VARIABLES = n F8.2."));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].severity, 1);
  EXPECT_NE(received[0].text.find("[2280]"), std::string::npos) << received[0].text;
  EXPECT_NE(received[0].text.find(rewind), std::string::npos) << received[0].text;
  EXPECT_EQ(Registered(), 0u);
}

TEST_F(EntryTest, UnreachableSocketReports2281WithTheStreamName) {
  std::string name;
  {
    auto feeder = TestFeeder::OverSocket(FeederOptions{});
    name = feeder->StreamName();
  }
  const std::string port = name.substr(name.rfind(':') + 1);
  EXPECT_FALSE(Run("GET DATA /TYPE = STREAM /SOCKET = " + port +
                   " /HOST = '127.0.0.1' /VARIABLES = n F8.2."));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].severity, 1);
  EXPECT_NE(received[0].text.find("[2281]"), std::string::npos) << received[0].text;
  EXPECT_NE(received[0].text.find("inet:"), std::string::npos) << received[0].text;
  EXPECT_EQ(Registered(), 0u);
}

TEST_F(EntryTest, RefusedCommandReportsExactlyOneErrorAndNoWarnings) {
  const std::string longName(70, 'v');
  EXPECT_FALSE(Run("GET DATA /TYPE = STREAM /PIPE = '/tmp/x' /VARIABLES = " + longName +
                   " F8.2 " + longName + " F8.2."));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].severity, 1);
  EXPECT_EQ(Registered(), 0u);
}

// Waits out the data pipe's 400 opening attempts (about 20 seconds).
TEST_F(EntryTest, DataPipeThatNeverAppearsReports2279WithThePathSlow) {
  const std::string path = dir_.File("never");
  EXPECT_FALSE(Run("GET DATA /TYPE = STREAM /PIPE = '" + path + "' /VARIABLES = n F8.2."));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].severity, 1);
  EXPECT_NE(received[0].text.find("[2279]"), std::string::npos) << received[0].text;
  EXPECT_NE(received[0].text.find(path), std::string::npos) << received[0].text;
  EXPECT_EQ(Registered(), 0u);
}

}  // namespace
}  // namespace test
}  // namespace drav
