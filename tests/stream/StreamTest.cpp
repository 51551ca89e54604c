// Reading passes over real named pipes and loopback TCP: every record, the row count, the byte order the probe
// announces, and the control protocol as the feeder understood it. Hostile paths, dying feeders: tests/hostile, fault.
#include <pthread.h>

#include <tuple>

#include "stream/BoundedFifoOpen.h"
#include "stream/FifoFiles.h"
#include "tests/support/ScriptedFeeder.h"
#include "tests/support/StreamSupport.h"

namespace drav::test {
namespace {

using feed::ByteOrder;

struct Feed {
  const char* name;
  bool socket;
  ByteOrder order;
  bool stdinClosed = false;  // the host's: its pipes and socket then take descriptor 0
};
void PrintTo(const Feed& feed, std::ostream* out) { *out << feed.name; }

// Each transport with a feeder of each byte order. Over a socket the probe tells the reader to reverse the numbers; a
// pipe has no probe, so records arrive exactly as written.
class PassTest : public testing::TestWithParam<Feed> {
 protected:
  bool Socket() const { return GetParam().socket; }
  std::unique_ptr<DRAV_StreamDataSrc> Open(int records, bool seekable, bool rewindable = true) {
    const std::vector<std::string> written = TestRecords(records, GetParam().order);
    feeder_ = Socket() ? TestFeeder::OverSocket(written, GetParam().order)
                       : TestFeeder::OverPipe(dir_, rewindable, written, GetParam().order);
    const std::string rewind = Socket() ? "rewindsupported" : feeder_->RewindName();
    if (GetParam().stdinClosed && savedStdin_ < 0) {
      savedStdin_ = dup(0);
      close(0);
    }
    return OpenSource(feeder_->StreamName(), rewindable ? rewind.c_str() : nullptr, seekable, Socket());
  }
  std::vector<std::string> Expected(int records) const {
    return TestRecords(records, Socket() ? ByteOrder::kNative : GetParam().order);
  }
  static std::string Case(const OBS& obs) { return std::string(obs.Data(), obs.Bytes()); }
  void TearDown() override {
    feeder_.reset();
    if (savedStdin_ < 0) return;
    EXPECT_EQ(fcntl(0, F_GETFD), -1) << "the source left descriptor 0 open";
    dup2(savedStdin_, 0);
    close(savedStdin_);
  }

