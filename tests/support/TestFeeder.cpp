#include "tests/support/TestFeeder.h"

#include <arpa/inet.h>
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

namespace drav {
namespace test {

namespace {

constexpr int kPollMs = 5;

std::string Reversed(std::string bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// Opens the data pipe for writing without blocking forever: waits for a
// reader while `stopping` says false.
template <typename Stop>
int OpenWriterWhenReaderComes(const std::string& path, Stop stopping) {
  while (!stopping()) {
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    Pause();
  }
  return -1;
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

bool WritePiece(int fd, bool socket, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = socket ? send(fd, p, n, MSG_NOSIGNAL) : write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Reads exactly `n` bytes from a socket, giving up when stopping or closed.
template <typename Stop>
bool ReadExactly(int fd, std::string& out, std::size_t n, Stop stopping) {
  while (out.size() < n && !stopping()) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    char buffer[64];
    ssize_t r = recv(fd, buffer, std::min(sizeof buffer, n - out.size()), 0);
    if (r <= 0) return false;
    out.append(buffer, static_cast<std::size_t>(r));
  }
  return out.size() == n;
}

}  // namespace

std::string FeederOptions::NativeProbe() {
  std::int32_t one = wire::kProbeValue;
  return std::string(reinterpret_cast<const char*>(&one), sizeof one);
}

std::string FeederOptions::SwappedProbe() { return Reversed(NativeProbe()); }

std::unique_ptr<TestFeeder> TestFeeder::OverPipe(const TempDir& dir, bool withRewindPipe,
                                                 FeederOptions options) {
  std::unique_ptr<TestFeeder> feeder(new TestFeeder(std::move(options)));
  feeder->dataPath_ = dir.MakeFifo("data.pipe");
  feeder->streamName_ = feeder->dataPath_;
  if (withRewindPipe) feeder->rewindName_ = dir.MakeFifo("rewind.pipe");
  feeder->thread_ = std::thread([f = feeder.get()] { f->RunPipe(); });
  return feeder;
}

std::unique_ptr<TestFeeder> TestFeeder::OverSocket(FeederOptions options) {
  std::unique_ptr<TestFeeder> feeder(new TestFeeder(std::move(options)));
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 8) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("test feeder cannot listen on loopback");
  }
  feeder->listenFd_ = fd;
  feeder->streamName_ = "inet:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  feeder->thread_ = std::thread([f = feeder.get()] { f->RunSocket(); });
  return feeder;
}

TestFeeder::~TestFeeder() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
}

void TestFeeder::WaitUntilGone() {
  if (thread_.joinable()) thread_.join();
}

std::vector<ControlMessage> TestFeeder::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::string TestFeeder::ControlBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return controlBytes_;
}

void TestFeeder::WaitForMessages(std::size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return messages_.size() >= count; });
}

void TestFeeder::WaitForDataPipe() const {
  struct stat st;
  while (stat(dataPath_.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) Pause();
}

void TestFeeder::WaitForPassesServed(int count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return passesServed_ >= count; });
}

void TestFeeder::PassServed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++passesServed_;
  }
  changed_.notify_all();
}

void TestFeeder::Record(const std::string& bytes, const std::vector<ControlMessage>& messages) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controlBytes_ += bytes;
    messages_.insert(messages_.end(), messages.begin(), messages.end());
  }
  changed_.notify_all();
}

std::vector<ControlMessage> TestFeeder::TakeMessages(std::string& pending) {
  std::vector<ControlMessage> out;
  while (pending.size() >= wire::kControlWordBytes) {
    ControlMessage m;
    m.word = pending.substr(0, wire::kControlWordBytes);
    std::size_t need = m.word == wire::kSeek ? wire::kSeekMessageBytes : wire::kControlWordBytes;
    if (pending.size() < need) break;
    if (need == wire::kSeekMessageBytes)
      std::memcpy(&m.caseNumber, pending.data() + wire::kControlWordBytes, wire::kSeekCaseBytes);
    pending.erase(0, need);
    out.push_back(m);
  }
  return out;
}

bool TestFeeder::WriteAll(int fd, bool socket, std::size_t firstCase, bool firstPass) {
  std::string bytes;
  for (std::size_t i = firstCase; i < options_.records.size(); ++i) bytes += options_.records[i];
  if (firstPass && options_.firstPassBytes >= 0 &&
      static_cast<std::size_t>(options_.firstPassBytes) < bytes.size())
    bytes.resize(static_cast<std::size_t>(options_.firstPassBytes));
  std::mt19937 random(options_.seed + static_cast<unsigned>(firstCase));
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t piece = bytes.size() - done;
    if (options_.pieces == FeederOptions::Pieces::kOneByte) piece = 1;
    if (options_.pieces == FeederOptions::Pieces::kRandom)
      piece = std::min<std::size_t>(piece, 1 + random() % 13);
    if (!WritePiece(fd, socket, bytes.data() + done, piece)) return false;
    done += piece;
    if (options_.pauseMicros > 0) std::this_thread::sleep_for(std::chrono::microseconds(options_.pauseMicros));
  }
  return true;
}

