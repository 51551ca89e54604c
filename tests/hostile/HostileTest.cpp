// Hostile data or rewind paths (files, links, a directory, a missing path, an unserved FIFO, a swapped
// path) end with their message (2279, 2280) or a clean end, never hang, and touch only the plug-in's FIFO.
#include <filesystem>
#include <map>
#include <sstream>

#include "stream/BoundedFifoOpen.h"
#include "tests/support/ScriptedFeeder.h"
#include "tests/support/StreamSupport.h"

namespace drav::test {
namespace {

// Every entry of a folder: type, inode, and a file's bytes or a link's target.
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const TempDir& dir) {
  Snapshot out;
  for (const std::string& name : dir.Entries()) {
    const std::string path = dir.File(name);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) continue;
    std::ostringstream state;
    state << (info.st_mode & S_IFMT) << " inode " << info.st_ino;
    if (S_ISREG(info.st_mode)) state << " holding " << std::ifstream(path, std::ios::binary).rdbuf();
    if (S_ISLNK(info.st_mode)) state << " to " << std::filesystem::read_symlink(path).string();
    out[name] = state.str();
  }
  return out;
}

std::size_t Entries(const char* folder) { return TempDir::EntriesOf(folder).size(); }

void WriteAndClose(const std::string& path, const std::string& bytes) {
  const int fd = child::OpenForWriting(path.c_str());
  child::Write(fd, bytes, {});
  close(fd);
}

enum class Kind { kFifo, kRegularFile, kLinkToFile, kLinkToFifo, kDirectory, kMissing, kUnservedFifo };
enum class Role { kData, kRewind };

class HostileTest : public ::testing::Test {
 protected:
  HostileTest() { fifo::SetDataPipeAllowanceMsForTesting(1000); }
  ~HostileTest() override { fifo::SetDataPipeAllowanceMsForTesting(0); }
  const std::vector<std::string> records_ = TestRecords(3);
  // The rewind check waits 20 s for a reader of a FIFO nobody serves.
  Watchdog watchdog_{90, "hostile path test"};
};

