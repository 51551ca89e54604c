#pragma once
// Runs a real program as a child process for end-to-end tests: standard input from a text (or kept open), standard
// output and error captured, and a deadline on every wait that kills the child, so a hang fails the test.
#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace drav::test {

struct ProcessResult {
  int exitCode = -1;  // 128 + the signal when a signal ended the child
  bool timedOut = false;
  std::string out, err;
};

class ChildProcess {
 public:
  static constexpr int kWatchdogMs = 60000;

  // Starts `argv` (argv[0]: the program's path) with `input` on its standard input, closed unless `keepInputOpen`.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& input = "",
                        bool keepInputOpen = false);
  ~ChildProcess();  // kills and reaps a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  enum Stream { kOut, kErr };
  // Reads the next line of standard output or error (without its newline);
  // false when the child ends that output or the deadline passes first.
  bool ReadLine(std::string& line, Stream stream = kOut, int timeoutMs = kWatchdogMs);
  // The rest of the next line that starts with `prefix`; empty if none comes.
  std::string LineAfter(const std::string& prefix, Stream stream = kErr, int timeoutMs = kWatchdogMs) {
    std::string line;
    while (ReadLine(line, stream, timeoutMs))
      if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    return "";
  }
  // dravfeed's port, from "dravfeed: listening on port N, ..."; 0 if none.
  int DravfeedPort() { return std::atoi(LineAfter("dravfeed: listening on port ").c_str()); }
  void WriteInput(const std::string& text);  // to the input kept open, blocking
  void CloseInput();
  void CloseOutput(Stream stream = kOut);  // our end of it, as `| head` does
  void Signal(int signal) {
    if (pid_ > 0 && !exited_) kill(pid_, signal);
  }
  ProcessResult Wait(int timeoutMs = kWatchdogMs);  // for its exit, collecting its output
  ProcessResult Stop();  // SIGTERM, then SIGKILL, collecting what it wrote

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

 private:
  bool Pump(int timeoutMs);
  void Reap(int options);

  pid_t pid_ = -1;
  int inFd_ = -1, outFd_ = -1, errFd_ = -1;
  bool exited_ = false;
  ProcessResult result_;
  std::size_t lineStart_[2] = {0, 0};
};

inline ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                                int timeoutMs = ChildProcess::kWatchdogMs) {
  return ChildProcess(argv, input).Wait(timeoutMs);
}

// The built programs, and their command lines: dravrun never shows progress, dravfeed lingers briefly for a reader.
inline std::string BinaryPath(const std::string& tool) { return std::string(DRAV_BINARY_DIR "/bin/") + tool; }
inline std::vector<std::string> Dravrun(std::vector<std::string> args) {
  args.insert(args.begin(), {BinaryPath("dravrun"), "--no-progress"});
  return args;
}
inline std::vector<std::string> Dravfeed(std::vector<std::string> args) {
  args.insert(args.begin(), {BinaryPath("dravfeed"), "--linger", "0.3"});
  return args;
}

}  // namespace drav::test
