#pragma once
// Ends the test program when a test hangs: a blocked open, read or accept
// fails the test (exit status 124 with a message) instead of blocking the run.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace drav {
namespace test {

class Watchdog {
 public:
  Watchdog(int seconds, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace test
}  // namespace drav
