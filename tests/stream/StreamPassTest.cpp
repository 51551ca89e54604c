// Reading passes over real named pipes and loopback TCP (the feeder writes
// in random pieces): every record, the row count, the end of data, and the
// byte order the probe announces.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

class StreamPassTest : public testing::TestWithParam<bool> {
 protected:
  bool Socket() const { return GetParam(); }
  Watchdog watchdog_{60, "stream pass test"};
  TempDir dir_;
};

TEST_P(StreamPassTest, FirstPassDeliversEveryRecordAndFixesRowCount) {
  const std::vector<std::string> records = TestRecords(7);
  auto feeder = Socket() ? TestFeeder::OverSocket(records) : TestFeeder::OverPipe(dir_, false, records);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, Socket());
  EXPECT_EQ(source->RowCount(), -1);
  {
    OBS obs(source->GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
    for (int i = 0; i < 7; ++i) {
      ASSERT_EQ(it->Next(), 1) << "case " << i;
      EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), records[i]);
      EXPECT_EQ(it->Tell(), i + 1);
    }
    EXPECT_EQ(it->Next(), 0);
    EXPECT_EQ(source->RowCount(), 7);
    // A further Next meets the end again and keeps the count.
    EXPECT_EQ(it->Next(), 0);
    EXPECT_EQ(source->RowCount(), 7);
    EXPECT_TRUE(feeder->ControlBytes().empty()) << "the first pass sends no message";
  }
  if (Socket()) {
    EXPECT_EQ(feeder->AwaitControlBytes(4), "STOP");
  } else {
    EXPECT_TRUE(feeder->ControlBytes().empty());
    EXPECT_NE(access(feeder->StreamName().c_str(), F_OK), 0) << "the data pipe is removed";
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, StreamPassTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Socket" : "Pipe");
                         });

// ---- Byte order -------------------------------------------------------------

std::string Int32Bytes(std::int32_t value) { return std::string(reinterpret_cast<char*>(&value), 4); }

TEST(ByteOrderTest, ProbeDecidesWhetherSocketNumbersAreReversed) {
  Watchdog watchdog(60, "probe test");
  const struct {
    const char* name;
    std::string probe;
    bool matches;
  } cases[] = {{"one", Int32Bytes(1), true},        {"255", Int32Bytes(255), true},
               {"zero", Int32Bytes(0), false},      {"256", Int32Bytes(256), false},
               {"negative", Int32Bytes(-1), false}, {"swapped one", SwappedProbe(), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto feeder = TestFeeder::OverSocket(TestRecords(3), c.probe);
    auto source = OpenSource(feeder->StreamName(), nullptr, false, true);
    // A feeder believed to be of the other order gets its numbers reversed,
    // its strings untouched.
    EXPECT_EQ(ReadPass(*source), TestRecords(3, !c.matches));
  }
}

TEST(ByteOrderTest, PipeRecordsAreNeverReversed) {
  Watchdog watchdog(60, "pipe byte order");
  TempDir dir;
  auto feeder = TestFeeder::OverPipe(dir, false, TestRecords(2, true));
  auto source = OpenSource(feeder->StreamName(), nullptr, false, false);
  EXPECT_EQ(ReadPass(*source), TestRecords(2, true));
}

TEST(EmptyRecordTest, DictionaryWithoutVariablesEndsAtOnce) {
  Watchdog watchdog(60, "empty record");
  TempDir dir;
  auto feeder = TestFeeder::OverPipe(dir, false, {"whatever"});
  // No SetDictionary: a record of no bytes.
  DRAV_StreamDataSrc source(feeder->StreamName().c_str(), nullptr, false, false);
  OBS obs(1);
  std::unique_ptr<DRAV_InputCaseIterator> it(source.MakeIterator(&obs));
  EXPECT_EQ(it->Next(), 0);
  EXPECT_EQ(it->Tell(), 0);
  EXPECT_EQ(source.RowCount(), 0);
}

}  // namespace
}  // namespace test
}  // namespace drav
