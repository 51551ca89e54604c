#include "tests/support/TestFeeder.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>

#include "host/WireFormat.h"
#include "tests/support/Loopback.h"

namespace drav {
namespace test {

namespace {

constexpr int kPollMs = 5;
constexpr auto kWaitLimit = std::chrono::seconds(10);

// A reader that went away must not kill the test program: the feeder's
// writes fail instead.
void BlockSigpipe() {
  sigset_t pipeSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, nullptr);
}

// Discards whatever a reader left unread in the data pipe, so that an
// answer to RWND or SEEK is not preceded by stale records.
void Drain(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  char buffer[4096];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
  close(fd);
}

bool WritePiece(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

std::string NativeProbe() {
  std::int32_t one = wire::kProbeValue;
  return std::string(reinterpret_cast<const char*>(&one), sizeof one);
}

std::string SwappedProbe() {
  std::string probe = NativeProbe();
  std::reverse(probe.begin(), probe.end());
  return probe;
}

std::unique_ptr<TestFeeder> TestFeeder::OverPipe(const TempDir& dir, bool withRewindPipe,
                                                 std::vector<std::string> records) {
  std::unique_ptr<TestFeeder> feeder(new TestFeeder(std::move(records)));
  feeder->streamName_ = dir.MakeFifo("data.pipe");
  if (withRewindPipe) {
    feeder->rewindName_ = dir.MakeFifo("rewind.pipe");
    // Read and write: the feeder is a reader of its rewind pipe from now on,
    // and never sees the end of it when a writer closes.
    feeder->rewindFd_ = open(feeder->rewindName_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  feeder->thread_ = std::thread([f = feeder.get()] { f->RunPipe(); });
  return feeder;
}

std::unique_ptr<TestFeeder> TestFeeder::OverSocket(std::vector<std::string> records, std::string probe) {
  std::unique_ptr<TestFeeder> feeder(new TestFeeder(std::move(records)));
  int port = 0;
  feeder->listenFd_ = ListenOnLoopback(AF_INET, &port);
  if (feeder->listenFd_ < 0) throw std::runtime_error("test feeder cannot listen on loopback");
  feeder->probe_ = std::move(probe);
  feeder->streamName_ = "inet:127.0.0.1:" + std::to_string(port);
  feeder->thread_ = std::thread([f = feeder.get()] { f->RunSocket(); });
  return feeder;
}

TestFeeder::~TestFeeder() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
  if (rewindFd_ >= 0) close(rewindFd_);
}

void TestFeeder::MakeDataPipeAgain() const {
  if (mkfifo(streamName_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + streamName_);
}

std::string TestFeeder::ControlBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return controlBytes_;
}

std::string TestFeeder::AwaitControlBytes(std::size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kWaitLimit, [&] { return controlBytes_.size() >= count; });
  return controlBytes_;
}

void TestFeeder::WaitForPassesServed(int count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kWaitLimit, [&] { return passesServed_ >= count; });
}

void TestFeeder::PassServed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++passesServed_;
  }
  changed_.notify_all();
}

void TestFeeder::Received(const std::string& bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controlBytes_ += bytes;
  }
  changed_.notify_all();
}

std::vector<std::size_t> TestFeeder::TakeRequests(std::string& pending) {
  std::vector<std::size_t> out;
  while (pending.size() >= wire::kControlWordBytes) {
    const std::string word = pending.substr(0, wire::kControlWordBytes);
    const std::size_t need = word == wire::kSeek ? wire::kSeekMessageBytes : wire::kControlWordBytes;
    if (pending.size() < need) break;
    if (word == wire::kRewind) out.push_back(0);
    if (word == wire::kSeek) {
      long long caseNumber = 0;
      std::memcpy(&caseNumber, pending.data() + wire::kControlWordBytes, wire::kSeekCaseBytes);
      out.push_back(static_cast<std::size_t>(std::max(0LL, caseNumber)));
    }
    pending.erase(0, need);
  }
  return out;
}

