// dravfeed serving a live input as a real process: a producer that writes
// with pauses, rewinds and seeks during and after the input, the spill file,
// captures replayed over both transports, a line cut by the end of the
// input, bad data found late, and a followed file.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "feeder/GeneratedCases.h"
#include "host/WireFormat.h"
#include "tests/feeder/FeederTestSupport.h"

namespace {

using feedtest::FeedProcess;

const char kVariables[] = "x F8 s A3";
constexpr std::size_t kRecordBytes = 16;

// The records a live input of lines "i,ci" gives: the generator makes the
// same ones, so they are built once, by other code than dravfeed's reader.
std::string Expected(std::int64_t first, std::int64_t count) {
  static const drav::feed::VariableList list = drav::feed::VariableList::Parse(kVariables);
  static const drav::feed::RecordBuilder builder(list, drav::feed::ByteOrder::kNative);
  drav::feed::GeneratedCases cases(builder, first + count);
  std::string bytes(static_cast<std::size_t>(count) * kRecordBytes, '\0');
  cases.Render(first, count, &bytes[0]);
  return bytes;
}

std::string Lines(std::int64_t first, std::int64_t count) {
  std::string text;
  for (std::int64_t i = first; i < first + count; ++i)
    text += std::to_string(i) + ",c" + std::to_string(i) + "\n";
  return text;
}

// A reader of either transport, written from the protocol. Each pass is a
// new connection (TCP) or a new open of the data pipe after a message.
class Reader {
 public:
  virtual ~Reader() { End(); }
  virtual std::vector<std::string> Transport(const std::string& dir) = 0;
  virtual void Start(FeedProcess& feed) = 0;
  // A pass from case `first` (-1: the first pass, from case 0).
  virtual void Pass(std::int64_t first) = 0;
  std::string Read(std::size_t records) { return feedtest::ReadExactly(fd_, records * kRecordBytes); }
  std::string ReadToEnd() { return feedtest::ReadToEnd(fd_); }
  virtual void End() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 protected:
  int fd_ = -1;
};

class SocketReader : public Reader {
 public:
  std::vector<std::string> Transport(const std::string&) override { return {"--socket", "0"}; }
  void Start(FeedProcess& feed) override { port_ = feed.Port(); }
  void Pass(std::int64_t first) override {
    End();
    fd_ = feedtest::ConnectLoopback(port_);
    if (first < 0) {
      feedtest::ReadExactly(fd_, drav::wire::kProbeBytes);
    } else {
      feedtest::SendAll(fd_, first == 0 ? std::string(drav::wire::kRewind) : feedtest::SeekMessage(first));
    }
  }
  void End() override {
    if (fd_ >= 0) feedtest::SendAll(fd_, drav::wire::kStop);
    Reader::End();
  }

 private:
  int port_ = 0;
};

class PipeReader : public Reader {
 public:
  std::vector<std::string> Transport(const std::string& dir) override {
    data_ = dir + "/data";
    rewind_ = dir + "/rewind";
    return {"--pipe", data_, "--rewind-pipe", rewind_};
  }
  void Start(FeedProcess& feed) override { feed.WaitForLine("dravfeed: serving "); }
  void Pass(std::int64_t first) override {
    if (first >= 0)
      feedtest::SendThroughRewindPipe(rewind_, first == 0 ? std::string(drav::wire::kRewind)
                                                         : feedtest::SeekMessage(first));
    End();
    fd_ = feedtest::OpenForReading(data_);
  }

 private:
  std::string data_, rewind_;
};

class DravfeedLiveTest : public ::testing::TestWithParam<const char*> {
 protected:
  DravfeedLiveTest() {
    if (std::string(GetParam()) == "socket")
      reader_ = std::make_unique<SocketReader>();
    else
      reader_ = std::make_unique<PipeReader>();
  }
  // dravfeed on the transport under test with `more` options.
  std::unique_ptr<FeedProcess> Feed(std::vector<std::string> more, const std::string& input = "",
                                    bool keepInputOpen = false) {
    std::vector<std::string> arguments = reader_->Transport(dir_.Path(""));
    arguments.insert(arguments.end(), {"--variables", kVariables, "--linger", "0.3"});
    arguments.insert(arguments.end(), more.begin(), more.end());
    auto feed = std::make_unique<FeedProcess>(arguments, input, keepInputOpen);
    reader_->Start(*feed);
    return feed;
  }

