// Open, read, rewind, seek and close, many times over, against a real
// dravfeed process. One cycle:
//   a new source (the plug-in opens the stream),
//   a first pass read to its end,
//   a second pass (a new iterator: the plug-in rewinds) read to its end,
//   a seek to a case that changes from cycle to cycle, read to the end,
//   the source destroyed.
// Over a pipe one `dravfeed --forever` serves every cycle; the seek comes
// only once the pass was read to its end, outside the pipe protocol's window
// (see docs/PROTOCOL.md). Over TCP each cycle has a dravfeed of its own: the
// feeder takes a silent new connection for a new reader only after a second,
// so one feeder for all cycles would measure its patience, not the plug-in.
#include <chrono>
#include <csignal>
#include <cstdio>

#include "host/OBS.h"
#include "tests/soak/CheckedPass.h"
#include "tests/soak/ResourceWatch.h"
#include "tests/soak/Soak.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace drav {
namespace soak {
namespace {

constexpr std::int64_t kCasesPerPass = 64;
constexpr int kFeederEndMs = 30000;
constexpr int kTerminatedBySigterm = 143;

std::vector<std::string> FeederArguments(const std::string& dravfeed, Transport transport, const test::TempDir& dir) {
  std::vector<std::string> args{dravfeed, "--generate", std::to_string(kCasesPerPass), "--variables",
                                kSoakVariables, "--forever"};
  if (transport == Transport::kPipe)
    args.insert(args.end(), {"--pipe", dir.File("data.pipe"), "--rewind-pipe", dir.File("rewind.pipe")});
  else
    args.insert(args.end(), {"--socket", "0"});
  return args;
}

void ExpectCount(std::int64_t got, std::int64_t want, const std::string& where) {
  if (got != want)
    Fail(where + ": " + std::to_string(got) + " cases instead of " + std::to_string(want));
}

// One cycle over the stream `name`; returns the cases read, throws
// SoakFailure naming the cycle.
std::int64_t Cycle(const StreamPlace& place, std::int64_t cycle, ExpectedCases& expected) {
  const std::string where =
      std::string("cycle ") + std::to_string(cycle) + " (" + TransportName(place.transport) + ")";
  std::unique_ptr<DRAV_DataSource> source = OpenSoakSource(StreamCommand(place, true));
  OBS obs(source->GetObsAreaSize());
  {
    std::unique_ptr<DRAV_InputCaseIterator> first(source->MakeIterator(&obs));
    ExpectCount(ReadChecked(*first, obs, expected, 0, where + ", first pass"), kCasesPerPass, where + ", first pass");
  }
  std::unique_ptr<DRAV_InputCaseIterator> again(source->MakeIterator(&obs));
  ExpectCount(ReadChecked(*again, obs, expected, 0, where + ", rewound pass"), kCasesPerPass, where + ", rewound pass");
  // Any case, the first and the one past the last included.
  const std::int64_t target = (cycle * 7919) % (kCasesPerPass + 1);
  if (again->Seek(target) != 1) Fail(where + ": Seek(" + std::to_string(target) + ") refused");
  ExpectCount(ReadChecked(*again, obs, expected, target, where + ", after the seek"),
              kCasesPerPass - target, where + ", after Seek(" + std::to_string(target) + ")");
  again.reset();
  if (source->RowCount() != kCasesPerPass)
    Fail(where + ": RowCount " + std::to_string(source->RowCount()));
  return 3 * kCasesPerPass - target;
}

void ExpectTerminated(test::ChildProcess& feeder, const std::string& where) {
  feeder.Signal(SIGTERM);
  const test::ProcessResult end = feeder.Wait(kFeederEndMs);
  if (end.exitCode != kTerminatedBySigterm)
    Fail(where + ": dravfeed ended with " + std::to_string(end.exitCode) + " instead of " +
         std::to_string(kTerminatedBySigterm) + " on SIGTERM: " + end.err);
}

}  // namespace

void RunCycleSoak(const SoakConfig& config) {
  const Transport transport = config.transport;
  const std::string run = std::string("cycles ") + TransportName(transport);
  ExpectedCases expected;
  ResourceWatch watch(run, config);
  test::TempDir dir;
  std::unique_ptr<test::ChildProcess> pipeFeeder;
  if (transport == Transport::kPipe) {
    pipeFeeder = std::make_unique<test::ChildProcess>(FeederArguments(config.dravfeed, transport, dir));
    AwaitFeeder(*pipeFeeder, transport, run);
  }
  watch.Start();
  const auto began = std::chrono::steady_clock::now();
  const std::int64_t every = SampleInterval(config);
  std::int64_t cases = 0;
  for (std::int64_t cycle = 0; cycle < config.count; ++cycle) {
    if (pipeFeeder) {
      cases += Cycle(StreamPlace::Pipe(dir.File("data.pipe"), dir.File("rewind.pipe")), cycle, expected);
    } else {
      test::ChildProcess feeder(FeederArguments(config.dravfeed, transport, dir));
      cases += Cycle(StreamPlace::Socket(AwaitFeeder(feeder, transport, run), true), cycle, expected);
      ExpectTerminated(feeder, run);
    }
    if ((cycle + 1) % every == 0)
      watch.Sample("cycles " + std::to_string(cycle + 1), pipeFeeder ? pipeFeeder->Pid() : -1);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  watch.End();
  if (pipeFeeder) ExpectTerminated(*pipeFeeder, run);
  std::printf("  %s | %lld cycles (3 passes each: first, rewound, after a seek), %lld cases checked, "
              "%.1f s, %.1f ms a cycle\n",
              run.c_str(), static_cast<long long>(config.count), static_cast<long long>(cases), seconds,
              1000.0 * seconds / static_cast<double>(config.count));
  watch.Check();
}

}  // namespace soak
}  // namespace drav
