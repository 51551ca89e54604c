// Feeders killed at random offsets. For each kill a child process writes
// the first N bytes of a run of pre-built records (N drawn at random, now and
// then exactly on a record boundary or 0), in pieces of random size, and
// then dies by SIGKILL. The records are more than a pipe holds, so most
// feeders die while the host is still reading. The host must get exactly
// the N / record-size whole records before the cut, intact and in order,
// with RowCount equal to that number; the plug-in's FIFO must be gone after
// the pass; the host's descriptors and memory must stay flat.
//
// Over TCP every other feeder plays the other byte order, so the cut also
// falls through the path that reverses numbers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "dravfeed/ByteOrder.h"
#include "host/OBS.h"
#include "tests/soak/CheckedPass.h"
#include "tests/soak/ResourceWatch.h"
#include "tests/soak/Soak.h"
#include "tests/support/TempDir.h"

namespace drav {
namespace soak {
namespace {

// 4000 records of 40 bytes: 160,000 bytes, more than twice a pipe's 64 KiB.
constexpr std::int64_t kRecords = 4000;
constexpr int kChildFailed = 3;

// The feeder child: only calls that are safe after fork in a threaded
// program. Writes `count` bytes of `bytes` in pieces drawn from `seed`, then
// kills itself; exits with kChildFailed if a write fails first.
[[noreturn]] void FeedThenDie(int fd, bool socket, const char* bytes, std::size_t count, unsigned seed) {
  std::size_t done = 0;
  unsigned state = seed | 1u;
  while (done < count) {
    state = state * 1103515245u + 12345u;  // a small generator needs no allocation
    std::size_t piece = 1 + (state >> 8) % 8192;
    if (piece > count - done) piece = count - done;
    ssize_t n = socket ? send(fd, bytes + done, piece, MSG_NOSIGNAL) : write(fd, bytes + done, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(kChildFailed);
    done += static_cast<std::size_t>(n);
  }
  raise(SIGKILL);
  _exit(kChildFailed);
}

class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 4) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      const std::string why = std::strerror(errno);
      if (fd_ >= 0) close(fd_);
      Fail("cannot listen on loopback: " + why);
    }
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) close(fd_);
  }
  int Fd() const { return fd_; }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

struct Kill {
  std::int64_t number;
  std::size_t cut;     // bytes of records the feeder writes before it dies
  bool swapped;        // socket: the feeder plays the other byte order
  unsigned pieceSeed;
};

std::size_t DrawCut(std::mt19937& random, std::size_t total, std::size_t record) {
  switch (random() % 8) {
    case 0:
      return (random() % (total / record + 1)) * record;  // exactly between records
    case 1:
      return random() % 2 == 0 ? 0 : total;
    default:
      return random() % (total + 1);
  }
}

// Forks the feeder child for one kill. Over a pipe it opens `pipePath` for
// writing (meeting the host's open); over TCP it accepts on `listener`.
pid_t StartChild(const Kill& kill, const SoakConfig& config, const std::string& pipePath,
                 const Listener& listener, const std::vector<char>& records) {
  pid_t pid = fork();
  if (pid < 0) Fail("fork failed: " + std::string(std::strerror(errno)));
  if (pid > 0) return pid;
  if (config.transport == Transport::kPipe) {
    int fd = open(pipePath.c_str(), O_WRONLY);
    if (fd < 0) _exit(kChildFailed);
    FeedThenDie(fd, false, records.data(), kill.cut, kill.pieceSeed);
  }
  int fd = accept(listener.Fd(), nullptr, nullptr);
  if (fd < 0) _exit(kChildFailed);
  const std::array<char, 4> probe =
      feed::ProbeBytes(kill.swapped ? feed::ByteOrder::kSwapped : feed::ByteOrder::kNative);
  if (send(fd, probe.data(), probe.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(probe.size()))
    _exit(kChildFailed);
  FeedThenDie(fd, true, records.data(), kill.cut, kill.pieceSeed);
}

void ExpectKilled(pid_t pid, const std::string& where) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) Fail(where + ": cannot reap the feeder");
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
    Fail(where + ": the feeder did not die by SIGKILL (status " + std::to_string(status) +
         "); it could not write its bytes");
}