  feedtest::Watchdog watchdog_{60};
  feedtest::TempDir dir_;
  std::unique_ptr<Reader> reader_;
};

TEST_P(DravfeedLiveTest, ProducerWithPausesGetsEachCaseServedBeforeItEnds) {
  auto feed = Feed({"--csv", "-", "--header"}, "x,s\n", true);
  reader_->Pass(-1);
  for (int i = 0; i < 3; ++i) {
    feed->WriteInput(Lines(i, 1));
    EXPECT_EQ(reader_->Read(1), Expected(i, 1)) << "case " << i << " waited for the producer";
  }
  feed->CloseInput();
  EXPECT_EQ(reader_->ReadToEnd(), "");
  reader_->End();
  EXPECT_EQ(feed->Wait(), 0) << feed->Stderr();
}

TEST_P(DravfeedLiveTest, RewindAndSeekDuringAndAfterTheInputGiveExactCases) {
  auto feed = Feed({"--csv", "-"}, Lines(0, 5), true);
  reader_->Pass(-1);
  EXPECT_EQ(reader_->Read(5), Expected(0, 5));
  reader_->Pass(3);  // during the input
  EXPECT_EQ(reader_->Read(2), Expected(3, 2));
  feed->WriteInput(Lines(5, 2));
  EXPECT_EQ(reader_->Read(2), Expected(5, 2));
  reader_->Pass(0);
  EXPECT_EQ(reader_->Read(7), Expected(0, 7));
  reader_->Pass(9);  // beyond the cases so far: waits for them
  feed->WriteInput(Lines(7, 4));
  EXPECT_EQ(reader_->Read(2), Expected(9, 2));
  reader_->Pass(20);  // beyond the end of the input: ends with it
  feed->CloseInput();
  EXPECT_EQ(reader_->ReadToEnd(), "");
  reader_->Pass(6);  // after the input
  EXPECT_EQ(reader_->ReadToEnd(), Expected(6, 5));
  reader_->Pass(0);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 11));
  reader_->End();
  EXPECT_EQ(feed->Wait(), 0) << feed->Stderr();
}

bool HasSpillFolder(const std::string& dir) {
  std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(dir.c_str()), closedir);
  while (dirent* entry = readdir(listing.get()))
    if (std::string(entry->d_name).rfind("dravfeed-", 0) == 0) return true;
  return false;
}

TEST_P(DravfeedLiveTest, SpilledCasesComeBackByteForByteAndTheSpillFileGoes) {
  feedtest::TempDir spill;
  setenv("TMPDIR", spill.Path("").c_str(), 1);
  auto feed = Feed({"--csv", "-", "--memory", "0.001"}, "", true);  // about 65 cases in memory
  unsetenv("TMPDIR");
  reader_->Pass(-1);
  const std::int64_t kCases = 20000;
  std::string lines = Lines(0, kCases);
  for (std::size_t at = 0; at < lines.size(); at += 50000) feed->WriteInput(lines.substr(at, 50000));
  EXPECT_EQ(reader_->Read(kCases), Expected(0, kCases));
  EXPECT_TRUE(HasSpillFolder(spill.Path(""))) << "the cases did not spill";
  feed->CloseInput();
  EXPECT_EQ(reader_->ReadToEnd(), "");
  reader_->Pass(12345);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(12345, kCases - 12345));
  reader_->Pass(0);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, kCases));
  reader_->End();
  EXPECT_EQ(feed->Wait(), 0) << feed->Stderr();
  EXPECT_FALSE(HasSpillFolder(spill.Path(""))) << "the spill folder was left behind";
}

