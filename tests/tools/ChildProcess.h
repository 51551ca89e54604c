#pragma once
// Runs a real program as a child process for end-to-end tests: standard
// input from a text, standard output and error captured, and a watchdog that
// kills the child when it overruns, so a hang fails the test instead of
// blocking the run.
#include <sys/types.h>

#include <string>
#include <vector>

namespace dravtest {

struct ProcessResult {
  int exitCode = -1;  // -1 when killed by a signal (or by the watchdog)
  bool timedOut = false;
  std::string out;
  std::string err;
};

class ChildProcess {
 public:
  static constexpr int kWatchdogMs = 60000;

  // Starts `argv` (argv[0] is the program's path). `input` is written to its
  // standard input, which is then closed.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& input = "");
  // Kills and reaps a child that is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  enum Stream { kOut, kErr };
  // Reads the next line of standard output or error (without its newline);
  // false when the child ends that output or the watchdog fires first.
  bool ReadLine(std::string& line, Stream stream = kOut, int timeoutMs = kWatchdogMs);
  // Waits for the child to exit, collecting its output.
  ProcessResult Wait(int timeoutMs = kWatchdogMs);
  // Ends the child (SIGTERM, then SIGKILL) and collects what it wrote.
  ProcessResult Stop();

  bool Started() const { return pid_ > 0; }

 private:
  bool Pump(int timeoutMs);
  void Reap(int options);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  bool exited_ = false;
  ProcessResult result_;
  std::size_t lineStart_[2] = {0, 0};
};

// Starts, waits and returns the result in one call.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                         int timeoutMs = ChildProcess::kWatchdogMs);

}  // namespace dravtest
