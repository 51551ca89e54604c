#pragma once
// A feeder that misbehaves at the byte level, as a real process: a forked
// child runs a short script of system calls against a named pipe or a
// loopback listener, and may die by SIGKILL at a chosen byte, write one byte
// at a time or stay silent. Feeders that behave are the feeder library's own
// servers (TestFeeder.h). Each step either succeeds or ends the child with
// status 7x, so a failing script shows in Wait().
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace drav {
namespace test {

class ScriptedFeeder {
 public:
  // Forks; the child runs `script` and exits with status 0 when it returns.
  explicit ScriptedFeeder(const std::function<void()>& script);
  ~ScriptedFeeder();  // kills and reaps a child still running
  ScriptedFeeder(const ScriptedFeeder&) = delete;
  ScriptedFeeder& operator=(const ScriptedFeeder&) = delete;
  int Wait();  // the child's wait status
  bool RanToTheEnd() { return Wait() == 0; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

namespace child {
int OpenForWriting(const char* path);
int OpenForReading(const char* path);  // non-blocking: waits for no writer
int AcceptOne(int listenFd);           // with TCP_NODELAY: small pieces stay apart
void Expect(int fd, const std::string& bytes);  // reads exactly these bytes
// Writes `bytes` in pieces of the given sizes (cycled; none: all at once),
// pausing `pauseMicros` after each.
void Write(int fd, const std::string& bytes, const std::vector<std::size_t>& pieces, int pauseMicros = 0);
void PauseMillis(int milliseconds);
[[noreturn]] void DieByKill();
}  // namespace child

}  // namespace test
}  // namespace drav