TEST_P(DravfeedLiveTest, ACaptureReplaysTheSameCasesOverEitherTransport) {
  const std::string capture = dir_.Path("session.cap");
  {
    SocketReader live;
    live.Transport("");
    FeedProcess feed({"--socket", "0", "--variables", kVariables, "--linger", "0.3", "--csv", "-",
                      "--capture", capture, "--byte-order", "swapped"},
                     Lines(0, 300));
    live.Start(feed);
    live.Pass(-1);
    EXPECT_EQ(live.ReadToEnd().size(), 300 * kRecordBytes);
    live.End();
    ASSERT_EQ(feed.Wait(), 0) << feed.Stderr();
  }
  std::vector<std::string> arguments = reader_->Transport(dir_.Path(""));
  arguments.insert(arguments.end(), {"--replay", capture, "--linger", "0.3"});
  FeedProcess replay(arguments);
  reader_->Start(replay);
  reader_->Pass(-1);
  std::string all = reader_->ReadToEnd();
  ASSERT_EQ(all.size(), 300 * kRecordBytes);
  // Served in the captured (swapped) byte order, as the live session was.
  EXPECT_EQ(feedtest::NumberAt(all, kRecordBytes, 299, 0, true), 299.0);
  reader_->Pass(250);
  EXPECT_EQ(reader_->ReadToEnd(), all.substr(250 * kRecordBytes));
  reader_->End();
  EXPECT_EQ(replay.Wait(), 0) << replay.Stderr();
}

TEST_P(DravfeedLiveTest, ALineCutByTheEndOfTheInputIsNotServed) {
  auto feed = Feed({"--csv", "-"}, "0,c0\n1,c1\n2,c");
  reader_->Pass(-1);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 2));
  reader_->End();
  EXPECT_EQ(feed->Wait(), 0) << feed->Stderr();
  EXPECT_NE(feed->Stderr().find("line 3: the input ended inside this line"), std::string::npos)
      << feed->Stderr();
}

TEST_P(DravfeedLiveTest, BadValueFoundLateIsNamedAfterEveryEarlierCaseIsServed) {
  const std::int64_t kGood = 1000000;
  const std::string path = dir_.Path("big.csv");
  { std::ofstream(path) << Lines(0, kGood) << "abc,late\n" << Lines(kGood + 1, 5); }
  auto feed = Feed({"--csv", path});
  reader_->Pass(-1);
  std::string all = reader_->ReadToEnd();
  ASSERT_EQ(all.size(), kGood * kRecordBytes);
  EXPECT_EQ(all.substr(0, 10 * kRecordBytes), Expected(0, 10));
  EXPECT_EQ(all.substr((kGood - 10) * kRecordBytes), Expected(kGood - 10, 10));
  reader_->End();
  EXPECT_EQ(feed->Wait(), 1) << feed->Stderr();
  EXPECT_NE(feed->Stderr().find("big.csv, line 1000001, column 1 (x): \"abc\" is not a number"),
            std::string::npos)
      << feed->Stderr();
}

TEST_P(DravfeedLiveTest, AFollowedFileIsServedAsItGrows) {
  const std::string path = dir_.Path("growing.csv");
  std::ofstream file(path);
  file << Lines(0, 2) << std::flush;
  auto feed = Feed({"--csv", path, "--follow"});
  reader_->Pass(-1);
  EXPECT_EQ(reader_->Read(2), Expected(0, 2));
  file << Lines(2, 3) << std::flush;
  EXPECT_EQ(reader_->Read(3), Expected(2, 3));
  reader_->End();
  feed->Signal(SIGTERM);
  EXPECT_EQ(feed->Wait(), 128 + SIGTERM) << feed->Stderr();
}

INSTANTIATE_TEST_SUITE_P(Transports, DravfeedLiveTest, ::testing::Values("socket", "pipe"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return info.param; });

}  // namespace
