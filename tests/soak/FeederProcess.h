#pragma once
// A feeder program (dravfeed) run as a child process of the soak program:
// standard input and output on /dev/null, standard error captured so that
// the run can wait for the feeder's "serving ..." or "listening on port N"
// line and show what the feeder said when something went wrong.
//
// The destructor kills (SIGKILL) and reaps a child that is still running,
// so no run leaves a feeder behind.
#include <sys/types.h>

#include <string>
#include <vector>

namespace drav {
namespace soak {

class FeederProcess {
 public:
  // Starts `program` with `arguments` (argv[1] onwards). Throws SoakFailure.
  FeederProcess(const std::string& program, const std::vector<std::string>& arguments);
  ~FeederProcess();
  FeederProcess(const FeederProcess&) = delete;
  FeederProcess& operator=(const FeederProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // Waits for a line of standard error that contains `text` and returns it.
  // Throws SoakFailure when the feeder exits or stays silent for `timeoutMs`.
  std::string AwaitLine(const std::string& text, int timeoutMs);
  // The port of a feeder started with --socket 0.
  int AwaitPort(int timeoutMs);
  // Waits for the feeder to exit and returns its exit status (128 + N when
  // a signal N ended it). Throws SoakFailure after `timeoutMs`.
  int Wait(int timeoutMs);
  // Sends SIGTERM, then waits as Wait does.
  int Terminate(int timeoutMs);
  // Everything the feeder wrote to standard error so far.
  const std::string& ErrorOutput() const { return errors_; }

 private:
  enum class Read { kSome, kNothingYet, kEnded };
  // Reads what standard error holds, waiting at most `timeoutMs` for it.
  Read ReadErrors(int timeoutMs);
  std::string Describe() const;

  pid_t pid_ = -1;
  int errFd_ = -1;
  int status_ = -1;
  std::string errors_;
  std::size_t consumed_ = 0;  // bytes of errors_ already handed out as lines
};

}  // namespace soak
}  // namespace drav
