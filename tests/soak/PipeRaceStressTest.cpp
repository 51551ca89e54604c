// Seeks and rewinds over a named pipe as users run them: dravfeed and dravrun
// as real processes, with a CPU hog beside them so that either may lose the
// processor at any moment. A reader that re-opened the pipe it was already
// reading would get cases from the wrong position or wait for ever; every
// run checks every case of every pass, the exit statuses and the folder.
//
// DRAV_PIPE_STRESS_RUNS sets the runs per cell (100); the
// soak runs use more.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace drav {
namespace test {
namespace {

constexpr int kCases = 1000;
constexpr int kRunWatchdogMs = 20000;
const char kVariables[] = "i F8 x F8.3";

struct Cell {
  const char* name;
  std::vector<std::string> options;
  int passes;
  int first;  // the first case of every pass
  int count;  // cases per pass
};

// Printed instead of the bytes of the struct, which hold padding.
void PrintTo(const Cell& cell, std::ostream* os) { *os << cell.name; }


int RunsPerCell() {
  const char* text = std::getenv("DRAV_PIPE_STRESS_RUNS");
  const int runs = text ? std::atoi(text) : 0;
  return runs > 0 ? runs : 100;
}

// What dravfeed --generate puts in case i: i, and i + 1/4 except in every
// seventh case, where odd columns are missing.
std::string ExpectedOutput(const Cell& cell) {
  std::string pass;
  char row[64];
  for (int i = cell.first; i < cell.first + cell.count; ++i) {
    if (i % 7 == 6) std::snprintf(row, sizeof row, "%d,\n", i);
    else std::snprintf(row, sizeof row, "%d,%.3f\n", i, i + 0.25);
    pass += row;
  }
  std::string all = "i,x\n";
  for (int p = 0; p < cell.passes; ++p) all += pass;
  return all;
}

// One run; an empty text when everything held, else what went wrong.
std::string RunOnce(const Cell& cell, const std::string& expected) {
  TempDir dir;
  const std::string data = dir.File("data"), rewind = dir.File("rewind");
  // A long linger: the run ends the feeder itself once the reader is done,
  // so no timing decides whether a later pass still finds it.
  ChildProcess feeder({BinaryPath("dravfeed"), "--pipe", data, "--rewind-pipe", rewind, "--generate",
                       std::to_string(kCases), "--variables", kVariables, "--linger", "60"});
  std::string line;
  if (!feeder.ReadLine(line, ChildProcess::kErr, kRunWatchdogMs) || line.rfind("dravfeed: serving", 0) != 0)
    return "dravfeed did not start: " + line + feeder.Stop().err;
  std::vector<std::string> args = cell.options;
  args.push_back("GET DATA /TYPE = STREAM /PIPE = '" + data + "' /REWINDABLE = '" + rewind +
                 "' /SEEKABLE /VARIABLES = " + kVariables + " .");
  const ProcessResult run = RunProcess(Dravrun(args), "", kRunWatchdogMs);
  const ProcessResult fed = feeder.Stop();
  if (run.timedOut) return "dravrun hung; its errors: " + run.err + "; dravfeed: " + fed.err;
  if (run.exitCode != 0) return "dravrun exited " + std::to_string(run.exitCode) + ": " + run.err;
  if (run.out != expected) return "wrong cases; dravrun said: " + run.err;
  if (fed.exitCode != 128 + 15) return "dravfeed did not end cleanly: " + fed.err;
  const std::vector<std::string> left = dir.Entries();
  if (!left.empty()) return "left behind: " + left.front();
  return "";
}

// Each cell is a test of its own, so that each gets the whole time limit.
class PipeRaceStress : public testing::TestWithParam<Cell> {};

TEST_P(PipeRaceStress, SeeksAndRewindsUnderLoadDeliverExactPassesAndNeverHang) {
  const Cell& cell = GetParam();
  // One spinning process per core keeps every core contended.
  std::vector<std::unique_ptr<ChildProcess>> hogs;
  for (long core = 0; core < sysconf(_SC_NPROCESSORS_ONLN); ++core) {
    hogs.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/sh", "-c", "while :; do :; done"}));
    ASSERT_TRUE(hogs.back()->Started());
  }
  const int runs = RunsPerCell();
  const std::string expected = ExpectedOutput(cell);
  int failures = 0;
  std::string firstFailure;
  for (int run = 0; run < runs; ++run) {
    const std::string failure = RunOnce(cell, expected);
    if (failure.empty()) continue;
    if (failures++ == 0) firstFailure = "run " + std::to_string(run) + ": " + failure;
  }
  std::printf("%-28s %d runs, %d failed\n", cell.name, runs, failures);
  EXPECT_EQ(failures, 0) << cell.name << ", first failure at " << firstFailure;
}

INSTANTIATE_TEST_SUITE_P(
    Cells, PipeRaceStress,
    testing::Values(Cell{"seek before the first case", {"--seek", "700"}, 1, 700, kCases - 700},
                    Cell{"seek with three passes", {"--seek", "700", "--passes", "3"}, 3, 700, kCases - 700},
                    Cell{"five rewinding passes", {"--passes", "5"}, 5, 0, kCases},
                    Cell{"limit then another pass", {"--limit", "10", "--passes", "2"}, 2, 0, 10}),
    [](const testing::TestParamInfo<Cell>& info) {
      std::string name;
      for (const char* c = info.param.name; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      return name;
    });

}  // namespace
}  // namespace test
}  // namespace drav
