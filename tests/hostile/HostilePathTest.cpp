// Hostile paths given to the command as data pipe or as rewind pipe: a
// regular file, symbolic links (to a FIFO and to a regular file), a
// directory, a missing path, and a path swapped for another file after the
// stream was opened. Whatever happens, each case ends with a clear message or
// a clean end of the data, and nothing is modified or removed but the named
// pipe the plug-in itself opened. Real FIFOs, a feeder on a thread, and a
// watchdog on every test.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

// Every entry of the folder with what it is: type, device and inode, and a
// regular file's bytes or a link's target. Equal snapshots: nothing was
// touched.
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const TempDir& dir) {
  Snapshot out;
  DIR* folder = opendir(dir.Path().c_str());
  while (dirent* entry = folder ? readdir(folder) : nullptr) {
    const std::string name = entry->d_name, path = dir.File(name);
    struct stat info {};
    if (name == "." || name == ".." || lstat(path.c_str(), &info) != 0) continue;
    std::string& state = out[name];
    state = (S_ISREG(info.st_mode)    ? "file"
             : S_ISFIFO(info.st_mode) ? "fifo"
             : S_ISLNK(info.st_mode)  ? "link"
             : S_ISDIR(info.st_mode)  ? "directory"
                                      : "other") +
            std::string(" device ") + std::to_string(info.st_dev) + " inode " + std::to_string(info.st_ino);
    if (S_ISREG(info.st_mode)) {
      std::ostringstream bytes;
      bytes << std::ifstream(path, std::ios::binary).rdbuf();
      state += " holding " + bytes.str();
    }
    char target[256];
    const ssize_t length = S_ISLNK(info.st_mode) ? readlink(path.c_str(), target, sizeof target) : 0;
    if (length > 0) state += " to " + std::string(target, static_cast<std::size_t>(length));
  }
  if (folder) closedir(folder);
  return out;
}

Snapshot Without(Snapshot snapshot, const std::string& name) {
  snapshot.erase(name);
  return snapshot;
}

std::string Command(const std::string& pipe, const std::string& rewind = "") {
  std::string text = "GET DATA /TYPE = STREAM /PIPE = '" + pipe + "'";
  if (!rewind.empty()) text += " /REWINDABLE = '" + rewind + "'";
  return text + " /VARIABLES = " + kTestVariables + ".";
}

// The one error the host was told, which must carry `name`.
void ExpectRefusal(const HostRun& run, const char* id, const std::string& name) {
  EXPECT_EQ(run.source, nullptr);
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].second, 1);
  EXPECT_NE(run.messages[0].first.find(id), std::string::npos) << run.messages[0].first;
  EXPECT_NE(run.messages[0].first.find(name), std::string::npos) << run.messages[0].first;
}

// What a hostile path is made of. "target" is the path given to the
// command; a link points at "file" or at the feeder's pipe beside it.
enum class Kind { kRegularFile, kLinkToFile, kLinkToFifo, kDirectory, kMissing };

const struct {
  const char* label;
  Kind kind;
} kKinds[] = {
    {"regular file", Kind::kRegularFile}, {"link to a regular file", Kind::kLinkToFile},
    {"link to a FIFO", Kind::kLinkToFifo}, {"directory", Kind::kDirectory},
    {"missing path", Kind::kMissing},
};

const std::vector<std::string> kRecords = TestRecords(3);

void MakeTarget(const TempDir& dir, Kind kind, const std::string& fifo) {
  const std::string target = dir.File("target");
  int made = 0;
  switch (kind) {
    case Kind::kRegularFile:
      dir.WriteFile("target", Joined(kRecords));
      break;
    case Kind::kLinkToFile:
      dir.WriteFile("file", Joined(kRecords));
      made = symlink("file", target.c_str());
      break;
    case Kind::kLinkToFifo:
      made = symlink(fifo.c_str(), target.c_str());
      break;
    case Kind::kDirectory:  // empty: a careless remove() would delete it
      made = mkdir(target.c_str(), 0700);
      break;
    case Kind::kMissing:
      break;
  }
  ASSERT_EQ(made, 0);
}

class HostilePath : public ::testing::Test {
 protected:
  // Opening a missing data pipe is retried for about 20 s before it fails.
  Watchdog watchdog_{90, "hostile path test"};
  TempDir dir_;
};

// ---- As the data pipe -----------------------------------------------------