bool TestFeeder::Write(int fd, const std::string& head, std::size_t firstCase) {
  std::string bytes = head;
  for (std::size_t i = firstCase; i < records_.size(); ++i) bytes += records_[i];
  std::mt19937 random(static_cast<unsigned>(firstCase) + 1);
  for (std::size_t done = 0; done < bytes.size();) {
    const std::size_t piece = std::min<std::size_t>(bytes.size() - done, 1 + random() % 13);
    if (!WritePiece(fd, bytes.data() + done, piece)) return false;
    done += piece;
  }
  return true;
}

// Opens the data pipe for writing without blocking for ever: waits for a
// reader until the feeder stops.
int TestFeeder::OpenDataPipeWhenReaderComes() {
  while (!stop_) {
    int fd = open(streamName_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return -1;
}

void TestFeeder::ServePipe(std::size_t firstCase, bool laterPass) {
  if (laterPass) Drain(streamName_);
  int fd = OpenDataPipeWhenReaderComes();
  if (fd < 0) return;
  if (Write(fd, "", firstCase) && laterPass) {
    // The reader's blocking reopen only returns while a writer is there:
    // hold the write end until it has taken everything (or asked for
    // something else). Having no reader for a moment is no reason to stop:
    // the reader closes its old descriptor before it opens the new one, and
    // closing now would drop the records and leave that open waiting for a
    // writer that never comes.
    for (;;) {
      int unread = 0;
      if (stop_ || ioctl(fd, FIONREAD, &unread) != 0 || unread == 0) break;
      pollfd p{rewindFd_, POLLIN, 0};
      if (poll(&p, rewindFd_ >= 0 ? 1 : 0, 1) > 0 && (p.revents & POLLIN)) break;
    }
  }
  close(fd);
  PassServed();
}

void TestFeeder::RunPipe() {
  BlockSigpipe();
  ServePipe(0, false);
  std::string pending;
  while (!stop_ && rewindFd_ >= 0) {
    pollfd p{rewindFd_, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    char buffer[64];
    ssize_t n = read(rewindFd_, buffer, sizeof buffer);
    if (n <= 0) continue;
    pending.append(buffer, static_cast<std::size_t>(n));
    Received(std::string(buffer, static_cast<std::size_t>(n)));
    for (std::size_t firstCase : TakeRequests(pending)) ServePipe(firstCase, true);
  }
}

void TestFeeder::ServeSocket(int conn, const std::string& head, std::size_t firstCase) {
  Write(conn, head, firstCase);
  // The end of the data is the end of what the feeder sends; the reading
  // side stays open for "STOP".
  shutdown(conn, SHUT_WR);
  PassServed();
}

void TestFeeder::RunSocket() {
  BlockSigpipe();
  int conn = -1;
  bool firstConnection = true, awaitingRequest = false;
  std::string pending;
  while (!stop_) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {conn, POLLIN, 0}};
    if (poll(p, conn >= 0 ? 2 : 1, kPollMs) <= 0) continue;
    if (conn >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buffer[64];
      ssize_t n = recv(conn, buffer, sizeof buffer, 0);
      if (n <= 0) {
        close(conn);
        conn = -1;
        continue;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
      Received(std::string(buffer, static_cast<std::size_t>(n)));
      // A later connection starts with where to begin; a request on a
      // running connection is answered on a new one.
      std::vector<std::size_t> requests = TakeRequests(pending);
      if (awaitingRequest && !requests.empty()) ServeSocket(conn, "", requests[0]);
      awaitingRequest = awaitingRequest && requests.empty();
      continue;
    }
    if (!(p[0].revents & POLLIN)) continue;
    int next = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (next < 0) continue;
    if (conn >= 0) close(conn);
    conn = next;
    pending.clear();
    awaitingRequest = !firstConnection;
    if (firstConnection) ServeSocket(conn, probe_, 0);
    firstConnection = false;
  }
  if (conn >= 0) close(conn);
}

}  // namespace test
}  // namespace drav
