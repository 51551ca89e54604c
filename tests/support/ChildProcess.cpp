#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace drav::test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Takes what `fd` holds without blocking; closes it at the end of file.
void Drain(int& fd, std::string& into) {
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
  if (n == 0 || errno != EAGAIN) CloseFd(fd);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& input, bool keepInputOpen) {
  // Made before the fork: the child of a program with threads may only make system calls until it execs.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    signal(SIGPIPE, SIG_DFL);  // as a shell starts it: an ignored signal stays ignored across exec
    (void)!chdir("/");  // what a tool finds must not depend on the folder it was started in
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  inFd_ = in[1];
  outFd_ = out[0];
  errFd_ = err[0];
  fcntl(outFd_, F_SETFL, O_NONBLOCK);
  fcntl(errFd_, F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);
  // A child that never reads its input must not block the test: the first text goes in without waiting.
  fcntl(inFd_, F_SETFL, O_NONBLOCK);
  if (!input.empty()) (void)!write(inFd_, input.data(), input.size());  // a child gone already shows in its status
  fcntl(inFd_, F_SETFL, 0);
  if (!keepInputOpen) CloseInput();
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exited_) Stop();
  CloseInput();
  CloseFd(outFd_);
  CloseFd(errFd_);
}

void ChildProcess::WriteInput(const std::string& text) {
  for (std::size_t at = 0; inFd_ >= 0 && at < text.size();) {
    const ssize_t n = write(inFd_, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the child has gone; its status tells the test
    at += static_cast<std::size_t>(n);
  }
}

void ChildProcess::CloseInput() { CloseFd(inFd_); }
void ChildProcess::CloseOutput(Stream stream) { CloseFd(stream == kOut ? outFd_ : errFd_); }

// Waits up to `timeoutMs` for output; false when nothing more can come.
bool ChildProcess::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};  // poll skips a negative descriptor
  if (outFd_ < 0 && errFd_ < 0) return false;
  if (poll(fds, 2, timeoutMs) <= 0) return true;
  if (fds[0].revents != 0) Drain(outFd_, result_.out);
  if (fds[1].revents != 0) Drain(errFd_, result_.err);
  return true;
}

bool ChildProcess::ReadLine(std::string& line, Stream stream, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const std::string& text = stream == kOut ? result_.out : result_.err;
  std::size_t& start = lineStart_[stream];
  std::size_t newline;
  while ((newline = text.find('\n', start)) == std::string::npos) {
    if (RemainingMs(deadline) == 0 || (stream == kOut ? outFd_ : errFd_) < 0) return false;
    Pump(std::min(RemainingMs(deadline), 100));
  }
  line = text.substr(start, newline - start);
  start = newline + 1;
  return true;
}

void ChildProcess::Reap(int options) {
  int status = 0;
  if (pid_ > 0 && !exited_ && waitpid(pid_, &status, options) == pid_) {
    exited_ = true;
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
}

ProcessResult ChildProcess::Wait(int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0 && !(exited_ && outFd_ < 0 && errFd_ < 0)) {
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
  Signal(SIGTERM);
  for (int i = 0; i < 200 && pid_ > 0 && !exited_; ++i) {
    Pump(10);
    Reap(WNOHANG);
  }
  Signal(SIGKILL);
  Reap(0);
  // Collect what is left; a descendant holding the pipes open must not keep us here.
  for (int i = 0; i < 50 && (outFd_ >= 0 || errFd_ >= 0); ++i) Pump(10);
  return result_;
}

}  // namespace drav::test
