// dravfeed as a real process against a reader written from the protocol
// (WireReader), over both transports and both byte orders: passes, rewinds
// and seeks from any case, readers that vanish or move on mid-pass, live
// input that grows while it is served, the spill file, captures, and the
// cleaning up of its FIFOs. The records expected are rendered by
// GeneratedCases, which makes the same ones as the input lines "i,ci".
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/WireFormat.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav {
namespace test {
namespace {

const char kVariables[] = "x F8 s A3";
constexpr std::size_t kRecordBytes = 16;

struct Transport {
  const char* name;
  bool socket;
  bool swapped;
};

std::string Lines(std::int64_t first, std::int64_t count) {
  std::string text;
  for (std::int64_t i = first; i < first + count; ++i) text += std::to_string(i) + ",c" + std::to_string(i) + "\n";
  return text;
}

class DravfeedServes : public testing::TestWithParam<Transport> {
 protected:
  bool Socket() const { return GetParam().socket; }
  bool Swapped() const { return GetParam().swapped; }
  feed::ByteOrder Order() const { return Swapped() ? feed::ByteOrder::kSwapped : feed::ByteOrder::kNative; }
  std::string Expected(std::int64_t first, std::int64_t count) const {
    return GeneratedRecords(kVariables, first, count, Order());
  }

  // dravfeed on the transport under test with `more` options; the reader
  // is ready for its first pass.
  void Start(std::vector<std::string> more, const std::string& input = "", bool keepInputOpen = false) {
    std::vector<std::string> args = {"--socket", "0"};
    if (!Socket()) args = {"--pipe", dir_.File("data"), "--rewind-pipe", dir_.File("rewind")};
    if (std::find(more.begin(), more.end(), "--replay") == more.end())
      args.insert(args.end(), {"--variables", kVariables, "--byte-order", Swapped() ? "swapped" : "native"});
    args.insert(args.end(), more.begin(), more.end());
    feed_ = std::make_unique<ChildProcess>(Dravfeed(args), input, keepInputOpen);
    if (Socket()) {
      reader_ = std::make_unique<WireReader>(feed_->DravfeedPort());
    } else {
      ASSERT_NE(feed_->LineAfter("dravfeed: serving "), "") << feed_->Stop().err;
      reader_ = std::make_unique<WireReader>(dir_.File("data"), dir_.File("rewind"));
    }
  }
  void Begin() { EXPECT_EQ(reader_->Begin(), Socket() ? Probe(Order()) : ""); }
  std::string Read(std::int64_t cases) { return reader_->Read(static_cast<std::size_t>(cases) * kRecordBytes); }
  // Ends the reader, then expects dravfeed to exit with `status` and to
  // leave no FIFO behind.
  ProcessResult Finish(int status = 0) {
    reader_->End();
    const ProcessResult r = feed_->Wait();
    EXPECT_EQ(r.exitCode, status) << r.err;
    EXPECT_EQ(dir_.Entries(), std::vector<std::string>()) << "dravfeed left a FIFO behind";
    return r;
  }

  Watchdog watchdog_{90, "a dravfeed serving test"};
  TempDir dir_;    // the FIFOs only
  TempDir files_;  // inputs and captures
  std::unique_ptr<ChildProcess> feed_;
  std::unique_ptr<WireReader> reader_;
};

TEST_P(DravfeedServes, EveryPassGivesTheCasesFromTheOneAskedFor) {
  const std::int64_t total = 5000;  // 80 KB: more than a pipe or socket buffer holds
  Start({"--generate", std::to_string(total)});
  Begin();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, total));
  reader_->Rewind();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, total));
  for (std::int64_t target : {std::int64_t{1}, std::int64_t{2500}, total - 1}) {
    reader_->Seek(target);
    EXPECT_EQ(reader_->ReadToEnd(), Expected(target, total - target)) << "seek " << target;
  }
  for (std::int64_t target : {total, total + 7, std::int64_t{-1}}) {
    reader_->Seek(target);
    EXPECT_EQ(reader_->ReadToEnd(), "") << "seek " << target << " is past the cases";
  }
  Finish();
}

// The feeder is blocked on a full pipe or socket when the reader moves on
// (a seek) or vanishes; either costs only that pass, never the feeder (this
// would be SIGPIPE for a feeder that let it through: exit 141).
TEST_P(DravfeedServes, AReaderThatMovesOnOrVanishesMidPassCostsOnlyThatPass) {
  const std::int64_t total = 200000;
  Start({"--generate", std::to_string(total)});
  Begin();
  EXPECT_EQ(Read(1), Expected(0, 1));
  reader_->Seek(123456);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(123456, total - 123456));
  reader_->Rewind();
  EXPECT_EQ(Read(3), Expected(0, 3));
  reader_->Abandon();
  reader_->Rewind();
  EXPECT_EQ(Read(5), Expected(0, 5));
  Finish();
}

