// dravfeed's command line and its named pipes, as a real process: what it
// refuses and with which exit status, what it leaves at the data path, and
// how signals end it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dravfeed/FeederError.h"
#include "dravfeed/PipeServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav {
namespace test {
namespace {

TEST(DravfeedTool, EachRefusalExitsWithItsStatusAndNamesTheProblem) {
  Watchdog watchdog(60, "dravfeed's refusals");
  TempDir dir;
  const std::string precious = dir.WriteFile("precious", "kept");
  const std::string notes = dir.WriteFile("notes.csv", "x,s\n1,a\n");
  auto x = [](std::vector<std::string> args) {
    args.insert(args.end(), {"--variables", "x F8"});
    return args;
  };
  auto csv = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--socket", "0", "--csv", "-"});
    return x(args);
  };
  const std::string kOneCharacter = " takes one character (\\t for a tab) other than a quote or a line end, not ";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {x({"--generate", "3"}), 2, "give one of --pipe PATH or --socket PORT"},
      {x({"--pipe", "p", "--socket", "0", "--generate", "3"}), 2, "give one of --pipe"},
      {x({"--socket", "0"}), 2, "give one of --csv FILE, --generate N, --replay FILE or --from URL"},
      {x({"--socket", "0", "--generate", "3", "--create"}), 2, "--create goes with --publish"},
      {x({"--socket", "0", "--generate", "3", "--snapshot"}), 2, "--snapshot goes with --from"},
      {x({"--socket", "0", "--from", "nats://h:1/s", "--snapshot", "--follow"}), 2, "give one of --snapshot or --follow"},
      {x({"--socket", "0", "--from", "nats://h:1/s", "--capture", "c"}), 2, "--capture goes not with --from"},
      {x({"--publish", "nats://h:1/s", "--socket", "0", "--generate", "3"}), 2, "--publish serves no reader"},
      {x({"--publish", "nats://h:1/s", "--from", "nats://h:1/t"}), 2, "--publish takes its cases from"},
#if DRAV_HAVE_JETSTREAM
      {x({"--socket", "0", "--from", "nats:/h:1/s"}), 2, "--from: \"nats:/h:1/s\" is no stream address"},
      {x({"--publish", "nats://h:port/s", "--generate", "3"}), 2, "--publish: the port of \"nats://h:port/s\" takes a whole number"},
      {{"--info", "nats://h:1/s", "--from", "nats://h:1/t"}, 2, "--info stands alone"},
#endif
      {x({"--socket", "0", "--generate", "3", "--replay", "c"}), 2, "give one of --csv FILE, --generate N"},
      {x({"--socket", "0", "--generate", "3", "--follow"}), 2, "--follow goes with --csv FILE"},
      {x({"--socket", "0", "--csv", "-", "--follow"}), 2, "--follow goes with --csv FILE"},
      {x({"--socket", "0", "--csv", "-", "--rate", "5"}), 2, "--rate goes with --generate"},
      {x({"--socket", "0", "--generate", "3", "--rate", "fast"}), 2, "--rate takes a number"},
      {x({"--socket", "0", "--generate", "3", "--memory", "-1"}), 2, "--memory takes a number"},
      {x({"--socket", "70000", "--generate", "3"}), 2, "--socket takes a whole number"},
      {x({"--socket", "0", "--generate", "-1"}), 2, "--generate takes a whole number"},
      {x({"--socket", "0", "--generate", "3", "--byte-order", "big"}), 2, "--byte-order takes"},
      {x({"--socket", "0", "--generate", "3", "--rewind-pipe", "r"}), 2, "--rewind-pipe goes with --pipe"},
      {x({"--pipe", "p", "--generate", "3", "--bind", "::"}), 2, "--bind goes with --socket"},
      {x({"--socket", "0", "--generate", "3", "--linger", "soon"}), 2, "--linger takes"},
      {x({"--socket", "0", "--generate", "3", "--header"}), 2, "--header goes with --csv"},
      {x({"--socket", "0", "--generate", "3", "stray"}), 2, "unexpected argument 'stray'; see dravfeed --help"},
      {csv({"--delimiter", "ab"}), 2, "--delimiter" + kOneCharacter + "\"ab\"\n"},
      {csv({"--delimiter", "\""}), 2, "--delimiter" + kOneCharacter + "\"\"\"\n"},
      {csv({"--comment", ""}), 2, "--comment" + kOneCharacter + "\"\"\n"},
      {csv({"--delimiter", ";", "--comment", ";"}), 2, "--comment and the delimiter cannot be the same character\n"},
      {csv({"--tsv", "--delimiter", ";"}), 2, "give one of --delimiter or --tsv\n"},
      {csv({"--skip", "-1"}), 2, "--skip takes a whole number from 0 to 1000000000, not \"-1\"\n"},
      {csv({"--date-format", "%d-%Q"}), 2, "--date-format \"%d-%Q\" has %Q, which it does not know "
                                           "(it knows %Y %y %m %d %e %b %B %h %H %I %p %M %S %f %F %T %%)\n"},
      {csv({"--date-format", "%d-%m"}), 2, "--date-format \"%d-%m\" has no year (%Y or %y)\n"},
      {csv({"--date-format", "%Y %"}), 2, "--date-format \"%Y %\" ends with a lone %\n"},
      {csv({"--date-format", "%Y %I:%M"}), 2, "--date-format \"%Y %I:%M\" needs %I and %p together\n"},
      {csv({"--date-format", "%Y %M.%f"}), 2, "--date-format \"%Y %M.%f\" has %f (a fraction) but no %S\n"},
      {x({"--socket", "0", "--generate", "1", "--null", "NA"}), 2, "--null goes with --csv\n"},
      {{"--socket", "0", "--generate", "3"}, 2, "--variables is required"},
      {{"--socket", "0", "--csv", notes}, 2, "--variables is required (or --header, to infer it from the file)"},
      {{"--socket", "0", "--csv", "-", "--header"}, 2, "--variables is required with --csv -: a list is inferred"},
      {x({"--socket", "0", "--csv", notes, "--header", "--infer-rows", "5"}), 2, "--infer-rows goes with --csv FILE --header and no --variables"},
      {{"--socket", "0", "--csv", dir.WriteFile("empty.csv", ""), "--header"}, 1, "is empty: there is no header"},
      {{"--socket", "0", "--csv", dir.WriteFile("ragged.csv", "a,b\n1,2\n3\n"), "--header"}, 1, "ragged.csv, line 3: record 2 has 1 fields, but the header names 2 columns"},
      {{"--socket", "0", "--replay", "c", "--variables", "x F8"}, 2, "--variables goes not with --replay"},
      {{"--socket", "0", "--variables", "id Q8", "--generate", "1"}, 1, "[2265] "},
      {x({"--socket", "0", "--csv", dir.File("missing.csv")}), 1, "cannot open"},
      {{"--socket", "0", "--replay", dir.File("missing.cap")}, 1, "cannot open the capture file"},
      {{"--socket", "0", "--replay", notes}, 1, "notes.csv is not a dravfeed capture (it does not begin with \"DRAVCAP2\")"},
      {x({"--pipe", "/nonexistent-dir/data", "--generate", "1"}), 3, "/nonexistent-dir/data"},
      {x({"--pipe", precious, "--generate", "1"}), 3, "is not a named pipe"},
      {x({"--socket", "0", "--bind", "no.such.host.invalid", "--generate", "1"}), 3, "no.such.host.invalid"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = RunProcess(Dravfeed(c.args));
    EXPECT_EQ(r.exitCode, c.status) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  std::ifstream kept(precious);
  std::string text;
  kept >> text;
  EXPECT_EQ(text, "kept") << "a regular file at the data path was replaced";
}

struct PipeFeed {
  explicit PipeFeed(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--pipe", dir.File("data"), "--rewind-pipe", dir.File("rewind"),
                                     "--variables", "x F8", "--generate", "5"};
    args.insert(args.end(), more.begin(), more.end());
    feed = std::make_unique<ChildProcess>(Dravfeed(args));
    EXPECT_NE(feed->LineAfter("dravfeed: serving "), "") << feed->Stop().err;
  }
  Watchdog watchdog{30, "a dravfeed pipe test"};
  TempDir dir;
  std::unique_ptr<ChildProcess> feed;
};

ino_t InodeAt(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) ? st.st_ino : 0;
}

