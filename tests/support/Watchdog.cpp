#include "tests/support/Watchdog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace drav {
namespace test {

Watchdog::Watchdog(int seconds, std::string what) {
  thread_ = std::thread([this, seconds, what] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
      std::fprintf(stderr, "watchdog: %s did not finish within %d s\n", what.c_str(), seconds);
      std::fflush(stderr);
      std::_Exit(124);
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
  thread_.join();
}

}  // namespace test
}  // namespace drav