// One kill; returns the number of whole records the host got.
std::int64_t KillOnce(const Kill& kill, const SoakConfig& config, const test::TempDir& dir,
                      const Listener& listener, const std::vector<char>& records,
                      ExpectedCases& expected) {
  const std::string where = std::string("kill ") + std::to_string(kill.number) + " (" +
                            TransportName(config.transport) + (kill.swapped ? ", swapped" : "") +
                            ", cut after " + std::to_string(kill.cut) + " bytes)";
  const std::string pipePath = dir.File("killed.pipe");
  if (config.transport == Transport::kPipe && mkfifo(pipePath.c_str(), 0600) != 0)
    Fail(where + ": mkfifo failed: " + std::strerror(errno));
  const pid_t child = StartChild(kill, config, pipePath, listener, records);
  const StreamPlace place = config.transport == Transport::kPipe
                                ? StreamPlace::Pipe(pipePath)
                                : StreamPlace::Socket(listener.Port(), false);
  std::int64_t got = 0;
  {
    std::unique_ptr<DRAV_DataSource> source = OpenSoakSource(StreamCommand(place, false));
    OBS obs(source->GetObsAreaSize());
    std::unique_ptr<DRAV_InputCaseIterator> it(source->MakeIterator(&obs));
    got = ReadChecked(*it, obs, expected, 0, where);
    it.reset();
    const std::int64_t whole = static_cast<std::int64_t>(kill.cut / expected.RecordBytes());
    if (got != whole) Fail(where + ": " + std::to_string(got) + " cases instead of " + std::to_string(whole));
    if (source->RowCount() != whole) Fail(where + ": RowCount " + std::to_string(source->RowCount()));
  }
  ExpectKilled(child, where);
  struct stat st;
  if (config.transport == Transport::kPipe && lstat(pipePath.c_str(), &st) == 0)
    Fail(where + ": the data pipe is still there after the pass");
  return got;
}

}  // namespace

void RunKillSoak(const SoakConfig& config) {
  const std::string run = std::string("kills ") + TransportName(config.transport);
  ExpectedCases expected;
  const std::vector<char> native = expected.Records(kRecords, feed::ByteOrder::kNative);
  const std::vector<char> swapped = expected.Records(kRecords, feed::ByteOrder::kSwapped);
  test::TempDir dir;
  Listener listener;
  std::mt19937 random(config.seed);
  ResourceWatch watch(run, config);
  watch.Start();
  const auto began = std::chrono::steady_clock::now();
  const std::int64_t every = SampleInterval(config);
  std::int64_t cases = 0, midRecord = 0, boundary = 0;
  for (std::int64_t k = 0; k < config.count; ++k) {
    Kill kill{k, DrawCut(random, native.size(), expected.RecordBytes()),
              config.transport == Transport::kSocket && k % 2 == 1, static_cast<unsigned>(random())};
    cases += KillOnce(kill, config, dir, listener, kill.swapped ? swapped : native, expected);
    (kill.cut % expected.RecordBytes() == 0 ? boundary : midRecord) += 1;
    if ((k + 1) % every == 0) watch.Sample("kills " + std::to_string(k + 1));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  watch.End();
  std::printf("  %s | %lld feeders killed (%lld cut inside a record, %lld between records), "
              "%lld cases checked, seed %u, %.1f s\n",
              run.c_str(), static_cast<long long>(config.count), static_cast<long long>(midRecord),
              static_cast<long long>(boundary), static_cast<long long>(cases), config.seed, seconds);
  watch.Check();
}

}  // namespace soak
}  // namespace drav
