// A signal every millisecond at the reading thread, during a stream that
// lasts seconds, from a feeder that is a real process. Every blocked read is
// interrupted over and over (no SA_RESTART); the cases must come out
// identical to what was written.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/FeederProcess.h"
#include "tests/support/StreamSupport.h"

namespace drav {
namespace test {
namespace {

// Sends SIGUSR1 to one thread every millisecond while it lives, to a
// handler installed without SA_RESTART that counts them.
class SignalStorm {
 public:
  explicit SignalStorm(pthread_t target) {
    struct sigaction action {};
    action.sa_handler = [](int) { handled.fetch_add(1); };
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &saved_);
    handled = 0;
    thread_ = std::thread([this, target] {
      while (!done_) {
        pthread_kill(target, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  ~SignalStorm() {
    done_ = true;
    thread_.join();
    sigaction(SIGUSR1, &saved_, nullptr);
  }
  static std::atomic<long> handled;

 private:
  struct sigaction saved_ {};
  std::atomic<bool> done_{false};
  std::thread thread_;
};
std::atomic<long> SignalStorm::handled{0};

constexpr int kCases = 60000;
// Pieces of about 2 KiB with a millisecond between them: the stream lasts a
// second or more, and the reader spends most of it blocked in a read.
constexpr int kPauseMicros = 1000;

TEST(SignalStormTest, EveryCaseArrivesIdenticalOverBothTransports) {
  Watchdog watchdog(100, "signal storm");
  const std::vector<std::string> records = TestRecords(kCases);
  const std::string bytes = Joined(records);
  const std::vector<std::size_t> pieces = {2048, 1000, 3333};

  for (bool socket : {false, true}) {
    SCOPED_TRACE(socket ? "socket" : "pipe");
    TempDir dir;
    LoopbackPort port;
    ASSERT_GE(port.fd, 0);
    const std::string path = socket ? "" : dir.MakeFifo("data.pipe");
    const std::string wire = socket ? NativeProbe() + bytes : bytes;
    const int listenFd = port.fd;
    FeederProcess feeder([&] {
      int fd = socket ? child::AcceptOne(listenFd) : child::OpenForWriting(path.c_str());
      child::Write(fd, wire, pieces, kPauseMicros);
    });
    std::vector<std::string> cases;
    {
      SignalStorm storm(pthread_self());
      auto source = OpenSource(socket ? port.StreamName() : path, nullptr, false, socket);
      cases = ReadPass(*source);
      EXPECT_EQ(source->RowCount(), kCases);
    }
    EXPECT_TRUE(cases == records) << cases.size() << " cases of " << kCases;
    EXPECT_TRUE(feeder.RanToTheEnd()) << "the feeder's script failed, wait status " << feeder.Wait();
    const long handled = SignalStorm::handled.load();
    // Not a speed check: it shows the storm really hit the reads.
    EXPECT_GE(handled, 100) << "signals handled during the stream";
    RecordProperty(socket ? "signals_socket" : "signals_pipe", static_cast<int>(handled));
  }
}

}  // namespace
}  // namespace test
}  // namespace drav
