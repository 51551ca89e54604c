// Reading passes over real named pipes and loopback TCP: whole, piecewise
// and cut records, byte order, signals during reads, end of data.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "tests/stream/StreamTestSupport.h"
#include "tests/support/Watchdog.h"

namespace drav {
namespace test {
namespace {

enum class Transport { kPipe, kSocket };

struct PassCase {
  Transport transport;
  FeederOptions::Pieces pieces;
};

std::string Name(const testing::TestParamInfo<PassCase>& info) {
  const char* pieces[] = {"Whole", "OneByte", "Random"};
  return std::string(info.param.transport == Transport::kPipe ? "Pipe" : "Socket") +
         pieces[static_cast<int>(info.param.pieces)];
}

class StreamPassTest : public testing::TestWithParam<PassCase> {
 protected:
  std::unique_ptr<TestFeeder> StartFeeder(FeederOptions options) {
    options.pieces = GetParam().pieces;
    if (GetParam().transport == Transport::kPipe) return TestFeeder::OverPipe(dir_, false, options);
    return TestFeeder::OverSocket(options);
  }
  bool Socket() const { return GetParam().transport == Transport::kSocket; }

  Watchdog watchdog_{60, "stream pass test"};
  TempDir dir_;
};

TEST_P(StreamPassTest, FirstPassDeliversEveryRecordAndFixesRowCount) {
  FeederOptions options;
  options.records = TestRecords(7);
  auto feeder = StartFeeder(options);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, Socket());
  EXPECT_EQ(source->RowCount(), -1);
  {
    OBS obs(source->GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
    for (int i = 0; i < 7; ++i) {
      ASSERT_EQ(it->Next(), 1) << "case " << i;
      EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), options.records[i]);
      EXPECT_EQ(it->Tell(), i + 1);
    }
    EXPECT_EQ(it->Next(), 0);
    EXPECT_EQ(source->RowCount(), 7);
    // A further Next meets the end again and keeps the count.
    EXPECT_EQ(it->Next(), 0);
    EXPECT_EQ(source->RowCount(), 7);
    EXPECT_TRUE(feeder->Messages().empty()) << "the first pass sends no message";
  }
  if (Socket()) {
    feeder->WaitForMessages(1);
    EXPECT_EQ(feeder->ControlBytes(), "STOP");
  } else {
    EXPECT_TRUE(feeder->ControlBytes().empty());
    EXPECT_NE(access(feeder->DataPipePath().c_str(), F_OK), 0) << "the data pipe is removed";
  }
}

TEST_P(StreamPassTest, RecordCutByEndOfDataIsNotDelivered) {
  FeederOptions options;
  options.records = TestRecords(4);
  options.firstPassBytes = static_cast<long>(2 * options.records[0].size() + 5);
  auto feeder = StartFeeder(options);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, Socket());
  EXPECT_EQ(ReadPass(*source).size(), 2u);
  EXPECT_EQ(source->RowCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Transports, StreamPassTest,
    testing::Values(PassCase{Transport::kPipe, FeederOptions::Pieces::kWhole},
                    PassCase{Transport::kPipe, FeederOptions::Pieces::kOneByte},
                    PassCase{Transport::kPipe, FeederOptions::Pieces::kRandom},
                    PassCase{Transport::kSocket, FeederOptions::Pieces::kWhole},
                    PassCase{Transport::kSocket, FeederOptions::Pieces::kOneByte},
                    PassCase{Transport::kSocket, FeederOptions::Pieces::kRandom}),
    Name);

// ---- Byte order -------------------------------------------------------------

struct ProbeCase {
  const char* name;
  std::string probe;
  bool matches;
};

// Without it gtest prints the case as raw bytes, padding included, which
// reads memory that was never written.
void PrintTo(const ProbeCase& probeCase, std::ostream* out) { *out << probeCase.name; }

std::string Int32Bytes(std::int32_t value) { return std::string(reinterpret_cast<char*>(&value), 4); }

class ProbeTest : public testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeTest, DecidesWhetherNumbersAreReversed) {
  Watchdog watchdog(60, "probe test");
  FeederOptions options;
  options.probe = GetParam().probe;
  options.records = TestRecords(2);
  auto feeder = TestFeeder::OverSocket(options);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, true);
  std::vector<std::string> cases = ReadPass(*source);
  ASSERT_EQ(cases.size(), 2u);
  // A feeder believed to be of the other order gets its numbers reversed.
  std::vector<std::string> expected = TestRecords(2, !GetParam().matches);
  EXPECT_EQ(cases[1], expected[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ProbeTest,
    testing::Values(ProbeCase{"One", Int32Bytes(1), true}, ProbeCase{"Max", Int32Bytes(255), true},
                    ProbeCase{"Zero", Int32Bytes(0), false}, ProbeCase{"Above", Int32Bytes(256), false},
                    ProbeCase{"Negative", Int32Bytes(-1), false},
                    ProbeCase{"SwappedOne", FeederOptions::SwappedProbe(), false}),
    [](const testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

TEST(ProbeEdgeTest, TwoBytesThenEndOfConnectionOpensAndEndsTheData) {
  Watchdog watchdog(60, "short probe");
  FeederOptions options;
  options.probe = std::string("\x01\x00", 2);
  options.vanishAfterFirstPass = true;
  auto feeder = TestFeeder::OverSocket(options);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, true);
  EXPECT_TRUE(ReadPass(*source).empty());
  EXPECT_EQ(source->RowCount(), 0);
}

TEST(ByteOrderTest, SwappedSocketFeederNumbersReversedStringsUntouched) {
  Watchdog watchdog(60, "swapped feeder");
  FeederOptions options;
  options.probe = FeederOptions::SwappedProbe();
  options.records = TestRecords(3, true);
  auto feeder = TestFeeder::OverSocket(options);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, true);
  std::vector<std::string> cases = ReadPass(*source);
  ASSERT_EQ(cases.size(), 3u);
  EXPECT_EQ(cases, TestRecords(3, false));
  double x;
  std::memcpy(&x, cases[2].data(), sizeof x);
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(cases[2].substr(8, 10), "case2     ");
}

TEST(ByteOrderTest, PipeRecordsAreNeverReversed) {
  Watchdog watchdog(60, "pipe byte order");
  TempDir dir;
  FeederOptions options;
  options.records = TestRecords(2, true);
  auto feeder = TestFeeder::OverPipe(dir, false, options);
  auto source = OpenSource(feeder->StreamName(), nullptr, false, false);
  EXPECT_EQ(ReadPass(*source), options.records);
}

// ---- Signals ----------------------------------------------------------------

std::atomic<int> signalsSeen{0};
void CountSignal(int) { signalsSeen.fetch_add(1); }

TEST(InterruptedReadTest, ReadsInterruptedBySignalsLoseNothing) {
  Watchdog watchdog(60, "EINTR test");
  struct sigaction action {};
  action.sa_handler = CountSignal;  // no SA_RESTART: blocked reads fail with EINTR
  sigemptyset(&action.sa_mask);
  struct sigaction saved {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);

  TempDir dir;
  FeederOptions options;
  options.records = TestRecords(40);
  options.pieces = FeederOptions::Pieces::kRandom;
  options.pauseMicros = 300;
  for (bool socket : {false, true}) {
    signalsSeen = 0;
    auto feeder = socket ? TestFeeder::OverSocket(options) : TestFeeder::OverPipe(dir, false, options);
    auto source = OpenSource(feeder->StreamName(), nullptr, false, socket);
    std::atomic<bool> done{false};
    pthread_t reader = pthread_self();
    std::thread interrupter([&] {
      while (!done) {
        pthread_kill(reader, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    std::vector<std::string> cases = ReadPass(*source);
    done = true;
    interrupter.join();
    EXPECT_EQ(cases, options.records) << (socket ? "socket" : "pipe");
    EXPECT_GT(signalsSeen.load(), 0);
  }
  sigaction(SIGUSR1, &saved, nullptr);
}

// ---- Records of no bytes --------------------------------------------------

TEST(EmptyRecordTest, DictionaryWithoutVariablesEndsAtOnce) {
  Watchdog watchdog(60, "empty record");
  TempDir dir;
  FeederOptions options;
  options.records = {"whatever"};
  auto feeder = TestFeeder::OverPipe(dir, false, options);
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
