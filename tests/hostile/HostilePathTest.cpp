// Hostile paths given to the command as data pipe or as rewind pipe: a
// regular file, symbolic links (to a FIFO and to a regular file), a
// directory, a missing path, and a path swapped for another file after the
// stream was opened. Whatever happens, each case ends with a clear message or
// a clean end of the data, and nothing is modified or removed but the named
// pipe the plug-in itself opened. Real FIFOs, a feeder on threads, and a
// watchdog on every test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/CommandAdapter.h"
#include "host/CommandTokenizer.h"
#include "host/DravCaseIterator.h"
#include "host/DravDataSource.h"
#include "host/OBS.h"
#include "host/ServerDataManager.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/support/Watchdog.h"

using hostile::FifoReader;
using hostile::FifoWriter;
using hostile::FileState;
using hostile::TempDir;
using ::testing::HasSubstr;

// The plug-in's entry point, as the host finds it in the library.
extern "C" bool ProcessDACSyntax(DACAdapterBase* adapter);

namespace {

using Snapshot = std::map<std::string, FileState>;

// Opening a missing data pipe is retried for about 20 s before it fails.
constexpr int kWatchdogSeconds = 90;
constexpr int kCases = 3;

std::vector<std::pair<std::string, int>>& Messages() {
  static std::vector<std::pair<std::string, int>> messages;
  return messages;
}

void Collect(const char* text, int severity) { Messages().emplace_back(text, severity); }

// The records of a stream of one F8 variable with the values 1 .. count.
std::string Records(int count) {
  std::string bytes;
  for (int i = 1; i <= count; ++i) {
    double value = i;
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  return bytes;
}

std::string Command(const std::string& pipe, const std::string& rewind = "") {
  std::string text = "GET DATA /TYPE = STREAM /PIPE = '" + pipe + "'";
  if (!rewind.empty()) text += " /REWINDABLE = '" + rewind + "'";
  return text + " /VARIABLES = a F8.";
}

// Runs the command as the host does; the registered source, or null.
std::unique_ptr<DRAV_DataSource> RunCommand(const std::string& command) {
  Messages().clear();
  TokenizeResult tokens = TokenizeStreamCommand(command);
  EXPECT_TRUE(tokens.ok) << tokens.error;
  CommandAdapter adapter(tokens.tokens, &Collect);
  if (!ProcessDACSyntax(&adapter)) return nullptr;
  return ServerDataManager::GetInstance().TakeLast();
}

// One pass: the values of every case delivered, then the iterator ends.
std::vector<double> ReadPass(const DRAV_DataSource& source) {
  OBS obs(source.GetObsAreaSize());
  std::unique_ptr<DRAV_InputCaseIterator> iterator(source.MakeIterator(&obs));
  std::vector<double> values;
  while (iterator->Next() == 1 && values.size() < 1000) {
    double value;
    std::memcpy(&value, iterator->GetObsPointer(0), sizeof value);
    values.push_back(value);
  }
  return values;
}

const std::vector<double> kValues = {1.0, 2.0, 3.0};

// The one error the host was told, which must carry `name`.
void ExpectRefusal(const char* id, const std::string& name) {
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].second, 1);
  EXPECT_THAT(Messages()[0].first, HasSubstr(id));
  EXPECT_THAT(Messages()[0].first, HasSubstr(name));
}

Snapshot Without(Snapshot snapshot, const std::string& name) {
  snapshot.erase(name);
  return snapshot;
}

// What a hostile path is made of. "target" is the path given to the command;
// a link points at "file" or "fifo" beside it.
enum class Kind { kRegularFile, kLinkToFile, kLinkToFifo, kDirectory, kMissing };

struct Case {
  const char* label;
  Kind kind;
};

const Case kKinds[] = {
    {"regular file", Kind::kRegularFile}, {"link to a regular file", Kind::kLinkToFile},
    {"link to a FIFO", Kind::kLinkToFifo}, {"directory", Kind::kDirectory},
    {"missing path", Kind::kMissing},
};

void MakeTarget(const TempDir& dir, Kind kind) {
  const std::string target = dir.Path("target");
  switch (kind) {
    case Kind::kRegularFile:
      hostile::WriteFile(target, Records(kCases));
      break;
    case Kind::kLinkToFile:
      hostile::WriteFile(dir.Path("file"), Records(kCases));
      ASSERT_EQ(symlink("file", target.c_str()), 0);
      break;
    case Kind::kLinkToFifo:
      hostile::MakeFifo(dir.Path("fifo"));
      ASSERT_EQ(symlink("fifo", target.c_str()), 0);
      break;
    case Kind::kDirectory:
      // Empty: a careless remove() would delete it.
      ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
      break;
    case Kind::kMissing:
      break;
  }
}

class HostilePath : public ::testing::Test {
 protected:
  drav::test::Watchdog watchdog_{kWatchdogSeconds, "hostile path test"};
  TempDir dir_;
};

// ---- As the data pipe -----------------------------------------------------