void TestFeeder::ServePipe(std::size_t firstCase, bool firstPass) {
  if (!firstPass) Drain(dataPath_);
  int fd = OpenWriterWhenReaderComes(dataPath_, [this] { return Stopping(); });
  if (fd < 0) return;
  if (WriteAll(fd, false, firstCase, firstPass) && !firstPass) {
    // The reader's blocking reopen only returns while a writer is there:
    // hold the write end until it has taken everything (or asked for
    // something else). Having no reader for a moment is no reason to stop:
    // the reader closes its old descriptor before it opens the new one, and
    // closing now would drop the records and leave that open waiting for a
    // writer that never comes.
    for (;;) {
      int unread = 0;
      if (Stopping() || ioctl(fd, FIONREAD, &unread) != 0 || unread == 0) break;
      pollfd p{rewindFd_, POLLIN, 0};
      if (poll(&p, rewindFd_ >= 0 ? 1 : 0, 1) > 0 && (p.revents & POLLIN)) break;
    }
  }
  close(fd);
  PassServed();
}

void TestFeeder::RunPipe() {
  // A reader that went away must not kill the test program.
  sigset_t pipeSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, nullptr);
  auto openRewind = [this] {
    return rewindName_.empty() ? -1 : open(rewindName_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  };
  rewindFd_ = openRewind();
  ServePipe(0, true);
  std::string pending;
  while (!Stopping() && !options_.vanishAfterFirstPass && rewindFd_ >= 0) {
    struct stat st;
    if (stat(dataPath_.c_str(), &st) != 0 && errno == ENOENT) mkfifo(dataPath_.c_str(), 0600);
    pollfd p{rewindFd_, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    char buffer[64];
    ssize_t n = read(rewindFd_, buffer, sizeof buffer);
    if (n > 0) {
      std::string bytes(buffer, static_cast<std::size_t>(n));
      pending += bytes;
      std::vector<ControlMessage> messages = TakeMessages(pending);
      Record(bytes, messages);
      for (const ControlMessage& m : messages) {
        if (m.word == wire::kRewind) ServePipe(0, false);
        if (m.word == wire::kSeek) ServePipe(static_cast<std::size_t>(std::max(0LL, m.caseNumber)), false);
      }
    } else if (n == 0) {
      // Every writer has gone: start afresh so poll waits for the next one.
      close(rewindFd_);
      rewindFd_ = openRewind();
    }
  }
  if (rewindFd_ >= 0) close(rewindFd_);
  rewindFd_ = -1;
}

void TestFeeder::RunSocket() {
  auto stopping = [this] { return Stopping(); };
  auto acceptOne = [&]() -> int {
    while (!Stopping()) {
      pollfd p{listenFd_, POLLIN, 0};
      if (poll(&p, 1, kPollMs) > 0) return accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    return -1;
  };
  int conn = acceptOne();
  if (conn < 0) return;
  const std::string& probe = options_.probe;
  WritePiece(conn, true, probe.data(), probe.size());
  WriteAll(conn, true, 0, true);
  // The end of the data is the end of what the feeder sends; the reading
  // side stays open for "STOP".
  shutdown(conn, SHUT_WR);
  PassServed();
  if (options_.vanishAfterFirstPass) {
    close(conn);
    close(listenFd_);
    listenFd_ = -1;
    return;
  }
  std::string pending;
  while (!Stopping()) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {conn, POLLIN, 0}};
    if (poll(p, conn >= 0 ? 2 : 1, kPollMs) <= 0) continue;
    if (conn >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buffer[64];
      ssize_t n = recv(conn, buffer, sizeof buffer, 0);
      if (n > 0) {
        std::string bytes(buffer, static_cast<std::size_t>(n));
        pending += bytes;
        Record(bytes, TakeMessages(pending));
      } else {
        close(conn);
        conn = -1;
        pending.clear();
      }
      continue;
    }
    if (p[0].revents & POLLIN) {
      int next = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (next < 0) continue;
      // The first bytes of a later connection say where to start.
      std::string first;
      if (!ReadExactly(next, first, wire::kControlWordBytes, stopping)) {
        close(next);
        continue;
      }
      if (first == wire::kSeek) ReadExactly(next, first, wire::kSeekMessageBytes, stopping);
      const std::string bytes = first;
      std::vector<ControlMessage> messages = TakeMessages(first);
      Record(bytes, messages);
      std::size_t from = 0;
      if (!messages.empty() && messages[0].word == wire::kSeek)
        from = static_cast<std::size_t>(std::max(0LL, messages[0].caseNumber));
      if (conn >= 0) close(conn);
      conn = next;
      WriteAll(conn, true, from, false);
      shutdown(conn, SHUT_WR);
      PassServed();
    }
  }
  if (conn >= 0) close(conn);
}

std::size_t RecordBuilder::RecordBytes() const {
  wire::CaseLayout layout;
  for (int w : widths_) layout.Append(w);
  return layout.RecordBytes();
}

std::string RecordBuilder::Make(const std::vector<double>& numbers,
                                const std::vector<std::string>& texts) const {
  wire::CaseLayout layout;
  for (int w : widths_) layout.Append(w);
  std::string record(layout.RecordBytes(), wire::kStringPad);
  std::size_t nextNumber = 0, nextText = 0;
  for (std::size_t i = 0; i < widths_.size(); ++i) {
    char* at = &record[layout.ByteOffset(i)];
    if (layout.IsString(i)) {
      const std::string& text = texts.at(nextText++);
      std::memcpy(at, text.data(), std::min<std::size_t>(text.size(), static_cast<std::size_t>(widths_[i])));
    } else {
      double value = numbers.at(nextNumber++);
      std::memcpy(at, &value, sizeof value);
      if (swapped_) std::reverse(at, at + sizeof value);
    }
  }
  return record;
}

}  // namespace test
}  // namespace drav
