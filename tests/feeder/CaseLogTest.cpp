// Sources that grow while they are served, in the process: the case log, its
// files and captures, live CSV input and paced cases. (A last line without
// its end and bad values found late are seen through dravfeed.)
#include "dravfeed/CaseLog.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <cerrno>
#include <iterator>
#include <random>
#include <thread>

#include "feeder/records/Crc32c.h"
#include "dravfeed/GeneratedCases.h"
#include "dravfeed/LiveCsvInput.h"
#include "dravfeed/FeederError.h"
#include "dravfeed/PacedCases.h"
#include "feeder/records/PosixIo.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"

namespace drav::feed {
namespace {

constexpr std::size_t kRecordBytes = 16;  // "x F8 s A3"

class CaseLogTest : public ::testing::Test {
 protected:
  // Spill files go where the test can look for them.
  CaseLogTest() { setenv("TMPDIR", tmp_.Path().c_str(), 1); }
  ~CaseLogTest() override { unsetenv("TMPDIR"); }
  std::string Rendered(CaseSource& source, std::int64_t first, std::int64_t count) const {
    std::string bytes(static_cast<std::size_t>(count) * kRecordBytes, '\0');
    source.Render(first, count, &bytes[0]);
    return bytes;
  }
  std::string Expected(std::int64_t first, std::int64_t count) { return Rendered(generated_, first, count); }

  test::Watchdog watchdog_{60, "a case log test"};
  test::TempDir tmp_;
  VariableList list_ = VariableList::Parse("x F8 s A3");
  RecordBuilder builder_{list_, ByteOrder::kNative};
  GeneratedCases generated_{builder_, 10000};
};

// Runs `body` with the soft limit `resource` at `bytes`.
template <class Resource, class Body>
void WithLimit(Resource resource, rlim_t bytes, Body body) {
  rlimit saved{};
  getrlimit(resource, &saved);
  rlimit limit = saved;
  limit.rlim_cur = bytes;
  setrlimit(resource, &limit);
  body();
  setrlimit(resource, &saved);
}

TEST_F(CaseLogTest, RendersEveryRunExactlyAcrossTheSpillBoundaryAndLeavesNoFile) {
  for (std::size_t capRecords : {0u, 1u, 7u, 100u, 5000u}) {
    SCOPED_TRACE(capRecords);
    CaseLog log(kRecordBytes, capRecords * kRecordBytes);
    // Batches of odd sizes, so the cap falls inside one.
    for (std::int64_t first = 0, size = 1; first < 1000; first += size, size = size * 3 % 97 + 1) {
      log.AddRendered(generated_, first, std::min<std::int64_t>(size, 1000 - first));
      log.Publish();
    }
    ASSERT_EQ(log.CaseCount(), 1000);
    for (auto run : {std::pair<int, int>{0, 1000}, {0, 1}, {6, 3}, {99, 2}, {500, 500}, {999, 1}})
      EXPECT_EQ(Rendered(log, run.first, run.second), Expected(run.first, run.second)) << run.first;
    EXPECT_EQ(log.SpilledBytes() == 0, capRecords >= 1000);
    // Unnamed from the start: a SIGKILL leaves nothing behind.
    EXPECT_EQ(tmp_.Entries(), std::vector<std::string>()) << "the spill file has a name";
  }
}

// The cap holds for the address space as well: a feeder under a ulimit -v
// sized for its --memory goes on when its cases reach the cap (here 36 MiB
// filled 16,000 bytes at a time, which a vector left to grow by itself
// would take to 66 MB, beside the 33 MB it moves out of).
TEST_F(CaseLogTest, TheMemoryCapHoldsForTheAddressSpaceToo) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's shadow memory takes no address space limit";
#endif
  mallopt(M_MMAP_THRESHOLD, 1 << 20);  // every large block mapped alone and returned when freed
  CaseLog log(kRecordBytes, 36u << 20);
  rlim_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  WithLimit(RLIMIT_AS, pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (85u << 20), [&] {
    while (log.SpilledBytes() == 0) {
      log.AddRendered(generated_, 0, 1000);
      ASSERT_NO_THROW(log.Publish()) << log.CaseCount() << " cases in memory";
    }
  });
}

// The mode of a file created without one is whatever the stack held: at
// times unreadable to its owner, at times readable to all.
TEST_F(CaseLogTest, CapturesAndSpillFilesArePrivateWhateverTheUmask) {
  for (mode_t mask : {00, 022}) {
    const mode_t before = umask(mask);
    const std::string path = tmp_.File("umask" + std::to_string(mask) + ".cap");
    CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
    CaseLog log(kRecordBytes, 0);
    log.AddRendered(generated_, 0, 10);
    log.Publish();
    umask(before);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "capture, umask " << mask;
    // The spill file has no name: find it among our descriptors.
    int spillFiles = 0;
    for (const std::string& fd : test::TempDir::EntriesOf("/proc/self/fd")) {
      char target[4096] = {};
      if (readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1) <= 0) continue;
      if (std::string(target).rfind(tmp_.Path(), 0) != 0 || std::string(target) == path) continue;
      ASSERT_EQ(fstat(std::stoi(fd), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u) << "spill file, umask " << mask;
      ++spillFiles;
    }
    EXPECT_EQ(spillFiles, 1);
  }
}

// A disk that fills (here: the file size limit; a full disk gives ENOSPC the
// same way): the capture holds exactly the cases the servers could see, and
// reads as cut, since its end block is missing.
TEST_F(CaseLogTest, AFullDiskNeverPutsABatchInTheCaptureTwice) {
  signal(SIGXFSZ, SIG_IGN);
  struct Row {
    bool spillFills;
    std::int64_t batch;  // cases: the capture's batches take two blocks, and the second fails
    rlim_t limitBytes;
  };
  for (Row row : {Row{true, 97, 40000}, Row{false, 5000, 150000}}) {
    SCOPED_TRACE(row.spillFills ? "the spill file fills" : "the capture fills");
    // When the spill file is to fill, the capture goes through a pipe, which
    // the size limit does not reach, and is kept in a file afterwards.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    std::string piped;
    std::thread drain([&] {
      char buffer[4096];
      for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) piped.append(buffer, static_cast<std::size_t>(n));
    });
    const std::string path = row.spillFills ? "/proc/self/fd/" + std::to_string(ends[1]) : tmp_.File("full.cap");
    CaseLog log(kRecordBytes, (row.spillFills ? 10 : 100000) * kRecordBytes);
    bool failed = false;
    {
      CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
      log.CopyTo(&capture);
      WithLimit(RLIMIT_FSIZE, row.limitBytes, [&] {
        try {
          for (std::int64_t first = 0; first < 10000; first += row.batch) {
            log.AddRendered(generated_, first, std::min<std::int64_t>(row.batch, 10000 - first));
            log.Publish();
          }
        } catch (const FeederError&) {
          failed = true;
          EndBroken(log);
        }
      });
      log.AddRendered(generated_, 0, 1);
      EXPECT_THROW(log.Publish(), FeederError) << "a broken log took a later batch";
    }
    close(ends[1]);
    drain.join();
    close(ends[0]);
    ASSERT_TRUE(failed);
    EXPECT_TRUE(log.Broken());
    EXPECT_FALSE(log.MoreMayCome());
    pollfd change{log.ChangeFd(), POLLIN, 0};
    EXPECT_EQ(poll(&change, 1, 0), 1) << "servers were not woken";
    CapturedCases captured(row.spillFills ? tmp_.WriteFile("spill.cap", piped) : path);
    EXPECT_GE(captured.CutAt(), 0);
    EXPECT_GT(log.CaseCount(), 0);
    ASSERT_EQ(captured.CaseCount(), log.CaseCount());
    EXPECT_EQ(Rendered(captured, 0, captured.CaseCount()), Expected(0, captured.CaseCount()));
  }
  signal(SIGXFSZ, SIG_DFL);
}

