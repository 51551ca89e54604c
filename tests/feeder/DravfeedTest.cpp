// dravfeed as a real process: refusals, pipes and signals, CSV options, and serving a protocol reader
// (WireReader) over both transports and byte orders; GeneratedCases renders what lines "i,ci" make.
#include <filesystem>
#include <thread>

#include "dravfeed/FeederError.h"
#include "dravfeed/PipeServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WireReader.h"

namespace drav::test {
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
      {x({"--socket", "0", "--from", "nats://h/s"}), 2, "\"nats://h/s\" is no stream address: write nats://HOST:PORT/STREAM"},
      {x({"--publish", "nats://h:1/s", "--create", "--max-age", "5y", "--generate", "3"}), 2,
       "--max-age takes seconds, or a number with s, m, h or d, not \"5y\""},
      {x({"--publish", "nats://h:1/s", "--create", "--max-bytes", "4194305T", "--generate", "3"}), 2,
       "--max-bytes takes bytes, or a number with K, M, G or T, not \"4194305T\""},
      {x({"--socket", "0", "--generate", "3", "--nats-ca", "ca.pem"}), 2,
       "--nats-nkey, --nats-creds, --nats-ca, --nats-cert and --nats-key go with --from, --publish or --info"},
#endif
      {x({"--socket", "0", "--generate", "3", "--replay", "c"}), 2, "give one of --csv FILE, --generate N"},
      {x({"--socket", "0", "--generate", "3", "--follow"}), 2, "--follow goes with --csv FILE"},
      {x({"--socket", "0", "--generate", "3", "--start", "5"}), 2, "--start goes with --from"},
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
      {{"--socket", "0", "--replay", "c", "--byte-order", "swapped"}, 2, "--byte-order goes not with --replay"},
      {{"--socket", "0", "--replay", "c", "--capture", "d"}, 2, "--capture goes not with --replay"},
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
  EXPECT_EQ(TempDir::Read(precious), "kept") << "a regular file at the data path was replaced";
#ifndef __SANITIZE_ADDRESS__  // whose checks need descriptors: room for one socket of two, and no listening on stdin
  const std::vector<std::string> args = {"/bin/sh", "-c", "exec 3>&-; ulimit -n 4; exec \"$@\"", "sh", BinaryPath("dravfeed"),
                                          "--linger", "0", "--socket", "0", "--generate", "1", "--variables", "x F8"};
  const ProcessResult starved = RunProcess(args, "", 10000);
  EXPECT_EQ(starved.exitCode, 3) << starved.err;
  EXPECT_NE(starved.err.find("cannot listen on loopback port"), std::string::npos) << starved.err;
#endif
}

// What a socket dravfeed with `args` serves in its first pass, after which it exits with 0.
std::string FirstPass(std::vector<std::string> args, const std::string& input = "", std::string* out = nullptr) {
  args.insert(args.begin(), {"--socket", "0"});
  ChildProcess feed(Dravfeed(args), input);
  WireReader reader(feed.DravfeedPort());
  reader.Begin();
  const std::string records = reader.ReadToEnd();
  reader.End();
  const ProcessResult r = feed.Wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  if (out) *out = r.out;
  return records;
}

TEST(DravfeedCsv, OptionsReachTheReaderOfAFileAndOfLiveInput) {
  TempDir dir;
  const char kVariables[] = "seen DATE11 name A6 n F4";
  const std::string text =
      "exported by hand\n# a comment\nN\tSeen\textra\tName\n3\t07-Dec-26\t-\tann\nNA\t1-jan-70\t\"a\tb\"\tNULL\n";
  // The same cases as plain CSV, read without options.
  const std::string plain =
      FirstPass({"--variables", kVariables, "--csv", dir.WriteFile("plain.csv", "2026-12-07,ann,3\n1970-01-01,,\n")});
  ASSERT_EQ(plain.size(), 2 * 3 * 8u);
  for (const std::string& source : {dir.WriteFile("cases.tsv", text), std::string("-")}) {
    SCOPED_TRACE(source);
    EXPECT_EQ(FirstPass({"--variables", kVariables, "--csv", source, "--tsv", "--skip", "1", "--comment", "#",
                         "--header", "--null", "NA", "--null", "NULL", "--date-format", "%d-%b-%y"}, text), plain);
  }
}

// An inferred list reads the file as it is served (after preamble and comments, with null texts
// and date pattern), its header taken column by column though labels became names (AND_).
TEST(DravfeedCsv, AnInferredListReadsTheFileAsItIsServed) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("cases.csv", "made by hand\n# note\nAND,when,x y\n1,07-Dec-26,ab\nNA,08-Dec-26,c\n");
  std::string out;
  const std::string records = FirstPass({"--csv", path, "--header", "--skip", "1", "--comment", "#", "--null", "NA",
                                         "--date-format", "%d-%b-%y", "--print-command"}, "", &out);
  EXPECT_EQ(records.size(), 2u * 3 * 8);
  const std::string command = out.substr(0, out.find('\n'));
  EXPECT_NE(command.find("/VARIABLES = AND_ F1 when DATE11 x_y A2 ."), std::string::npos) << out;
}

