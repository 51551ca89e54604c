#pragma once
// The soak runs of the stream plug-in: long runs against real feeder
// processes over a named pipe or loopback TCP, checking that every case
// arrives intact and that the host process keeps its descriptors and its
// memory flat. Each run prints its figures and throws SoakFailure, with a
// message that says what went wrong, at the first fault.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace drav {
namespace test {
class ChildProcess;
}
namespace soak {

class SoakFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Fail(const std::string& what) { throw SoakFailure(what); }

enum class Transport { kPipe, kSocket };

inline const char* TransportName(Transport transport) {
  return transport == Transport::kPipe ? "pipe" : "socket";
}

struct SoakConfig {
  Transport transport = Transport::kPipe;
  std::string dravfeed;          // the reference feeder's path
  std::int64_t count = 0;        // cases, cycles or kills, by run
  int samples = 10;              // periodic samples of the figures per run
  long rssToleranceKiB = 512;    // growth of resident memory taken as flat
  long long heapToleranceBytes = 16384;  // growth of malloc's bytes taken as flat
  unsigned seed = 1;             // kill offsets and write pieces
};

// Every how many cases, cycles or kills a run samples its figures: at most
// `samples` times in all.
inline std::int64_t SampleInterval(const SoakConfig& config) {
  return config.count <= config.samples ? 1 : (config.count + config.samples - 1) / config.samples;
}

// Waits until a dravfeed child serves its pipe (returns 0) or listens on its
// socket (returns the port); fails with what it said when it does not.
int AwaitFeeder(test::ChildProcess& feeder, Transport transport, const std::string& run);

// `count` cases from one `dravfeed --generate` process, in one pass.
void RunStreamSoak(const SoakConfig& config);
// `count` cycles of open, read, rewind, seek and close against dravfeed.
void RunCycleSoak(const SoakConfig& config);
// `count` feeders killed by SIGKILL after a random number of bytes.
void RunKillSoak(const SoakConfig& config);

}  // namespace soak
}  // namespace drav
