#include "bench/BenchFeeder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace drav {
namespace bench {
namespace {

constexpr std::size_t kBatchBytes = 1 << 20;
constexpr int kPipeBytes = 1 << 20;  // the usual ceiling of /proc/sys/fs/pipe-max-size
constexpr int kAcceptWaitMs = 30000;

void Reverse8(char* p) { std::reverse(p, p + 8); }

// Writes the batch again and again until the reader goes away. Runs in the
// child, so it only makes system calls and never returns.
[[noreturn]] void WriteForever(int fd, const std::string& batch, bool socket) {
  for (;;) {
    std::size_t at = 0;
    while (at < batch.size()) {
      const ssize_t n = socket ? send(fd, batch.data() + at, batch.size() - at, MSG_NOSIGNAL)
                               : write(fd, batch.data() + at, batch.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) _exit(0);
      at += static_cast<std::size_t>(n);
    }
  }
}

[[noreturn]] void ServePipe(const std::string& path, const std::string& batch) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the reader
  if (fd < 0) _exit(1);
  fcntl(fd, F_SETPIPE_SZ, kPipeBytes);  // a smaller pipe only costs speed
  WriteForever(fd, batch, false);
}

[[noreturn]] void ServeSocket(int listenFd, const std::string& batch, bool swapped) {
  pollfd pfd{listenFd, POLLIN, 0};
  if (poll(&pfd, 1, kAcceptWaitMs) != 1) _exit(1);
  const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) _exit(1);
  std::int32_t probe = 1;
  char probeBytes[4];
  std::memcpy(probeBytes, &probe, 4);
  if (swapped) std::reverse(probeBytes, probeBytes + 4);
  if (send(fd, probeBytes, 4, MSG_NOSIGNAL) != 4) _exit(0);
  WriteForever(fd, batch, true);
}

}  // namespace

std::string BuildRecords(std::size_t recordBytes, bool swapped) {
  const std::size_t records = (kBatchBytes + recordBytes - 1) / recordBytes;
  std::string batch(records * recordBytes, '\0');
  for (std::size_t at = 0, slot = 0; at + 8 <= batch.size(); at += 8, ++slot) {
    const double value = static_cast<double>(slot % 9973) * 0.25 - 100.0;
    std::memcpy(&batch[at], &value, 8);
    if (swapped) Reverse8(&batch[at]);
  }
  return batch;
}

FeederProcess::FeederProcess(const FeedSpec& spec) : spec_(spec) {
  const bool ready = spec.transport == Transport::kPipe ? MakePipe() : MakeListener();
  if (!ready) return;
  const std::string batch = BuildRecords(spec.recordBytes, spec.swapped);
  child_ = fork();
  if (child_ < 0) {
    error_ = std::string("fork: ") + std::strerror(errno);
    return;
  }
  if (child_ == 0) {
    signal(SIGPIPE, SIG_IGN);
    if (spec.transport == Transport::kPipe) ServePipe(pipePath_, batch);
    ServeSocket(listenFd_, batch, spec.swapped);
  }
  // The child holds the listening socket now; the connection the reader
  // makes waits in its backlog until the child accepts it.
}

FeederProcess::~FeederProcess() {
  if (child_ > 0) {
    kill(child_, SIGKILL);
    int status = 0;
    while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (listenFd_ >= 0) close(listenFd_);
  if (!pipePath_.empty()) unlink(pipePath_.c_str());
  if (!folder_.empty()) rmdir(folder_.c_str());
}

bool FeederProcess::MakePipe() {
  char folder[] = "/tmp/dravbench.XXXXXX";
  if (!mkdtemp(folder)) {
    error_ = std::string("mkdtemp: ") + std::strerror(errno);
    return false;
  }
  folder_ = folder;
  pipePath_ = folder_ + "/data";
  if (mkfifo(pipePath_.c_str(), 0600) != 0) {
    error_ = "mkfifo " + pipePath_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool FeederProcess::MakeListener() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listenFd_, 1) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error_ = std::string("loopback listener: ") + std::strerror(errno);
    return false;
  }
  port_ = ntohs(address.sin_port);
  return true;
}

}  // namespace bench
}  // namespace drav