struct PipeFeed {
  explicit PipeFeed(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--pipe", dir.File("data"), "--rewind-pipe", dir.File("rewind"),
                                     "--variables", "x F8", "--generate", "5"};
    args.insert(args.end(), more.begin(), more.end());
    feed = std::make_unique<ChildProcess>(Dravfeed(args));
    EXPECT_NE(feed->LineAfter("dravfeed: serving "), "") << feed->Stop().err;
    EXPECT_NE(feed->LineAfter("dravfeed: command: ").find("/REWINDABLE = '" + dir.File("rewind") + "'"), std::string::npos);
  }
  Watchdog watchdog{30, "a dravfeed pipe test"};
  TempDir dir;
  std::unique_ptr<ChildProcess> feed;
};

ino_t InodeAt(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) ? st.st_ino : 0;
}

// Once the reader opened the data pipe, a fresh FIFO stands at the path, even if the reader removes it.
TEST(DravfeedPipe, AFreshPipeStandsAtThePathOnceTheReaderHasOpenedIt) {
  PipeFeed f;
  WireReader reader(f.dir.File("data"), f.dir.File("rewind"));
  const ino_t before = InodeAt(f.dir.File("data"));
  // A reader still writing its message to the rewind pipe is waited for, whoever opens the data pipe.
  const int gate = open(f.dir.File("rewind").c_str(), O_WRONLY | O_CLOEXEC);
  const std::string seek = SeekMessage(1);
  std::thread late([&] { usleep(300000), write(gate, seek.data(), seek.size()), close(gate); });
  reader.Begin();
  EXPECT_EQ(reader.ReadToEnd().size(), 4 * 8u);
  late.join();
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

// Another file at the rewind path while a pass is set up stops the server with a message; the
// descriptor it opened to find out is closed, or one serving stream after stream runs out.
TEST(DravfeedPipe, ARewindPipeReplacedByAnotherFileIsNamedAndNotLeaked) {
  Watchdog watchdog(30, "a replaced rewind pipe");
  TempDir dir;
  feed::MemoryCases cases(8);
  cases.AddRecord();
  const std::size_t before = TempDir::EntriesOf("/proc/self/fd").size();
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
  EXPECT_EQ(TempDir::EntriesOf("/proc/self/fd").size(), before);
}

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

  std::vector<std::string> Serving() const {
    if (Socket()) return {"--socket", "0"};
    return {"--pipe", dir_.File("data"), "--rewind-pipe", dir_.File("rewind")};
  }
  // The reader then begins its first pass.
  void Start(std::vector<std::string> more, const std::string& input = "", bool keepInputOpen = false) {
    std::vector<std::string> args = Serving();
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
    EXPECT_EQ(reader_->Begin(), Socket() ? Probe(Order()) : "");
  }
  std::string Read(std::int64_t cases) { return reader_->Read(static_cast<std::size_t>(cases) * kRecordBytes); }
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

// The feeder is blocked on a full pipe or socket when the reader seeks or vanishes; either
// costs only that pass, never the feeder (a SIGPIPE let through would exit 141).
TEST_P(DravfeedServes, EveryPassGivesTheCasesFromTheOneAskedForWhereverTheLastOneWasLeft) {
  const std::int64_t total = 200000;
  Start({"--generate", std::to_string(total), "--verbose"});
  EXPECT_EQ(Read(1), Expected(0, 1));
  reader_->Seek(123456);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(123456, total - 123456));
  reader_->Rewind();
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, total));
  for (std::int64_t target : {std::int64_t{1}, std::int64_t{2500}, total - 1, total, total + 7, std::int64_t{-1}}) {
    reader_->Seek(target);
    const bool past = target < 0 || target >= total;  // no case to give: the pass is empty
    EXPECT_EQ(reader_->ReadToEnd(), past ? "" : Expected(target, total - target)) << "seek " << target;
  }
  reader_->Rewind();
  EXPECT_EQ(Read(3), Expected(0, 3));
  reader_->Abandon();
  reader_->Rewind();
  EXPECT_EQ(Read(5), Expected(0, 5));
  const std::string log = Finish().err;
  EXPECT_NE(log.find("dravfeed: done: 11 passes, 3 rewinds, 7 seeks\n"), std::string::npos) << log;
}

