// In-process throughput of the stream readers, each against a feeder in a
// child process writing pre-built records in large writes. For every record
// size and transport the run measures, one after the other:
//   baselineA  one read/recv per record into one buffer: the floor of any
//              reader that, like the plug-in on a pipe, reads no further
//              than the record it delivers;
//   baselineB  the transport's bulk rate: large reads (64 KiB on a pipe,
//              256 KiB recvs on a socket), each record copied out;
//   hostSocket (socket) the host's Socket::Receive, one call per record,
//              served from its receive buffer: the floor under the
//              plug-in's socket iterator;
//   iterator   the plug-in's iterator, Next after Next, opened through
//              ProcessDACSyntax as a host opens it;
//   reversed   (socket) the iterator against a feeder of the other byte
//              order, so every value is byte-reversed on the way in.
// Every benchmark counts one record per iteration, in wall-clock time (the
// reader spends much of it waiting for the feeder, which CPU time hides).
// bench/run turns the figures into the ratios the targets are set in.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchFeeder.h"
#include "bench/PluginStream.h"
#include "host/Socket.h"

namespace drav {
namespace bench {
namespace {

constexpr std::size_t kPipeChunk = 64 * 1024;
constexpr std::size_t kSocketChunk = 256 * 1024;
constexpr std::size_t kRecordSizes[] = {8, 80, 800, 8192};

const char* Name(Transport t) { return t == Transport::kPipe ? "pipe" : "socket"; }

// A bare descriptor on the feeder's stream, positioned at the first record
// (a socket's byte-order probe already read).
int OpenRaw(const FeederProcess& feeder, Transport transport, std::string& error) {
  if (transport == Transport::kPipe) {
    const int fd = open(feeder.PipePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) error = "open " + feeder.PipePath() + ": " + std::strerror(errno);
    return fd;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(feeder.Port()));
  char probe[4];
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      recv(fd, probe, sizeof probe, MSG_WAITALL) != sizeof probe) {
    error = std::string("connect to the feeder: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

ssize_t ReadSome(int fd, char* into, std::size_t length, Transport transport) {
  return transport == Transport::kPipe ? read(fd, into, length)
                                       : recv(fd, into, length, MSG_WAITALL);
}

// Reads exactly `length` bytes: one call unless the transport hands back
// less (a pipe may, between the feeder's writes).
bool ReadRecord(int fd, char* into, std::size_t length, Transport transport) {
  std::size_t have = 0;
  while (have < length) {
    const ssize_t n = ReadSome(fd, into + have, length - have, transport);
    if (n <= 0) return false;
    have += static_cast<std::size_t>(n);
  }
  return true;
}

// Copies records out of large reads, as a reader with its own read-ahead
// buffer does.
class ChunkReader {
 public:
  ChunkReader(int fd, Transport transport)
      : fd_(fd),
        transport_(transport),
        chunk_(transport == Transport::kPipe ? kPipeChunk : kSocketChunk) {}

  bool Next(char* into, std::size_t length) {
    std::size_t have = 0;
    while (have < length) {
      if (begin_ == end_ && !Fill()) return false;
      const std::size_t take = std::min(length - have, end_ - begin_);
      std::memcpy(into + have, chunk_.data() + begin_, take);
      begin_ += take;
      have += take;
    }
    return true;
  }

 private:
  bool Fill() {
    const ssize_t n = transport_ == Transport::kPipe ? read(fd_, chunk_.data(), chunk_.size())
                                                     : recv(fd_, chunk_.data(), chunk_.size(), 0);
    if (n <= 0) return false;
    begin_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }

  int fd_;
  Transport transport_;
  std::vector<char> chunk_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

void Count(benchmark::State& state, std::size_t recordBytes) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(recordBytes));
}

void BaselineA(benchmark::State& state, Transport transport, std::size_t recordBytes) {
  FeederProcess feeder({transport, recordBytes, false});
  std::string error = feeder.Error();
  const int fd = feeder.Ok() ? OpenRaw(feeder, transport, error) : -1;
  if (fd < 0) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<char> record(recordBytes);
  for (auto _ : state) {
    if (!ReadRecord(fd, record.data(), recordBytes, transport)) {
      state.SkipWithError("the feeder stopped");
      break;
    }
    benchmark::DoNotOptimize(record.data());
  }
  close(fd);
  Count(state, recordBytes);
}

void BaselineB(benchmark::State& state, Transport transport, std::size_t recordBytes) {
  FeederProcess feeder({transport, recordBytes, false});
  std::string error = feeder.Error();
  const int fd = feeder.Ok() ? OpenRaw(feeder, transport, error) : -1;
  if (fd < 0) {
    state.SkipWithError(error.c_str());
    return;
  }
  ChunkReader reader(fd, transport);
  std::vector<char> record(recordBytes);
  for (auto _ : state) {
    if (!reader.Next(record.data(), recordBytes)) {
      state.SkipWithError("the feeder stopped");
      break;
    }
    benchmark::DoNotOptimize(record.data());
  }
  close(fd);
  Count(state, recordBytes);
}

void HostSocket(benchmark::State& state, Transport transport, std::size_t recordBytes) {
  FeederProcess feeder({transport, recordBytes, false});
  Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
  std::vector<char> record(recordBytes);
  if (!feeder.Ok() ||
      socket.Connect(VUString(("inet:127.0.0.1:" + std::to_string(feeder.Port())).c_str())) != 0 ||
      socket.Receive(record.data(), 4) != 4) {
    state.SkipWithError((feeder.Error() + socket.LastError()).c_str());
    return;
  }
  const long wanted = static_cast<long>(recordBytes);
  for (auto _ : state) {
    if (socket.Receive(record.data(), recordBytes) != wanted) {
      state.SkipWithError("the feeder stopped");
      break;
    }
    benchmark::DoNotOptimize(record.data());
  }
  Count(state, recordBytes);
}

void Iterator(benchmark::State& state, Transport transport, std::size_t recordBytes,
              bool swapped) {
  FeederProcess feeder({transport, recordBytes, swapped});
  std::string error = feeder.Error();
  const int slots = static_cast<int>(recordBytes / 8);
  std::unique_ptr<PluginStream> stream;
  if (feeder.Ok()) {
    stream = PluginStream::Open(transport == Transport::kPipe
                                    ? PipeCommand(feeder.PipePath(), slots)
                                    : SocketCommand(feeder.Port(), slots),
                                error);
  }
  if (!stream) {
    state.SkipWithError(error.c_str());
    return;
  }
  DRAV_InputCaseIterator& iterator = stream->Iterator();
  for (auto _ : state) {
    if (!iterator.Next()) {
      state.SkipWithError("the iterator ended");
      break;
    }
    benchmark::DoNotOptimize(stream->Case());
  }
  stream.reset();  // ends the pass before the feeder is stopped
  Count(state, recordBytes);
}

void Register(const std::string& name, void (*body)(benchmark::State&, Transport, std::size_t),
              Transport transport, std::size_t bytes) {
  benchmark::RegisterBenchmark(name.c_str(), body, transport, bytes)->UseRealTime();
}

void RegisterAll() {
  // Per size, the baselines and the iterator run back to back, so that the
  // ratios compare figures taken moments apart on a shared machine.
  for (std::size_t bytes : kRecordSizes) {
    for (Transport t : {Transport::kPipe, Transport::kSocket}) {
      const std::string suffix = "/" + std::to_string(bytes);
      Register(std::string(Name(t)) + "/baselineA" + suffix, BaselineA, t, bytes);
      Register(std::string(Name(t)) + "/baselineB" + suffix, BaselineB, t, bytes);
      if (t == Transport::kSocket) Register("socket/hostSocket" + suffix, HostSocket, t, bytes);
      benchmark::RegisterBenchmark((std::string(Name(t)) + "/iterator" + suffix).c_str(),
                                   Iterator, t, bytes, false)
          ->UseRealTime();
      if (t == Transport::kSocket) {
        benchmark::RegisterBenchmark(("socket/reversed" + suffix).c_str(), Iterator, t, bytes,
                                     true)
            ->UseRealTime();
      }
    }
  }
}

}  // namespace
}  // namespace bench
}  // namespace drav

int main(int argc, char** argv) {
  drav::bench::RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