// The gate: once the reader has opened the data pipe, a fresh FIFO stands
// at the path for the next pass, and a reader that removes the path
// whatever it names gets one too.
TEST(DravfeedPipe, AFreshPipeStandsAtThePathOnceTheReaderHasOpenedIt) {
  PipeFeed f;
  WireReader reader(f.dir.File("data"), f.dir.File("rewind"));
  const ino_t before = InodeAt(f.dir.File("data"));
  reader.Begin();
  EXPECT_EQ(reader.ReadToEnd().size(), 5 * 8u);
  EXPECT_NE(InodeAt(f.dir.File("data")), 0u);
  EXPECT_NE(InodeAt(f.dir.File("data")), before);
  ASSERT_EQ(unlink(f.dir.File("data").c_str()), 0);
  while (InodeAt(f.dir.File("data")) == 0) usleep(1000);  // the watchdog ends a wait for ever
  reader.WriteControlBytewise();  // every read of the gate finds a single byte
  reader.Seek(4);
  EXPECT_EQ(reader.ReadToEnd().size(), 8u);
  reader.End();
  EXPECT_EQ(f.feed->Wait().exitCode, 0);
  EXPECT_EQ(f.dir.Entries(), std::vector<std::string>());
}

TEST(DravfeedPipe, SignalsEndItAndItsPipesGoWithIt) {
  for (int signal : {SIGTERM, SIGINT}) {
    PipeFeed f({"--forever"});
    EXPECT_EQ(f.dir.Entries().size(), 2u);
    f.feed->Signal(signal);
    EXPECT_EQ(f.feed->Wait().exitCode, 128 + signal);
    EXPECT_EQ(f.dir.Entries(), std::vector<std::string>()) << "left behind after signal " << signal;
  }
}

std::size_t OpenDescriptors() { return TempDir::EntriesOf("/proc/self/fd").size(); }

// Another file put at the rewind path while a pass is set up stops the
// server with a message; the descriptor it opened to find out is closed, or
// a program that serves stream after stream would run out of them.
TEST(DravfeedPipe, ARewindPipeReplacedByAnotherFileIsNamedAndNotLeaked) {
  Watchdog watchdog(30, "a replaced rewind pipe");
  TempDir dir;
  feed::MemoryCases cases(8);
  cases.AddRecord();
  const std::size_t before = OpenDescriptors();
  std::string problem;
  {
    feed::PipeServer server(cases, feed::ByteOrder::kNative, dir.File("data"), dir.File("rewind"),
                            feed::ServeOptions());
    ASSERT_EQ(rename(dir.MakeFifo("other").c_str(), dir.File("rewind").c_str()), 0);
    const int reader = open(dir.File("data").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // waits for no writer
    try {
      server.Serve();
    } catch (const feed::FeederError& error) {
      problem = error.what();
    }
    close(reader);
  }
  EXPECT_EQ(problem, dir.File("rewind") + " was replaced by another file");
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace test
}  // namespace drav