// The end block is the capture's last write; when it fails, the log breaks
// as for any failed write, so that a socket pass ends at a reset.
TEST_F(CaseLogTest, AnEndBlockThatCannotBeWrittenBreaksTheLog) {
  signal(SIGXFSZ, SIG_IGN);
  const std::string path = tmp_.File("end.cap");
  CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
  CaseLog log(kRecordBytes);
  log.CopyTo(&capture);
  log.AddRendered(generated_, 0, 10);
  log.Publish();
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  WithLimit(RLIMIT_FSIZE, static_cast<rlim_t>(st.st_size), [&] { EXPECT_THROW(log.EndInput(), FeederError); });
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_TRUE(log.Broken());
  EXPECT_FALSE(log.MoreMayCome());
}

// 500 captures, each cut at a random byte or with one random bit flipped:
// each is refused, or serves the cases of the whole blocks before its cut
// and says where it was cut. None passes for whole, none serves a wrong case.
TEST_F(CaseLogTest, ACutOrDamagedCaptureNeverServesAWrongCase) {
  EXPECT_EQ(Crc32c("123456789", 9), 0xE3069283u);  // the checksum the format names
  const std::string path = tmp_.File("whole.cap");
  std::vector<std::int64_t> blockEnds, casesBefore;  // where each records block ends; the cases up to it
  {
    CaptureWriter capture(path, "x F8 s A3", ByteOrder::kNative);
    std::int64_t at = 8 + 9 + 5 + 9, cases = 0;  // the magic and the header block
    for (std::int64_t size = 1; cases < 3000; size = size * 7 % 701 + 1) {
      capture.Add(Expected(cases, size).data(), static_cast<std::size_t>(size) * kRecordBytes);
      cases += size;
      blockEnds.push_back(at += 9 + size * static_cast<std::int64_t>(kRecordBytes));
      casesBefore.push_back(cases);
    }
    capture.End();
  }
  std::ifstream in(path, std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::mt19937 random(11);
  int refused = 0, servedCut = 0;
  for (int variant = 0; variant < 500; ++variant) {
    std::string bytes = whole;
    const std::size_t at = random() % bytes.size();
    const bool cut = variant % 2 == 0;
    if (cut)
      bytes.resize(at);
    else
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << random() % 8));
    SCOPED_TRACE((cut ? "cut at " : "bit flipped at ") + std::to_string(at));
    try {
      CapturedCases captured(tmp_.WriteFile("variant.cap", bytes));
      ++servedCut;
      EXPECT_GE(captured.CutAt(), 0) << "passes for whole";
      EXPECT_EQ(Rendered(captured, 0, captured.CaseCount()), Expected(0, captured.CaseCount()));
      if (!cut) continue;
      const auto after = std::upper_bound(blockEnds.begin(), blockEnds.end(), static_cast<std::int64_t>(at));
      EXPECT_EQ(captured.CaseCount(), after == blockEnds.begin() ? 0 : casesBefore[after - blockEnds.begin() - 1]);
    } catch (const InputError&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(servedCut, 0);
  RecordProperty("refused", refused);
  RecordProperty("servedCut", servedCut);
}

// The example drawn in docs/PROTOCOL.md, which other programs read and write
// captures by: one case (x = 1, s = "ab") of "x F8 s A3", little-endian.
TEST_F(CaseLogTest, ACaptureHasTheDrawnBytesAndABlockOfAnUnknownTypeIsCorrupt) {
  const char kDrawn[] =
      "DRAVCAP2"
      "\x36\xDD\x88\x88\x0E\0\0\0\x01\x10\0\0\0Lx F8 s A3"
      "\x32\x73\xC4\xAB\x10\0\0\0\x02\0\0\0\0\0\0\xF0\x3F" "ab      "
      "\x33\x61\xB5\x6F\x08\0\0\0\x03\x01\0\0\0\0\0\0\0";
  const std::string drawn(kDrawn, sizeof kDrawn - 1);
  const std::string path = tmp_.File("drawn.cap");
  const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  {
    CaptureWriter capture(path, "x F8 s A3", little ? ByteOrder::kNative : ByteOrder::kSwapped);
    capture.Add(drawn.data() + 40, kRecordBytes);
    capture.End();
  }
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), drawn);
  // A block of type 7 before the end block: whatever its length, it is
  // refused as such, never read as an end block.
  for (std::string payload : {"", "\x01"}) {
    std::string block(9, '\0');
    block[4] = static_cast<char>(payload.size());
    block[8] = 7;
    block += payload;
    const std::uint32_t crc = Crc32c(payload.data(), payload.size(), Crc32c(&block[4], 5));
    for (int i = 0; i < 4; ++i) block[i] = static_cast<char>(crc >> (8 * i));
    try {
      CapturedCases(tmp_.WriteFile("typed.cap", std::string(drawn).insert(56, block)));
      ADD_FAILURE() << "a block of type 7 was accepted";
    } catch (const InputError& error) {
      EXPECT_NE(std::string(error.what()).find("byte 56 is corrupt (its type or length cannot be)"), std::string::npos)
          << error.what();
    }
  }
}