  int savedStdin_ = -1;
  Watchdog watchdog_{60, "stream pass test"};
  TempDir dir_;
  std::unique_ptr<TestFeeder> feeder_;
};

TEST_P(PassTest, FirstPassDeliversEveryRecordAndFixesTheRowCount) {
  auto source = Open(7, false, false);
  if (Socket()) { EXPECT_TRUE(source->OpenSocketStream()) << "opened again, it connects again"; }
  EXPECT_EQ(source->RowCount(), -1);
  OBS obs(source->GetObsAreaSize());
  std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
  EXPECT_EQ(it->IsSeekOK(), 0);
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(it->Next(), 1) << "case " << i;
    EXPECT_EQ(Case(obs), Expected(7)[i]);
    EXPECT_EQ(it->Tell(), i + 1);
    EXPECT_EQ(it->Seek(0), 0) << "a stream without SEEKABLE reads on";
    it->Commit();
  }
  EXPECT_EQ(it->Next(), 0);
  EXPECT_EQ(it->Next(), 0) << "the end stays the end";
  EXPECT_EQ(source->RowCount(), 7);
  EXPECT_EQ(feeder_->Heard(), "") << "the first pass asks for nothing";
}

// The case number travels in the reader's own byte order: a feeder of the other order turns it back, serves case 5.
TEST_P(PassTest, SeekSendsTheCaseNumberAndDeliversThatCase) {
  auto source = Open(10, true);
  OBS obs(source->GetObsAreaSize());
  std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
  EXPECT_EQ(it->IsSeekOK(), 1);
  ASSERT_TRUE(it->Next() == 1 && it->Next() == 1);
  EXPECT_EQ(it->Seek(2), 1);  // the current position: nothing is sent
  EXPECT_EQ(it->Seek(5), 1);
  EXPECT_EQ(feeder_->Heard(), "") << "Seek itself sends nothing";
  ASSERT_EQ(it->Next(), 1);
  EXPECT_EQ(Case(obs), Expected(10)[5]);
  EXPECT_EQ(it->Tell(), 6);
  ASSERT_EQ(it->Next(), 1);
  EXPECT_EQ(Case(obs), Expected(10)[6]);
  EXPECT_EQ(feeder_->Heard(), "seek to case 5");
}

TEST_P(PassTest, LaterPassRewindsAndReadsFromCaseZero) {
  auto source = Open(3, false);
  const std::vector<std::string> expected = Expected(3);
  EXPECT_EQ(ReadPass(*source), expected);
  EXPECT_EQ(ReadPass(*source, 2), std::vector<std::string>(expected.begin(), expected.begin() + 2));
  EXPECT_EQ(feeder_->Heard(), "rewind");
}

TEST_P(PassTest, LaterPassWithoutRewindNameReadsOnOrNothing) {
  auto source = Open(3, false, false);
  EXPECT_EQ(ReadPass(*source, 1).size(), 1u);
  // Whatever descriptor now has the pipe's old number must not be read from.
  const int decoy = open(dir_.WriteFile("decoy", std::string(4096, 'x')).c_str(), O_RDONLY | O_CLOEXEC);
  // Over a socket the connection goes on with the cases the first pass left.
  EXPECT_EQ(ReadPass(*source).size(), Socket() ? 2u : 0u);
  EXPECT_EQ(source->RowCount(), Socket() ? 2 : 0);
  close(decoy);
}

INSTANTIATE_TEST_SUITE_P(Feeders, PassTest,
                         testing::Values(Feed{"Pipe", false, ByteOrder::kNative},
                                         Feed{"PipeOtherOrder", false, ByteOrder::kSwapped},
                                         Feed{"PipeStdinClosed", false, ByteOrder::kNative, true},
                                         Feed{"Socket", true, ByteOrder::kNative},
                                         Feed{"SocketOtherOrder", true, ByteOrder::kSwapped},
                                         Feed{"SocketStdinClosed", true, ByteOrder::kNative, true}),
                         [](const testing::TestParamInfo<Feed>& info) { return std::string(info.param.name); });

std::string Int32Bytes(std::int32_t value) { return std::string(reinterpret_cast<char*>(&value), 4); }

// The feeder sends the probe and native records on its first connection, and native records again after "RWND" on a
// second; each pass ends with "STOP". The verdict of the probe decides whether the reader reverses them on both; a
// probe cut short ends the first pass empty and still decides the second.
TEST(ProbeTest, VerdictDecidesWhetherNumbersAreReversed) {
  Watchdog watchdog(60, "probe test");
  const struct {
    std::string name, probe;
    bool matches;
  } cases[] = {{"one", Int32Bytes(1), true},        {"255", Int32Bytes(255), true},
               {"zero", Int32Bytes(0), false},      {"256", Int32Bytes(256), false},
               {"negative", Int32Bytes(-1), false}, {"one of the other order", Int32Bytes(1 << 24), false},
               {"two bytes, then the end", std::string("\1\0", 2), false}};
  const std::vector<std::string> native = TestRecords(3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool whole = c.probe.size() == 4;
    const std::string firstBytes = whole ? c.probe + Joined(native) : c.probe;
    LoopbackPort port;
    ScriptedFeeder feeder([&] {
      const int first = child::AcceptOne(port.fd);
      child::Write(first, firstBytes, {});
      shutdown(first, SHUT_WR);  // the end of the data; "STOP" still comes back
      if (whole) child::Expect(first, "STOP");
      close(first);
      const int second = child::AcceptOne(port.fd);
      child::Expect(second, "RWND");
      child::Write(second, Joined(native), {});
      shutdown(second, SHUT_WR);
      child::Expect(second, "STOP");
    });
    auto source = OpenSource(port.StreamName(), "rewindsupported", false, true);
    const auto expected = TestRecords(3, c.matches ? ByteOrder::kNative : ByteOrder::kSwapped);
    EXPECT_EQ(ReadPass(*source), whole ? expected : std::vector<std::string>());
    EXPECT_EQ(ReadPass(*source), expected);
    EXPECT_TRUE(feeder.RanToTheEnd());
  }
}

// Formats brought into the host's limits, unknown types replaced, string widths kept; a slot per number and 8 bytes.
TEST(DictionaryTest, FormatsAreNormalisedForTheHost) {
  TempDir dir;
  const std::string empty = dir.WriteFile("data", "");
  const struct {
    const char* word;
    int type, width, decimals;
  } cases[] = {{"F8.2", kFmtF, 8, 2},         {"DOLLAR8.2", kFmtDOLLAR, 8, 2},     {"DATE10", kFmtDATE, 9, 0},
               {"DATE11", kFmtDATE, 11, 0},   {"DATE20", kFmtDATE, 11, 0},         {"TIME12", kFmtTIME, 11, 2},
               {"TIME8", kFmtTIME, 5, 0},     {"DATETIME30", kFmtDATETIME, 23, 2}, {"DATETIME20", kFmtDATETIME, 17, 0},
               {"ADATE12", kFmtADATE, 10, 0}, {"JDATE5", kFmtJDATE, 5, 0},         {"WKDAY3", kFmtWKDAY, 9, 0},
               {"MOYR6", kFmtMOYR, 6, 0},     {"A12", kFmtA, 12, 0},               {"N5", kFmtF, 8, 2},
               {"PCT6.1", kFmtF, 8, 2},       {"TIME11", kFmtTIME, 11, 2},         {"DATETIME23", kFmtDATETIME, 23, 2},
               {"ADATE10", kFmtADATE, 10, 0}, {"SDATE8", kFmtSDATE, 8, 0},         {"JDATE7", kFmtJDATE, 7, 0},
               {"DTIME15", kFmtDTIME, 15, 2}, {"DTIME14", kFmtDTIME, 9, 0},        {"MOYR8", kFmtMOYR, 8, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    auto source = OpenSource(empty, nullptr, false, false, std::string("v ") + c.word);
    ASSERT_EQ(source->ColumnCount(), 1);
    DRAV_Variable* v = source->GetVariable(0);
    DRAV_Variable::FormatType type, writeType;
    int width = 0, decimals = 0, writeWidth = 0, writeDecimals = 0;
    v->GetFormat(type, width, decimals);
    v->GetWriteFormat(writeType, writeWidth, writeDecimals);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(decimals, c.decimals);
    EXPECT_EQ(writeWidth, c.width);
    EXPECT_EQ(v->GetDisplayWidth(), c.type == kFmtA ? 8 : std::max(8, c.width)) << "numbers widen the column";
    EXPECT_STREQ(v->GetName(), "v");
  }
  EXPECT_EQ(OpenSource(empty, nullptr, false, false, "a F8.2 s A10 t A8 b F3.0")->GetObsAreaSize(), 5);
  // A host's own parser may hand over decimals the command would refuse: they are held within the width.
  StreamParser own;
  for (const auto& [type, width, decimals] : {std::tuple(kFmtDOLLAR, 5, 4), {kFmtF, 3, 3}, {kFmtCOMMA, 4, 1}}) {
    auto* variable = new DRAV_Variable(type);
    variable->SetName("v");
    variable->SetFormat(type, width, decimals);
    own.AddVariable(variable);
  }
  DRAV_StreamDataSrc held(empty.c_str(), nullptr, false, false);
  ASSERT_TRUE(held.SetDictionary(&own));
  ASSERT_EQ(held.ColumnCount(), 3);
  const int kept[][2] = {{5, 3}, {3, 2}, {4, 1}};  // width, decimals
  for (int i = 0; i < 3; ++i) {
    DRAV_Variable::FormatType type;
    int width = 0, decimals = 0;
    held.GetVariable(i)->GetFormat(type, width, decimals);
    EXPECT_EQ(width, kept[i][0]);
    EXPECT_EQ(decimals, kept[i][1]);
  }
  const std::string eightBytes = dir.WriteFile("record", std::string(8, 'r'));
  DRAV_StreamDataSrc source(eightBytes.c_str(), nullptr, false, false);
  EXPECT_EQ(ThrownBy([&] { source.SetDictionary(nullptr); }), 2270);
  // No dictionary: a record of no bytes, and the stream ends at once, whatever bytes stand in it.
  OBS obs(1);
  std::unique_ptr<DRAV_InputCaseIterator> it(source.MakeIterator(&obs));
  EXPECT_EQ(it->Next(), 0);
  EXPECT_EQ(source.RowCount(), 0);
}

TEST(SwapBytesTest, ReversesTheBytesInPlace) {
  for (std::string value : {"", "a", "ab", "abcde", "abcdefgh"}) {
    std::string swapped = value;
    DRAV_StreamIterator::SwapBytes(&swapped[0], static_cast<int>(swapped.size()));
    EXPECT_EQ(swapped, std::string(value.rbegin(), value.rend()));
  }
}

// A write into a pipe without reader raises no SIGPIPE. The open for writing waits for a reader that comes late; a
// file that replaces the pipe meanwhile is never opened for writing.
TEST(SafetyTest, RewindPipeWriteRaisesNoSigpipeAndNeverOpensAFileSwappedIn) {
  signal(SIGPIPE, SIG_DFL);  // not left ignored: a SIGPIPE let through ends the test program
  TempDir dir;
  const std::string path = dir.MakeFifo("rewind"), file = dir.WriteFile("file", "keep");
  const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int writer = fifo::OpenFifoForWriting(path.c_str(), 0);
  ASSERT_EQ(fcntl(writer, F_GETFD), FD_CLOEXEC) << "no descriptor, or one a host's children inherit";
  close(reader);
  EXPECT_FALSE(fifo::WriteAll(writer, "RWND", 4));
  // A SIGPIPE pending before the write is someone else's: it stays pending.
  sigset_t pipeSignal, saved, pending;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
  pthread_kill(pthread_self(), SIGPIPE);
  EXPECT_FALSE(fifo::WriteAll(writer, "RWND", 4));
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 1) << "another's pending SIGPIPE was taken";
  int taken = 0;
  sigwait(&pipeSignal, &taken);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  close(writer);
  const int holder = open(path.c_str(), O_RDWR | O_CLOEXEC);  // a writer, so the open returns
  const int data = fifo::OpenForReadingWithin(path.c_str(), 5000).fd;
  ASSERT_EQ(fcntl(data, F_GETFD), FD_CLOEXEC) << "no descriptor, or one a host's children inherit";
  close(data);
  close(holder);
  int lateReader = -1;
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lateReader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  });
  const int lateWriter = fifo::OpenFifoForWriting(path.c_str(), 5000);
  late.join();
  EXPECT_GE(lateWriter, 0) << "gave up before the reader came";
  close(lateWriter);
  close(lateReader);
  std::thread swapper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the open is waiting by then
    rename(file.c_str(), path.c_str());
  });
  EXPECT_LT(fifo::OpenFifoForWriting(path.c_str(), 5000), 0);
  swapper.join();
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"rewind"});
}

