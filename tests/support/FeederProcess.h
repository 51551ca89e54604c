#pragma once
// A feeder that misbehaves at the byte level, as a real process: a forked
// child runs a short script of system calls against a named pipe or a
// loopback listener, and may die by SIGKILL at a chosen byte, write one byte
// at a time or stay silent. Feeders that behave are the feeder library's own
// servers (TestFeeder.h). The child makes system calls only (no allocation,
// no locks), so forking from a test program with threads is safe.
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace drav {
namespace test {

class FeederProcess {
 public:
  // Forks; the child runs `script` and exits with status 0 when it returns.
  explicit FeederProcess(const std::function<void()>& script);
  // Kills and reaps a child that is still running.
  ~FeederProcess();
  FeederProcess(const FeederProcess&) = delete;
  FeederProcess& operator=(const FeederProcess&) = delete;

  // Waits for the child and returns its wait status.
  int Wait();
  // The script ran to its end (no step failed).
  bool RanToTheEnd() { return Wait() == 0; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// The child's side: each call succeeds or ends the child with status 7x.
namespace child {
int OpenForWriting(const char* path);
int OpenForReading(const char* path);  // non-blocking: waits for no writer
int AcceptOne(int listenFd);           // with TCP_NODELAY: pieces stay apart
// Reads `bytes.size()` bytes and ends the child unless they are `bytes`.
void Expect(int fd, const std::string& bytes);
// Writes `bytes` in pieces of the given sizes (cycled; empty: all at once),
// pausing `pauseMicros` after each.
void Write(int fd, const std::string& bytes, const std::vector<std::size_t>& pieces, int pauseMicros = 0);
void PauseMillis(int milliseconds);
[[noreturn]] void DieByKill();
}  // namespace child

}  // namespace test
}  // namespace drav