// errno may hold EINTR from an earlier call; a write that worked is not
// taken for an interrupted one (which would send its bytes again).
TEST(PosixIoTest, WriteAllIsNotMisledByAStaleEintr) {
  test::Watchdog watchdog(10, "a write after a stale EINTR");  // a write repeated for ever fills the pipe
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  errno = EINTR;
  EXPECT_EQ(posix::WriteAll(ends[1], "abc", 3).value, 3);
  char got[8] = {};
  EXPECT_EQ(read(ends[0], got, sizeof got), 3);
  close(ends[0]);
  close(ends[1]);
}

TEST_F(CaseLogTest, PacedCasesArriveInOrderAndEndTheInput) {
  CaseLog paced(kRecordBytes, 0);
  EXPECT_EQ(FeedPaced(generated_, 0, paced), 10000);
  EXPECT_FALSE(paced.MoreMayCome());
  EXPECT_EQ(Rendered(paced, 0, 10000), Expected(0, 10000));
}

// Written into a real pipe in pieces of `piece` bytes (0: random sizes).
TEST_F(CaseLogTest, LiveCsvGivesTheSameCasesHoweverTheInputIsCut) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += std::to_string(i) + ",\"c" + std::to_string(i) + "\"\r\n";
  for (std::size_t piece : {1u, 2u, 17u, 4096u, 0u}) {
    SCOPED_TRACE(piece);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    std::thread writer([&] {
      std::mt19937 random(7);
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = std::min(piece ? piece : 1 + random() % 300, text.size() - at);
        at += static_cast<std::size_t>(std::max<ssize_t>(write(ends[1], text.data() + at, n), 0));
      }
      close(ends[1]);
    });
    CaseLog log(kRecordBytes, 64 * kRecordBytes);
    EXPECT_EQ(ReadLiveCsv(ends[0], builder_, log, LiveInputOptions()).cases, 300);
    writer.join();
    close(ends[0]);
    EXPECT_FALSE(log.MoreMayCome());
    EXPECT_EQ(Rendered(log, 0, 300), Expected(0, 300));
  }
}

}  // namespace
}  // namespace drav::feed