TEST_P(DravfeedServes, LiveInputIsServedAsItComesAndRewindsAndSeeksWaitForIt) {
  Start({"--csv", "-", "--header"}, "x,s\n", true);
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

// The spill file has no name from the start, so not even a SIGKILL leaves it behind.
TEST_P(DravfeedServes, SpilledCasesComeBackByteForByteAndLeaveNothingInTmpdir) {
  TempDir spill;
  setenv("TMPDIR", spill.Path().c_str(), 1);
  Start({"--csv", "-", "--memory", "0.001"}, "", true);  // about 65 cases in memory
  unsetenv("TMPDIR");
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
  std::string input = Lines(0, 300);
  input.pop_back();  // a last line without its end is served, as a file's is, whatever the input (here a pipe)
  // From the input, or (swapped) from cases generated as they are captured.
  const std::string served = FirstPass({"--variables", kVariables, Swapped() ? "--generate" : "--csv",
                                        Swapped() ? "300" : "-", "--capture", capture, "--byte-order",
                                        Swapped() ? "swapped" : "native"}, Swapped() ? "" : input);
  ASSERT_EQ(served.size(), 300 * kRecordBytes);
  Start({"--replay", capture});
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 300));
  reader_->Seek(250);
  EXPECT_EQ(reader_->ReadToEnd(), Expected(250, 50));
  Finish();
  std::filesystem::resize_file(capture, std::filesystem::file_size(capture) - 5);  // cut in its end block
  Start({"--replay", capture});
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, 300));
  EXPECT_EQ(reader_->EndedByReset(), Socket());
  const std::string err = Finish(3).err;  // said before the pass and after it, since the reader cannot tell
  EXPECT_NE(err.find("(it has no end block): serving the 300 cases of its whole blocks"), std::string::npos) << err;
  EXPECT_NE(err.find("(it has no end block): any case its feeder served after the first 300 is lost"), std::string::npos);
}

// No reader can get a case: dravfeed must not wait for one, nor look whole to one that comes.
TEST_P(DravfeedServes, BadDataBeforeAnyCaseEndsDravfeedAndRemovesItsPipes) {
  std::vector<std::string> args = Serving();
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
  EXPECT_EQ(reader_->ReadToEnd(), Expected(0, good));
  EXPECT_EQ(reader_->EndedByReset(), Socket()) << "a socket pass that cannot be finished is broken off";
  EXPECT_NE(Finish(1).err.find("big.csv, line 100001, column 1 (x): \"abc\" is not a number"), std::string::npos);
}

TEST_P(DravfeedServes, AFollowedFileIsServedAsItGrowsUntilASignal) {
  std::ofstream file(files_.File("growing.csv"));
  file << Lines(0, 2) << std::flush;
  Start({"--csv", files_.File("growing.csv"), "--follow"});
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

// Every connection comes after the log's reader went away (`dravfeed --verbose 2>&1 | head -2`): the feeder serves on.
TEST(DravfeedSocket, ALaterConnectionIsToldByItsFirstBytesWhenTheLogsReaderIsGone) {
  // 32 MB: far more than the socket buffers hold, so a pass is never sent whole at once.
  ChildProcess feed(Dravfeed({"--socket", "0", "--verbose", "--variables", kVariables, "--generate", "2000000"}));
  const int port = feed.DravfeedPort();
  feed.CloseOutput(ChildProcess::kErr);
  WireReader first(port);
  EXPECT_EQ(first.Begin(), Probe(feed::ByteOrder::kNative));
  EXPECT_EQ(first.Read(2 * kRecordBytes), GeneratedRecords(kVariables, 0, 2));
  first.Send(wire::kStop);  // the pass ends where it is: reading on meets the end
  EXPECT_LT(first.ReadToEnd().size(), 1999998 * kRecordBytes);
  WireReader split(port);
  split.Connect();
  for (char byte : SeekMessage(42)) {
    split.Send(std::string(1, byte));
    usleep(1000);
  }
  EXPECT_EQ(split.Read(3 * kRecordBytes), GeneratedRecords(kVariables, 42, 3)) << "a seek split over many sends";
  WireReader stranger(port);
  stranger.Connect();
  stranger.Send("HELO");
  EXPECT_EQ(stranger.ReadToEnd(), "") << "an unknown word closes only its connection";
  for (bool ipv6 : {false, true}) {
    WireReader silent(port, ipv6);  // a new reader: waits for the probe
    EXPECT_EQ(silent.Begin(), Probe(feed::ByteOrder::kNative)) << (ipv6 ? "over ::1" : "over 127.0.0.1");
    EXPECT_EQ(silent.Read(2 * kRecordBytes), GeneratedRecords(kVariables, 0, 2));
  }
  // Started again on its port, a feeder binds it while the last one's connections wind down.
  feed.Stop();
  ChildProcess again(Dravfeed({"--socket", std::to_string(port), "--variables", kVariables, "--generate", "1"}));
  EXPECT_EQ(again.DravfeedPort(), port) << again.Stop().err;
}

}  // namespace
}  // namespace drav::test