TEST_F(HostileTest, PathsEndWithTheirMessageOrTheirCasesAndRemoveOnlyTheOwnFifo) {
  const struct {
    const char* label;
    Role role;
    Kind kind;
    const char *refusal, *removed;  // refusal null: accepted, the records read (none from a directory)
  } cases[] = {  // removed: what the end of the pass removes
      {"data: the feeder's FIFO", Role::kData, Kind::kFifo, nullptr, "data.pipe"},
      {"data: regular file", Role::kData, Kind::kRegularFile, nullptr, ""},
      {"data: link to a regular file", Role::kData, Kind::kLinkToFile, nullptr, ""},
      {"data: link to the feeder's FIFO", Role::kData, Kind::kLinkToFifo, nullptr, ""},
      {"data: directory", Role::kData, Kind::kDirectory, nullptr, ""},
      {"data: missing path", Role::kData, Kind::kMissing, "[2279]", ""},
      {"data: FIFO nobody serves", Role::kData, Kind::kUnservedFifo, "[2279]", ""},
      {"rewind: link to the feeder's FIFO", Role::kRewind, Kind::kLinkToFifo, nullptr, "data.pipe"},
      {"rewind: regular file", Role::kRewind, Kind::kRegularFile, "[2280]", ""},
      {"rewind: link to a regular file", Role::kRewind, Kind::kLinkToFile, "[2280]", ""},
      {"rewind: directory", Role::kRewind, Kind::kDirectory, "[2280]", ""},
      {"rewind: missing path", Role::kRewind, Kind::kMissing, "[2280]", ""},
      {"rewind: FIFO nobody reads", Role::kRewind, Kind::kUnservedFifo, "[2280]", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    const std::string data = dir.MakeFifo("data.pipe"), rewind = dir.MakeFifo("rewind.pipe");
    // What stands at "target", the path the command is given (but the feeder's FIFO itself).
    const std::string target = c.kind == Kind::kFifo ? data : dir.File("target"), records = Joined(records_);
    int made = 0;
    if (c.kind == Kind::kRegularFile) dir.WriteFile("target", records);
    if (c.kind == Kind::kLinkToFile) made = symlink(dir.WriteFile("file", records).c_str(), target.c_str());
    if (c.kind == Kind::kLinkToFifo) made = symlink((c.role == Role::kData ? data : rewind).c_str(), target.c_str());
    if (c.kind == Kind::kDirectory) made = mkdir(target.c_str(), 0700);  // empty: a careless remove() takes it
    if (c.kind == Kind::kUnservedFifo) dir.MakeFifo("target");
    ASSERT_EQ(made, 0);
    const bool feederWrites = c.role == Role::kRewind || c.kind == Kind::kFifo || c.kind == Kind::kLinkToFifo;
    ScriptedFeeder feeder([&] {
      if (c.role == Role::kRewind && c.kind == Kind::kLinkToFifo) child::OpenForReading(rewind.c_str());
      if (feederWrites) WriteAndClose(data, Joined(records_));
      child::PauseMillis(60000);  // killed at the end of the case
    });
    const Snapshot before = Take(dir);
    const std::size_t descriptors = Entries("/proc/self/fd");
    HostRun run = RunHostCommand(c.role == Role::kData ? PipeCommand(target) : PipeCommand(data, target));
    if (c.refusal == nullptr) {
      ASSERT_NE(run.source, nullptr);
      const std::size_t count = c.kind == Kind::kDirectory ? 0 : 3;
      EXPECT_EQ(ReadPass(*run.source).size(), count);
      EXPECT_EQ(run.source->RowCount(), static_cast<long long>(count));
      run.source.reset();
    } else {
      EXPECT_EQ(run.source, nullptr);
      ASSERT_EQ(run.messages.size(), 1u);
      EXPECT_EQ(run.messages[0].second, 1);
      EXPECT_NE(run.messages[0].first.find(c.refusal), std::string::npos) << run.messages[0].first;
      EXPECT_NE(run.messages[0].first.find(target), std::string::npos) << run.messages[0].first;
    }
    Snapshot expected = before;
    expected.erase(c.removed);
    EXPECT_EQ(Take(dir), expected);
    EXPECT_EQ(Entries("/proc/self/fd"), descriptors);
  }
}

// A file put at the data or rewind path while the stream is open is never removed nor written by a rewind.
TEST_F(HostileTest, PathSwappedForAFileAfterTheOpenIsNeverTouched) {
  for (const bool swapRewind : {false, true}) {
    SCOPED_TRACE(swapRewind ? "rewind pipe swapped" : "data pipe swapped");
    TempDir dir;
    const std::string data = dir.MakeFifo("data.pipe"), rewind = dir.MakeFifo("rewind.pipe");
    ScriptedFeeder feeder([&] {
      child::OpenForReading(rewind.c_str());
      WriteAndClose(data, Joined(records_));
      child::PauseMillis(60000);
    });
    HostRun run = RunHostCommand(PipeCommand(data, rewind));
    ASSERT_NE(run.source, nullptr);
    ASSERT_EQ(rename(dir.WriteFile("precious", "not a pipe\n").c_str(), (swapRewind ? rewind : data).c_str()), 0);
    Snapshot swapped = Take(dir);
    EXPECT_EQ(ReadPass(*run.source), records_);
    EXPECT_TRUE(ReadPass(*run.source).empty()) << "a rewind through a file that is no FIFO";
    run.source.reset();
    if (swapRewind) swapped.erase("data.pipe");  // its own FIFO, still at its path
    EXPECT_EQ(Take(dir), swapped);
  }
}

// The feeder took "RWND" and "SEEK" and went away: nobody opens the FIFO at the data path for writing again.
TEST_F(HostileTest, ReopenAfterRewindOrSeekGivesUpAndLeavesNothingBehind) {
  TempDir dir;
  const std::string data = dir.MakeFifo("data.pipe"), rewind = dir.MakeFifo("rewind.pipe");
  const int control = open(rewind.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // lets every message through
  ScriptedFeeder feeder([&] { WriteAndClose(data, Joined(records_)); });
  const std::size_t descriptors = Entries("/proc/self/fd"), threads = Entries("/proc/self/task");
  {
    auto source = OpenSource(data, rewind.c_str(), true, false);
    EXPECT_EQ(ReadPass(*source), records_);
    dir.MakeFifo("data.pipe");  // the first pass removed its pipe; a stale one takes its place
    EXPECT_TRUE(ReadPass(*source).empty()) << "rewind";
    EXPECT_EQ(source->RowCount(), 0) << "a rewind that reopened nothing ends its pass at once";
    EXPECT_TRUE(ReadPass(*source, -1, 2).empty()) << "seek";
    EXPECT_EQ(source->RowCount(), 0) << "a seek that reopened nothing leaves the count alone";
  }
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors);
  // A joined thread may stay listed a moment while the kernel ends it.
  for (int i = 0; i < 500 && Entries("/proc/self/task") > threads; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Entries("/proc/self/task"), threads);
  char sent[64];
  const ssize_t length = read(control, sent, sizeof sent);
  close(control);
  ASSERT_EQ(length, 4 + 12);
  EXPECT_EQ(std::string(sent, 8), "RWNDSEEK");
}

}  // namespace
}  // namespace drav::test
