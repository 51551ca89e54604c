#pragma once
// Feeders that are real processes: a forked child runs a short script of
// system calls against a named pipe or a listening socket (LoopbackPort), and
// may end by SIGKILL at a chosen byte, exactly as a crashing feeder would. The child only makes system calls (no allocation, no locks), so it
// is safe to fork from a test program that has threads.
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/Loopback.h"

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

  bool Started() const { return pid_ > 0; }
  // Waits for the child and returns its wait status.
  int Wait();
  // Waits, then tells whether the script ran to its end: the child exited
  // and not with the status of a failed step. Any other exit status counts
  // as success, because under valgrind a forked child's leak check (of its
  // copy of the test's heap) replaces the status 0 it exited with.
  bool RanToTheEnd();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// The child's side. Each call either succeeds or ends the child with a
// distinctive exit status, so a failing feeder shows in Wait().
namespace child {
// True for the exit statuses the calls below end a child with.
bool IsFailedStep(int exitStatus);
int OpenForWriting(const char* path);
int OpenForReading(const char* path);  // non-blocking: does not wait for a writer
int AcceptOne(int listenFd);
// Reads `bytes.size()` bytes and ends the child unless they are `bytes`.
void Expect(int fd, const std::string& bytes);
// Writes `bytes` in pieces of the given sizes (cycled), pausing `pauseMicros`
// after each piece.
void Write(int fd, const std::string& bytes, const std::vector<std::size_t>& pieces,
           int pauseMicros = 0);
void PauseMillis(int milliseconds);
[[noreturn]] void DieByKill();
}  // namespace child

}  // namespace test
}  // namespace drav