// A second close finds nothing to close, not the file that took the pipe's descriptor number meanwhile.
TEST(SafetyTest, ClosingThePipeTwiceClosesNothingTheSecondTime) {
  TempDir dir;
  auto feeder = TestFeeder::OverPipe(dir, false, TestRecords(1));
  auto source = OpenSource(feeder->StreamName(), nullptr, false, false);
  source->ClosePipeStream();
  std::vector<int> decoys;  // they take the lowest free numbers, the pipe's old one among them
  for (int i = 0; i < 8; ++i) decoys.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
  source->ClosePipeStream();
  for (int decoy : decoys) EXPECT_EQ(close(decoy), 0) << "the second close closed descriptor " << decoy;
}

TEST(SafetyTest, ManyPassesWithSeeksLeakNoDescriptor) {
  Watchdog watchdog(90, "descriptor growth");
  TempDir dir;
  const std::vector<std::string> records = TestRecords(6);
  auto feeder = TestFeeder::OverPipe(dir, true, records);
  auto source = OpenSource(feeder->StreamName(), feeder->RewindName().c_str(), true, false);
  EXPECT_EQ(ReadPass(*source).size(), 6u);
  // Readers of the data pipe are the plug-in's: the feeder only writes to it.
  const int before = HeldOpen(feeder->StreamName(), O_ACCMODE, O_RDONLY);
  for (int pass = 0; pass < 10; ++pass) {
    OBS obs(source->GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
    ASSERT_EQ(it->Next(), 1) << "pass " << pass;
    it->Seek(4);
    ASSERT_EQ(it->Next(), 1) << "pass " << pass;
    EXPECT_EQ(std::string(obs.Data(), obs.Bytes()), records[4]);
  }
  EXPECT_EQ(HeldOpen(feeder->StreamName(), O_ACCMODE, O_RDONLY), before);
}

}  // namespace
}  // namespace drav::test
