#include "tools/dravfeed/Console.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace dravfeed {

volatile std::sig_atomic_t stopSignal = 0;

namespace {

void OnStopSignal(int signal) { stopSignal = signal; }

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void Say(const std::string& text) {
  const std::string line = "dravfeed: " + text + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace dravfeed
