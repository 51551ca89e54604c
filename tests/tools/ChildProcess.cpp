#include "tests/tools/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace dravtest {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Reads what is there without blocking; false at end of file.
bool Drain(int fd, std::string& into) {
  char buffer[65536];
  while (true) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& input) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // The input is small (a command text); a child that never reads it must
  // not block the test, hence the non-blocking write.
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    // The child has gone already; its status tells the test.
  }
  close(in[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  fcntl(outFd_, F_SETFL, O_NONBLOCK);
  fcntl(errFd_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exited_) Stop();
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

// Waits up to `timeoutMs` for output; false when nothing more can come.
bool ChildProcess::Pump(int timeoutMs) {
  pollfd fds[2];
  nfds_t count = 0;
  for (int* fd : {&outFd_, &errFd_}) {
    if (*fd >= 0) fds[count++] = pollfd{*fd, POLLIN, 0};
  }
  if (count == 0) return false;
  if (poll(fds, count, timeoutMs) <= 0) return true;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
    if (!Drain(fd, fd == outFd_ ? result_.out : result_.err)) {
      close(fd);
      fd = -1;
    }
  }
  return true;
}

bool ChildProcess::ReadLine(std::string& line, Stream stream, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const std::string& text = stream == kOut ? result_.out : result_.err;
  std::size_t& start = lineStart_[stream];
  while (true) {
    const std::size_t newline = text.find('\n', start);
    if (newline != std::string::npos) {
      line = text.substr(start, newline - start);
      start = newline + 1;
      return true;
    }
    if (RemainingMs(deadline) == 0 || (stream == kOut ? outFd_ : errFd_) < 0) return false;
    Pump(RemainingMs(deadline) < 100 ? RemainingMs(deadline) : 100);
  }
}

void ChildProcess::Reap(int options) {
  if (pid_ <= 0 || exited_) return;
  int status = 0;
  if (waitpid(pid_, &status, options) == pid_) {
    exited_ = true;
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
}

ProcessResult ChildProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return result_;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!exited_ || outFd_ >= 0 || errFd_ >= 0) {
    if (RemainingMs(deadline) == 0) {
      result_.timedOut = true;
      return Stop();
    }
    Reap(WNOHANG);
    if (!Pump(exited_ ? 100 : 20)) {
      if (exited_) break;
      usleep(5000);  // output closed, the child still running: wait for its exit
    }
  }
  return result_;
}

ProcessResult ChildProcess::Stop() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200 && !exited_; ++i) {
      Pump(10);
      Reap(WNOHANG);
    }
    if (!exited_) {
      kill(pid_, SIGKILL);
      Reap(0);
    }
  }
  // Collect what is left; a descendant holding the pipes open must not
  // keep us here.
  for (int i = 0; i < 50 && (outFd_ >= 0 || errFd_ >= 0); ++i) Pump(10);
  return result_;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input, int timeoutMs) {
  ChildProcess child(argv, input);
  return child.Wait(timeoutMs);
}

}  // namespace dravtest
