// The long stream: `count` generated cases from one dravfeed process, read
// in one pass, every case checked, the figures sampled along the way.
#include <chrono>
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

constexpr int kFeederEndMs = 30000;

std::vector<std::string> FeederArguments(const SoakConfig& config, const std::string& pipePath) {
  std::vector<std::string> args{config.dravfeed, "--generate", std::to_string(config.count), "--variables", kSoakVariables};
  if (config.transport == Transport::kPipe) {
    args.insert(args.end(), {"--pipe", pipePath});
  } else {
    // Done a moment after the reader's "STOP" and its close.
    args.insert(args.end(), {"--socket", "0", "--linger", "0.2"});
  }
  return args;
}

}  // namespace

int AwaitFeeder(test::ChildProcess& feeder, Transport transport, const std::string& run) {
  const int port = transport == Transport::kPipe ? 0 : feeder.DravfeedPort();
  if (transport == Transport::kPipe ? feeder.LineAfter("dravfeed: serving ").empty() : port == 0)
    Fail(run + ": dravfeed did not start: " + feeder.Stop().err);
  return port;
}

void RunStreamSoak(const SoakConfig& config) {
  const std::string run = std::string("stream ") + TransportName(config.transport);
  ExpectedCases expected;
  ResourceWatch watch(run, config);
  watch.Start();
  const auto began = std::chrono::steady_clock::now();
  std::int64_t read = 0;
  long long rowCount = -1;
  {
    test::TempDir dir;
    const std::string pipePath = dir.File("data.pipe");
    test::ChildProcess feeder(FeederArguments(config, pipePath));
    const int port = AwaitFeeder(feeder, config.transport, run);
    const StreamPlace place =
        config.transport == Transport::kPipe ? StreamPlace::Pipe(pipePath) : StreamPlace::Socket(port, false);
    {
      std::unique_ptr<DRAV_DataSource> source = OpenSoakSource(StreamCommand(place, false));
      OBS obs(source->GetObsAreaSize());
      std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
      const std::int64_t every = SampleInterval(config);
      read = ReadChecked(*it, obs, expected, 0, run, [&](std::int64_t n) {
        if (n % every == 0) watch.Sample("cases " + std::to_string(n), feeder.Pid());
      });
      it.reset();
      rowCount = source->RowCount();
    }
    const test::ProcessResult end = feeder.Wait(kFeederEndMs);
    if (end.exitCode != 0) Fail(run + ": dravfeed exited with " + std::to_string(end.exitCode) + ": " + end.err);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  watch.End();
  if (read != config.count)
    Fail(run + ": " + std::to_string(read) + " cases read of " + std::to_string(config.count));
  if (rowCount != config.count)
    Fail(run + ": RowCount " + std::to_string(rowCount) + " after " + std::to_string(read) + " cases");
  std::printf("  %s | %lld cases checked, RowCount %lld, %.1f s, %.0f cases/s\n", run.c_str(),
              static_cast<long long>(read), rowCount, seconds, static_cast<double>(read) / seconds);
  watch.Check();
}

}  // namespace soak
}  // namespace drav