TEST_P(DravfeedServes, LiveInputIsServedAsItComesAndRewindsAndSeeksWaitForIt) {
  Start({"--csv", "-", "--header"}, "x,s\n", true);
  Begin();
  for (int i = 0; i < 3; ++i) {
    feed_->WriteInput(Lines(i, 1));
    EXPECT_EQ(Read(1), Expected(i, 1)) << "case " << i << " waited for more input";
  }
  feed_->WriteInput(Lines(3, 2));
  EXPECT_EQ(Read(2), Expected(3, 2));
  reader_->Seek(3);  // during the input
  EXPECT_EQ(Read(2), Expected(3, 2));
  feed_->WriteInput(Lines(5, 2));
  EXPECT_EQ(Read(2), Expected(5, 2));
  reader_->Abandon();  // while the feeder waits for input
  reader_->Rewind();
  EXPECT_EQ(Read(7), Expected(0, 7));
  reader_->Seek(9);  // beyond the cases so far: waits for them
  feed_->WriteInput(Lines(7, 4));
  EXPECT_EQ(Read(2), Expected(9, 2));
  reader_->Seek(20);  // beyond the end of the input: ends with it
  feed_->CloseInput();
  EXPECT_EQ(reader_->ReadToEnd(), "");
  reader_->Seek(6);  // after the input
  EXPECT_EQ(reader_->ReadToEnd(), Expected(6, 5));
  reader_->Rewind();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 11));
  Finish();
}

// The spill file has no name from the start, so not even a SIGKILL leaves
// it behind.
TEST_P(DravfeedServes, SpilledCasesComeBackByteForByteAndLeaveNothingInTmpdir) {
  TempDir spill;
  setenv("TMPDIR", spill.Path().c_str(), 1);
  Start({"--csv", "-", "--memory", "0.001"}, "", true);  // about 65 cases in memory
  unsetenv("TMPDIR");
  Begin();
  const std::int64_t total = 20000;
  const std::string lines = Lines(0, total);
  for (std::size_t at = 0; at < lines.size(); at += 50000) feed_->WriteInput(lines.substr(at, 50000));
  EXPECT_EQ(Read(total), Expected(0, total));
  reader_->Seek(12345);
  EXPECT_EQ(Read(100), Expected(12345, 100));
  feed_->Signal(SIGKILL);
  feed_->Wait();
  EXPECT_EQ(spill.Entries(), std::vector<std::string>());
}

TEST_P(DravfeedServes, ACaptureReplaysTheSameCasesInTheCapturedByteOrder) {
  const std::string capture = files_.File("session.cap");
  {
    // From the input, or (swapped) from cases generated as they are captured.
    ChildProcess live(Dravfeed({"--socket", "0", "--variables", kVariables, Swapped() ? "--generate" : "--csv",
                                Swapped() ? "300" : "-", "--capture", capture, "--byte-order",
                                Swapped() ? "swapped" : "native"}),
                      Swapped() ? "" : Lines(0, 300));
    WireReader reader(live.DravfeedPort());
    reader.Begin();
    EXPECT_EQ(reader.ReadToEnd().size(), 300 * kRecordBytes);
    reader.End();
    ASSERT_EQ(live.Wait().exitCode, 0);
  }
  Start({"--replay", capture});
  Begin();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 300));
  reader_->Seek(250);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(250, 50));
  Finish();
  struct stat st {};
  ASSERT_EQ(stat(capture.c_str(), &st), 0);
  ASSERT_EQ(truncate(capture.c_str(), st.st_size - 5), 0);  // cut in its end block
  Start({"--replay", capture});
  Begin();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 300));
  EXPECT_EQ(reader_->EndedByReset(), Socket());
  EXPECT_NE(Finish(3).err.find("is cut at byte"), std::string::npos);
}

// As a file's is, whatever the input (here a pipe).
TEST_P(DravfeedServes, ALastLineWithoutItsEndIsServed) {
  Start({"--csv", "-"}, "0,c0\n1,c1\n2,c2");
  Begin();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 3));
  Finish();
}

