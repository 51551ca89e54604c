#include "tests/soak/FeederProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "tests/soak/Soak.h"

extern char** environ;

namespace drav {
namespace soak {
namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int ExitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

FeederProcess::FeederProcess(const std::string& program, const std::vector<std::string>& arguments) {
  int errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) Fail("cannot make a pipe for the feeder: " + std::string(std::strerror(errno)));
  std::vector<std::string> all{program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : all) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(errPipe[1]);
  errFd_ = errPipe[0];
  if (spawned != 0) {
    close(errFd_);
    errFd_ = -1;
    pid_ = -1;
    Fail("cannot start " + program + ": " + std::strerror(spawned));
  }
}

FeederProcess::~FeederProcess() {
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (errFd_ >= 0) close(errFd_);
}

FeederProcess::Read FeederProcess::ReadErrors(int timeoutMs) {
  if (errFd_ < 0) return Read::kEnded;
  pollfd p{errFd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return Read::kNothingYet;
  char buffer[4096];
  ssize_t n = read(errFd_, buffer, sizeof buffer);
  if (n > 0) {
    errors_.append(buffer, static_cast<std::size_t>(n));
    return Read::kSome;
  }
  if (n < 0 && errno == EINTR) return Read::kNothingYet;
  close(errFd_);
  errFd_ = -1;
  return Read::kEnded;
}

std::string FeederProcess::Describe() const {
  return "feeder " + std::to_string(pid_) + (errors_.empty() ? " said nothing" : " said: " + errors_);
}

std::string FeederProcess::AwaitLine(const std::string& text, int timeoutMs) {
  const std::int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    std::size_t end;
    while ((end = errors_.find('\n', consumed_)) != std::string::npos) {
      std::string line = errors_.substr(consumed_, end - consumed_);
      consumed_ = end + 1;
      if (line.find(text) != std::string::npos) return line;
    }
    const std::int64_t left = deadline - NowMs();
    if (left <= 0) Fail("no \"" + text + "\" from the " + Describe());
    if (ReadErrors(static_cast<int>(left)) == Read::kEnded) Fail("the feeder ended before \"" + text + "\"; " + Describe());
  }
}

int FeederProcess::AwaitPort(int timeoutMs) {
  const std::string marker = "listening on port ";
  std::string line = AwaitLine(marker, timeoutMs);
  return std::atoi(line.c_str() + line.find(marker) + marker.size());
}

int FeederProcess::Wait(int timeoutMs) {
  if (status_ >= 0) return ExitStatusOf(status_);
  const std::int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = status;
      while (ReadErrors(0) == Read::kSome) {
      }
      return ExitStatusOf(status);
    }
    if (done < 0 && errno != EINTR) Fail("cannot wait for the " + Describe());
    if (NowMs() >= deadline) Fail("the feeder did not exit within " + std::to_string(timeoutMs) + " ms; " + Describe());
    // Reading standard error meanwhile keeps a talkative feeder from
    // blocking on a full pipe; once it is closed, a short nap.
    if (ReadErrors(5) == Read::kEnded) usleep(1000);
  }
}

int FeederProcess::Terminate(int timeoutMs) {
  if (status_ < 0) kill(pid_, SIGTERM);
  return Wait(timeoutMs);
}

}  // namespace soak
}  // namespace drav