TEST_F(HostilePath, DataPipeNeverRemovesWhatIsNotItsOwnFifo) {
  for (const Case& c : kKinds) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    MakeTarget(dir, c.kind);
    std::unique_ptr<FifoWriter> feeder;
    if (c.kind == Kind::kLinkToFifo)
      feeder = std::make_unique<FifoWriter>(dir.Path("fifo"), Records(kCases));
    const Snapshot before = dir.Snapshot();

    std::unique_ptr<DRAV_DataSource> source = RunCommand(Command(dir.Path("target")));
    if (source != nullptr) {
      const std::vector<double> values = ReadPass(*source);
      if (c.kind == Kind::kDirectory) {
        EXPECT_TRUE(values.empty());
      } else {
        EXPECT_EQ(values, kValues);
        EXPECT_EQ(source->RowCount(), kCases);
      }
      source.reset();
    } else {
      // Only a path that names nothing readable may be refused, and then
      // with the open failure naming the path.
      EXPECT_TRUE(c.kind == Kind::kMissing || c.kind == Kind::kDirectory);
      ExpectRefusal("[2279]", dir.Path("target"));
    }
    if (feeder) feeder->Stop();
    EXPECT_EQ(dir.Snapshot(), before);
  }
}

TEST_F(HostilePath, DataPipeSwappedForAFileAfterOpeningIsNotRemoved) {
  hostile::MakeFifo(dir_.Path("data"));
  FifoWriter feeder(dir_.Path("data"), Records(kCases));
  std::unique_ptr<DRAV_DataSource> source = RunCommand(Command(dir_.Path("data")));
  ASSERT_NE(source, nullptr);

  // Someone puts another file at the path while the stream is open.
  hostile::WriteFile(dir_.Path("precious"), "not a pipe\n");
  ASSERT_EQ(rename(dir_.Path("precious").c_str(), dir_.Path("data").c_str()), 0);
  const Snapshot swapped = dir_.Snapshot();

  EXPECT_EQ(ReadPass(*source), kValues);  // the open pipe still feeds the pass
  source.reset();
  EXPECT_EQ(dir_.Snapshot(), swapped);
}

TEST_F(HostilePath, OwnDataFifoIsRemovedAtTheEndOfThePass) {
  // The counterpart of the cases above: the pipe the plug-in opened does go.
  hostile::MakeFifo(dir_.Path("data"));
  hostile::WriteFile(dir_.Path("neighbour"), "stays\n");
  FifoWriter feeder(dir_.Path("data"), Records(kCases));
  const Snapshot before = dir_.Snapshot();
  std::unique_ptr<DRAV_DataSource> source = RunCommand(Command(dir_.Path("data")));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(ReadPass(*source), kValues);
  source.reset();
  EXPECT_EQ(dir_.Snapshot(), Without(before, "data"));
}

// ---- As the rewind pipe ---------------------------------------------------

TEST_F(HostilePath, RewindPipeThatIsNoFifoIsRefusedAndNeverWritten) {
  for (const Case& c : kKinds) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    MakeTarget(dir, c.kind);
    hostile::MakeFifo(dir.Path("data"));
    FifoWriter feeder(dir.Path("data"), Records(kCases));
    std::unique_ptr<FifoReader> control;
    if (c.kind == Kind::kLinkToFifo) control = std::make_unique<FifoReader>(dir.Path("fifo"));
    const Snapshot before = dir.Snapshot();

    std::unique_ptr<DRAV_DataSource> source =
        RunCommand(Command(dir.Path("data"), dir.Path("target")));
    if (c.kind == Kind::kLinkToFifo) {
      // A link that leads to a FIFO leads to a named pipe: accepted, and the
      // pass ends by removing only the data pipe it opened.
      ASSERT_NE(source, nullptr);
      EXPECT_EQ(ReadPass(*source), kValues);
      source.reset();
      EXPECT_EQ(control->Received(), "");
      EXPECT_EQ(dir.Snapshot(), Without(before, "data"));
    } else {
      EXPECT_EQ(source, nullptr);
      ExpectRefusal("[2280]", dir.Path("target"));
      // The rewind check comes first: the data pipe was not even opened.
      EXPECT_FALSE(feeder.Delivered());
      EXPECT_EQ(dir.Snapshot(), before);
    }
  }
}

TEST_F(HostilePath, RewindPipeSwappedForAFileIsNeverWrittenTo) {
  hostile::MakeFifo(dir_.Path("data"));
  hostile::MakeFifo(dir_.Path("rewind"));
  FifoReader control(dir_.Path("rewind"));
  FifoWriter feeder(dir_.Path("data"), Records(kCases));
  std::unique_ptr<DRAV_DataSource> source = RunCommand(Command(dir_.Path("data"), dir_.Path("rewind")));
  ASSERT_NE(source, nullptr);

  hostile::WriteFile(dir_.Path("precious"), "not a pipe\n");
  ASSERT_EQ(rename(dir_.Path("precious").c_str(), dir_.Path("rewind").c_str()), 0);
  EXPECT_EQ(ReadPass(*source), kValues);
  const Snapshot afterFirstPass = dir_.Snapshot();
  EXPECT_EQ(afterFirstPass.count("data"), 0u);  // its own pipe, removed

  // A second pass asks for a rewind: the request must not land in the file
  // now standing at the rewind path, and the pass ends cleanly.
  EXPECT_TRUE(ReadPass(*source).empty());
  source.reset();
  EXPECT_EQ(dir_.Snapshot(), afterFirstPass);
  EXPECT_EQ(control.Received(), "");
}

}  // namespace

