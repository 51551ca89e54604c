// Feeders that are real processes and die mid-stream: killed by SIGKILL at
// random byte offsets (and once after the whole stream, written one byte at
// a time). The host must deliver exactly the whole records written before
// the cut, set RowCount to their number, and never take a partial record
// for a case.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "tests/support/FeederProcess.h"
#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

constexpr int kRecords = 60;
constexpr int kKillsPerTransport = 120;

// Cut points: every record boundary's neighbours are the likeliest to hide
// an off-by-one, so a few are always tried, the rest are uniform. The first
// is the whole stream.
std::vector<std::size_t> CutPoints(std::size_t total, std::size_t record, std::mt19937& random) {
  std::vector<std::size_t> cuts = {total, 0, 1, record - 1, record, record + 1, total - 1};
  std::uniform_int_distribution<std::size_t> anywhere(0, total);
  while (cuts.size() < static_cast<std::size_t>(kKillsPerTransport)) cuts.push_back(anywhere(random));
  return cuts;
}

std::vector<std::size_t> RandomPieces(std::size_t record, std::mt19937& random) {
  std::uniform_int_distribution<std::size_t> size(1, 3 * record);
  std::vector<std::size_t> pieces(16);
  for (std::size_t& piece : pieces) piece = size(random);
  return pieces;
}

struct Transport {
  const char* name;
  bool socket;
};
// Printed by name: GoogleTest would otherwise dump the bytes, padding included.
void PrintTo(const Transport& transport, std::ostream* out) { *out << transport.name; }

class FeederKillTest : public testing::TestWithParam<Transport> {
 protected:
  // Starts a feeder that writes the first `cut` bytes of `wire` (for a
  // socket: probe and records) in `pieces`, then dies by SIGKILL.
  std::unique_ptr<FeederProcess> StartDyingFeeder(const std::string& wire, std::size_t cut,
                                                  const std::vector<std::size_t>& pieces, int pauseMicros) {
    const std::string prefix = wire.substr(0, cut);
    const bool socket = GetParam().socket;
    const int listenFd = port_.fd;
    const std::string path = socket ? "" : dir_.MakeFifo("data.pipe");
    return std::make_unique<FeederProcess>([&] {
      int fd = socket ? child::AcceptOne(listenFd) : child::OpenForWriting(path.c_str());
      child::Write(fd, prefix, pieces, pauseMicros);
      child::DieByKill();
    });
  }
  std::string StreamName() const {
    return GetParam().socket ? port_.StreamName() : dir_.File("data.pipe");
  }

  Watchdog watchdog_{100, "feeder kill test"};
  TempDir dir_;
  LoopbackPort port_;
};

TEST_P(FeederKillTest, HostGetsExactlyTheWholeRecordsBeforeTheCut) {
  ASSERT_GE(port_.fd, 0);
  const std::vector<std::string> records = TestRecords(kRecords);
  const std::size_t record = records[0].size();
  const std::string probe = GetParam().socket ? NativeProbe() : "";
  const std::string wire = probe + Joined(records);
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));

  int survived = 0;
  for (std::size_t cut : CutPoints(wire.size(), record, random)) {
    // The whole stream goes one byte at a time, with a pause after each, so
    // the reader sees every byte arrive alone.
    const bool whole = cut == wire.size() && survived == 0;
    auto feeder = StartDyingFeeder(wire, cut, whole ? std::vector<std::size_t>{1} : RandomPieces(record, random),
                                   whole ? 20 : 0);
    ASSERT_TRUE(feeder->Started());
    const std::size_t delivered = cut < probe.size() ? 0 : (cut - probe.size()) / record;
    auto source = OpenSource(StreamName(), nullptr, false, GetParam().socket);
    const std::vector<std::string> cases = ReadPass(*source);
    ASSERT_EQ(cases.size(), delivered) << "cut at byte " << cut;
    ASSERT_TRUE(std::equal(cases.begin(), cases.end(), records.begin())) << "cut at byte " << cut;
    ASSERT_EQ(source->RowCount(), static_cast<long long>(delivered)) << "cut at byte " << cut;
    const int status = feeder->Wait();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the feeder's own script failed (status " << status << ") at cut " << cut;
    ++survived;
  }
  RecordProperty("kills_survived", survived);
}

INSTANTIATE_TEST_SUITE_P(Transports, FeederKillTest,
                         testing::Values(Transport{"Pipe", false}, Transport{"Socket", true}),
                         [](const testing::TestParamInfo<Transport>& info) { return info.param.name; });

}  // namespace
}  // namespace test
}  // namespace drav