TEST_F(HostilePath, DataPipeNeverRemovesWhatIsNotItsOwnFifo) {
  for (const auto& c : kKinds) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    std::unique_ptr<TestFeeder> feeder;
    if (c.kind == Kind::kLinkToFifo) feeder = TestFeeder::OverPipe(dir, false, kRecords);
    MakeTarget(dir, c.kind, "data.pipe");
    const Snapshot before = Take(dir);

    HostRun run = RunHostCommand(Command(dir.File("target")));
    if (run.accepted) {
      ASSERT_NE(run.source, nullptr);
      if (c.kind == Kind::kDirectory) {
        EXPECT_TRUE(ReadPass(*run.source).empty());
      } else {
        EXPECT_EQ(ReadPass(*run.source), kRecords);
        EXPECT_EQ(run.source->RowCount(), 3);
      }
      run.source.reset();
    } else {
      // Only a path that names nothing readable may be refused, and then
      // with the open failure naming the path.
      EXPECT_TRUE(c.kind == Kind::kMissing || c.kind == Kind::kDirectory);
      ExpectRefusal(run, "[2279]", dir.File("target"));
    }
    EXPECT_EQ(Take(dir), before);
  }
}

TEST_F(HostilePath, DataPipeSwappedForAFileAfterOpeningIsNotRemoved) {
  auto feeder = TestFeeder::OverPipe(dir_, false, kRecords);
  HostRun run = RunHostCommand(Command(feeder->StreamName()));
  ASSERT_NE(run.source, nullptr);
  // Someone puts another file at the path while the stream is open.
  ASSERT_EQ(rename(dir_.WriteFile("precious", "not a pipe\n").c_str(), feeder->StreamName().c_str()), 0);
  const Snapshot swapped = Take(dir_);
  EXPECT_EQ(ReadPass(*run.source), kRecords);  // the open pipe still feeds the pass
  run.source.reset();
  EXPECT_EQ(Take(dir_), swapped);
}

// ---- As the rewind pipe ---------------------------------------------------

TEST_F(HostilePath, RewindPipeThatIsNoFifoIsRefusedAndNeverWritten) {
  for (const auto& c : kKinds) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    // The feeder holds its rewind pipe open for reading only when the link
    // leads to it.
    auto feeder = TestFeeder::OverPipe(dir, c.kind == Kind::kLinkToFifo, kRecords);
    MakeTarget(dir, c.kind, "rewind.pipe");
    const Snapshot before = Take(dir);

    HostRun run = RunHostCommand(Command(feeder->StreamName(), dir.File("target")));
    if (c.kind == Kind::kLinkToFifo) {
      // A link that leads to a FIFO leads to a named pipe: accepted, and the
      // pass ends by removing only the data pipe it opened.
      ASSERT_NE(run.source, nullptr);
      EXPECT_EQ(ReadPass(*run.source), kRecords);
      run.source.reset();
      EXPECT_EQ(Take(dir), Without(before, "data.pipe"));
    } else {
      // The rewind check comes first: the data pipe is not even opened.
      ExpectRefusal(run, "[2280]", dir.File("target"));
      EXPECT_EQ(Take(dir), before);
    }
    EXPECT_EQ(feeder->ControlBytes(), "");
  }
}

TEST_F(HostilePath, RewindPipeSwappedForAFileIsNeverWrittenTo) {
  auto feeder = TestFeeder::OverPipe(dir_, true, kRecords);
  HostRun run = RunHostCommand(Command(feeder->StreamName(), feeder->RewindName()));
  ASSERT_NE(run.source, nullptr);
  ASSERT_EQ(rename(dir_.WriteFile("precious", "not a pipe\n").c_str(), feeder->RewindName().c_str()), 0);
  EXPECT_EQ(ReadPass(*run.source), kRecords);
  const Snapshot afterFirstPass = Take(dir_);
  EXPECT_EQ(afterFirstPass.count("data.pipe"), 0u);  // its own pipe, removed

  // A second pass asks for a rewind: the request must not land in the file
  // now standing at the rewind path, and the pass ends cleanly.
  EXPECT_TRUE(ReadPass(*run.source).empty());
  run.source.reset();
  EXPECT_EQ(Take(dir_), afterFirstPass);
  EXPECT_EQ(feeder->ControlBytes(), "");
}

}  // namespace
}  // namespace test
}  // namespace drav
