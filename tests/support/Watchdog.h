#pragma once
// Ends the test program when a test hangs: a blocked open, read or accept fails the test (exit status 124 with a
// message) instead of blocking the run. It holds the process's alarm; an inner one puts the outer one back.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace drav::test {

class Watchdog {
 public:
  Watchdog(int seconds, const std::string& what) : outerSeconds_(alarm(0)) {
    std::memcpy(outerMessage_, message_, sizeof message_);
    std::snprintf(message_, sizeof message_, "watchdog: %s did not finish within %d s\n", what.c_str(), seconds);
    struct sigaction action {};
    action.sa_handler = [](int) {
      (void)!write(STDERR_FILENO, message_, std::strlen(message_));
      _exit(124);
    };
    sigaction(SIGALRM, &action, nullptr);
    alarm(static_cast<unsigned>(seconds));
  }
  ~Watchdog() {
    alarm(outerSeconds_);
    std::memcpy(message_, outerMessage_, sizeof message_);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static inline char message_[256] = "";
  const unsigned outerSeconds_;
  char outerMessage_[sizeof message_];
};

}  // namespace drav::test
