#pragma once
// A feeder that misbehaves at the byte level, as a real process: a forked child runs a short script of system calls
// against a named pipe or a loopback listener (dying by SIGKILL at a chosen byte, writing byte by byte, silent...).
// Feeders that behave: TestFeeder.h. Each step succeeds or ends the child with status 7x, which Wait() shows.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace drav::test {

class ScriptedFeeder {
 public:
  explicit ScriptedFeeder(const std::function<void()>& script) : pid_(fork()) {
    if (pid_ == 0) {
      script();
      _exit(0);
    }
  }
  ~ScriptedFeeder() {  // kills and reaps a child still running
    if (pid_ > 0 && !reaped_) kill(pid_, SIGKILL);
    Wait();
  }
  ScriptedFeeder(const ScriptedFeeder&) = delete;
  ScriptedFeeder& operator=(const ScriptedFeeder&) = delete;
  int Wait() {  // the child's wait status
    while (pid_ > 0 && !reaped_ && waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status_;
  }
  bool RanToTheEnd() { return Wait() == 0; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

namespace child {

constexpr int kOpenFailed = 71, kWriteFailed = 73, kUnexpectedBytes = 74;

inline int Opened(int fd) {
  if (fd < 0) _exit(kOpenFailed);
  return fd;
}
inline int OpenForWriting(const char* path) { return Opened(open(path, O_WRONLY)); }
// Non-blocking: waits for no writer.
inline int OpenForReading(const char* path) { return Opened(open(path, O_RDONLY | O_NONBLOCK)); }
// With TCP_NODELAY: small pieces stay apart.
inline int AcceptOne(int listenFd) {
  const int fd = Opened(accept(listenFd, nullptr, nullptr)), on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Reads exactly these bytes.
inline void Expect(int fd, const std::string& bytes) {
  char buffer[256];
  for (std::size_t at = 0, n = 0; at < bytes.size(); at += n) {
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, bytes.size() - at));
    n = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (n == 0 || bytes.compare(at, n, buffer, n) != 0) _exit(kUnexpectedBytes);
  }
}

// Writes `bytes` in pieces of the given sizes (cycled; none: all at once), pausing `pauseMicros` after each.
inline void Write(int fd, const std::string& bytes, const std::vector<std::size_t>& pieces, int pauseMicros = 0) {
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

inline void PauseMillis(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

[[noreturn]] inline void DieByKill() {
  raise(SIGKILL);
  _exit(kWriteFailed);  // not reached
}

}  // namespace child
}  // namespace drav::test
