#include "tests/support/ScriptedFeeder.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace drav {
namespace test {

ScriptedFeeder::ScriptedFeeder(const std::function<void()>& script) {
  pid_ = fork();
  if (pid_ == 0) {
    script();
    _exit(0);
  }
}

ScriptedFeeder::~ScriptedFeeder() {
  if (pid_ > 0 && !reaped_) kill(pid_, SIGKILL);
  Wait();
}

int ScriptedFeeder::Wait() {
  while (pid_ > 0 && !reaped_ && waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  return status_;
}

namespace child {

constexpr int kOpenFailed = 71, kWriteFailed = 73, kUnexpectedBytes = 74;

int Opened(int fd) {
  if (fd < 0) _exit(kOpenFailed);
  return fd;
}

int OpenForWriting(const char* path) { return Opened(open(path, O_WRONLY)); }

int OpenForReading(const char* path) { return Opened(open(path, O_RDONLY | O_NONBLOCK)); }

int AcceptOne(int listenFd) {
  const int fd = Opened(accept(listenFd, nullptr, nullptr)), on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

void Expect(int fd, const std::string& bytes) {
  char buffer[256];
  for (std::size_t at = 0, n = 0; at < bytes.size(); at += n) {
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, bytes.size() - at));
    n = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (n == 0 || bytes.compare(at, n, buffer, n) != 0) _exit(kUnexpectedBytes);
  }
}

void Write(int fd, const std::string& bytes, const std::vector<std::size_t>& pieces, int pauseMicros) {
  for (std::size_t i = 0, done = 0; done < bytes.size(); ++i) {
    const std::size_t piece = std::min(pieces.empty() ? bytes.size() : pieces[i % pieces.size()], bytes.size() - done);
    for (std::size_t written = 0; written < piece;) {
      const ssize_t n = write(fd, bytes.data() + done + written, piece - written);
      if (n <= 0) _exit(kWriteFailed);
      written += static_cast<std::size_t>(n);
    }
    done += piece;
    if (pauseMicros > 0) usleep(static_cast<useconds_t>(pauseMicros));
  }
}

void PauseMillis(int milliseconds) {
  timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) < 0 && errno == EINTR) {
  }
}

void DieByKill() {
  raise(SIGKILL);
  _exit(kWriteFailed);  // not reached
}

}  // namespace child
}  // namespace test
}  // namespace drav