// No reader can get a case: dravfeed must not wait for one, and one that
// comes must not find an empty stream that looks whole.
TEST_P(DravfeedServes, BadDataBeforeAnyCaseEndsDravfeedAndRemovesItsPipes) {
  std::vector<std::string> args = {"--socket", "0"};
  if (!Socket()) args = {"--pipe", dir_.File("data"), "--rewind-pipe", dir_.File("rewind")};
  args.insert(args.end(), {"--variables", kVariables, "--csv", "-"});
  const ProcessResult r = RunProcess(Dravfeed(args), "abc,c0\n");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("\"abc\" is not a number"), std::string::npos) << r.err;
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>());
}

TEST_P(DravfeedServes, ABadValueFoundLateIsNamedAfterEveryCaseBeforeItIsServed) {
  const std::int64_t good = 100000;
  std::ofstream(files_.File("big.csv")) << Lines(0, good) << "abc,late\n" << Lines(good + 1, 5);
  Start({"--csv", files_.File("big.csv")});
  Begin();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, good));
  EXPECT_EQ(reader_->EndedByReset(), Socket()) << "a socket pass that cannot be finished is broken off";
  EXPECT_NE(Finish(1).err.find("big.csv, line 100001, column 1 (x): \"abc\" is not a number"), std::string::npos);
}

TEST_P(DravfeedServes, AFollowedFileIsServedAsItGrowsUntilASignal) {
  std::ofstream file(files_.File("growing.csv"));
  file << Lines(0, 2) << std::flush;
  Start({"--csv", files_.File("growing.csv"), "--follow"});
  Begin();
  EXPECT_EQ(Read(2), Expected(0, 2));
  file << Lines(2, 3) << std::flush;
  EXPECT_EQ(Read(3), Expected(2, 3));
  feed_->Signal(SIGTERM);
  EXPECT_EQ(reader_->ReadToEnd(), "");
  EXPECT_EQ(reader_->EndedByReset(), Socket()) << "an interrupted socket pass is broken off";
  Finish(128 + SIGTERM);
}

INSTANTIATE_TEST_SUITE_P(Transports, DravfeedServes,
                         testing::Values(Transport{"Socket", true, false}, Transport{"SocketSwapped", true, true},
                                         Transport{"Pipe", false, false}),
                         [](const testing::TestParamInfo<Transport>& info) { return info.param.name; });

// ---- What only one transport has ------------------------------------------

struct SocketFeed {
  // 32 MB: far more than the socket buffers hold, so a pass is never sent whole at once.
  SocketFeed() : feed(Dravfeed({"--socket", "0", "--variables", kVariables, "--generate", "2000000"})),
                 port(feed.DravfeedPort()) {}
  Watchdog watchdog{30, "a dravfeed socket test"};
  ChildProcess feed;
  int port;
};

TEST(DravfeedSocket, ALaterConnectionIsToldByItsFirstBytes) {
  SocketFeed f;
  WireReader first(f.port);
  EXPECT_EQ(first.Begin(), Probe(feed::ByteOrder::kNative));
  EXPECT_EQ(first.Read(2 * kRecordBytes), GeneratedRecords(kVariables, 0, 2));
  first.Send(wire::kStop);  // the pass ends where it is: reading on meets the end
  EXPECT_LT(first.ReadToEnd().size(), 1999998 * kRecordBytes);
  WireReader split(f.port);
  split.Connect();
  for (char byte : SeekMessage(42)) {
    split.Send(std::string(1, byte));
    usleep(1000);
  }
  EXPECT_EQ(split.Read(3 * kRecordBytes), GeneratedRecords(kVariables, 42, 3)) << "a seek split over many sends";
  WireReader stranger(f.port);
  stranger.Connect();
  stranger.Send("HELO");
  EXPECT_EQ(stranger.ReadToEnd(), "") << "an unknown word closes only its connection";
  for (bool ipv6 : {false, true}) {
    WireReader silent(f.port, ipv6);  // a new reader: waits for the probe
    EXPECT_EQ(silent.Begin(), Probe(feed::ByteOrder::kNative)) << (ipv6 ? "over ::1" : "over 127.0.0.1");
    EXPECT_EQ(silent.Read(2 * kRecordBytes), GeneratedRecords(kVariables, 0, 2));
  }
  // Started again on its port, a feeder binds it while the connections the
  // last one had are still winding down.
  f.feed.Stop();
  ChildProcess again(Dravfeed({"--socket", std::to_string(f.port), "--variables", kVariables, "--generate", "1"}));
  EXPECT_EQ(again.DravfeedPort(), f.port) << again.Stop().err;
}

}  // namespace
}  // namespace test
}  // namespace drav
