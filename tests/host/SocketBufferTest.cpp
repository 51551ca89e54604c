// The socket's receive buffer: whatever way the bytes arrive and whatever
// sizes the reader asks for, every request gets the next bytes of the
// stream, whole, in order; a short count comes only at the end of the data;
// and nothing buffered from one connection leaks into the next.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/Socket.h"
#include "tests/support/LoopbackListener.h"

namespace {

using drav::test::ArmWatchdog;
using drav::test::kWatchdogMs;
using drav::test::LoopbackListener;
using drav::test::WriteInPieces;

constexpr std::size_t kBuffer = Socket::kReceiveBufferBytes;

// A stream whose every byte depends on its position, with a period (251,
// prime) that no request or buffer size divides, so a byte delivered twice,
// skipped or out of place shows.
std::string PatternStream(std::size_t bytes) {
  std::string out(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>(i % 251);
  return out;
}

// Sends everything in sends of at most `chunk` bytes, as fast as the
// connection takes them.
void SendAll(int fd, const std::string& bytes, std::size_t chunk) {
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t n = send(fd, bytes.data() + at, std::min(chunk, bytes.size() - at), MSG_NOSIGNAL);
    ASSERT_GT(n, 0) << "the reader stopped reading";
    at += static_cast<std::size_t>(n);
  }
}

// Waits until `count` bytes stand unread in the socket's kernel queue.
bool WaitForQueued(int fd, int count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatchdogMs);
  int queued = 0;
  while (ioctl(fd, FIONREAD, &queued) == 0 && queued < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return queued >= count;
}

// Request sizes (cycled) the reader asks for, against how the peer sends.
struct SplitCase {
  const char* name;
  std::vector<std::size_t> requests;
  std::vector<std::size_t> pieces;  // empty: bulk sends of 1 MiB
  std::size_t streamBytes;
};

TEST(SocketBuffer, EveryRequestGetsTheNextBytesHoweverTheyArrive) {
  const SplitCase cases[] = {
      // Records cut by the sender's pieces, each piece a separate recv.
      {"80-byte records in odd pieces", {80}, {1, 7, 13, 100, 3, 160}, 3000},
      {"probe then records in odd pieces", {4, 80}, {5, 79, 2}, 2000},
      // Many small records over several buffer fills: fills end mid-record.
      {"8-byte records in bulk", {8}, {}, 4 * kBuffer + 24},
      {"80-byte records in bulk", {80}, {}, 4 * kBuffer + 800},
      {"8192-byte records in bulk", {8192}, {}, 3 * kBuffer + 8192 * 5},
      // Requests around the buffer's size: some drain what is buffered and
      // take the rest straight from the connection.
      {"requests beside the buffer size", {100, kBuffer - 1, kBuffer, kBuffer + 3, 7}, {}, 6 * kBuffer},
      {"one large request in pieces", {kBuffer * 2 + 11}, {65536, 1, 99999}, kBuffer * 2 + 11},
      // The end of the data inside a request: the bytes there were, then 0.
      {"record cut by the end", {80}, {}, 200},
      {"large request cut by the end", {4096, 2 * kBuffer}, {}, kBuffer + 4096 + 17},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stream = PatternStream(c.streamBytes);
    LoopbackListener listener(AF_INET);
    ASSERT_TRUE(listener.Ok());
    const auto pieces = c.pieces;
    listener.Serve({[stream, pieces](int fd) {
      if (pieces.empty()) {
        SendAll(fd, stream, 1 << 20);
      } else {
        WriteInPieces(fd, stream, pieces);
      }
    }});
    Socket socket(Socket::kKeepAlive | Socket::kNoDelay);
    ASSERT_EQ(socket.Connect(VUString(listener.Address().c_str())), 0) << socket.LastError();
    ArmWatchdog(socket);
    std::size_t at = 0;
    std::string got;
    for (std::size_t i = 0; at < stream.size(); ++i) {
      const std::size_t asked = c.requests[i % c.requests.size()];
      const std::size_t length = std::min(asked, stream.size() - at);
      got.assign(asked, '\0');
      ASSERT_EQ(socket.Receive(&got[0], asked), static_cast<long>(length))
          << "request " << i << " at byte " << at << ": " << socket.LastError();
      ASSERT_TRUE(got.compare(0, length, stream, at, length) == 0) << "wrong bytes, request " << i << " at byte " << at;
      at += length;
    }
    char extra;
    EXPECT_EQ(socket.Receive(&extra, 1), 0) << "bytes beyond the end of the stream";
    EXPECT_EQ(socket.Receive(&extra, 1), 0) << "the end of the data stays the end";
    listener.Join();
    EXPECT_FALSE(listener.TimedOut());
  }
}

// What the first connection left in the buffer must never be delivered
// after the socket connected again, whether Clear came first or not.
TEST(SocketBuffer, BufferedBytesDoNotOutliveTheirConnection) {
  for (const bool clearFirst : {true, false}) {
    SCOPED_TRACE(clearFirst ? "Clear, then Connect" : "Connect again at once");
    LoopbackListener listener(AF_INET);
    ASSERT_TRUE(listener.Ok());
    const std::string first = std::string(80, 'A') + std::string(80, 'B');
    const std::string second(80, 'C');
    listener.Serve({[first](int fd) {
                      SendAll(fd, first, first.size());
                      drav::test::ReadBytes(fd, 1);  // keep the connection until the client leaves
                    },
                    [second](int fd) { SendAll(fd, second, second.size()); }});
    Socket socket(3);
    const VUString address(listener.Address().c_str());
    ASSERT_EQ(socket.Connect(address), 0) << socket.LastError();
    ArmWatchdog(socket);
    // Both records stand in the kernel's queue before the first receive, so
    // that one receive takes both and the second waits in the buffer.
    ASSERT_TRUE(WaitForQueued(socket.Descriptor(), static_cast<int>(first.size())));
    std::string record(80, '\0');
    ASSERT_EQ(socket.Receive(&record[0], 80), 80);
    EXPECT_EQ(record, std::string(80, 'A'));
    if (clearFirst) {
      socket.Clear();
      EXPECT_EQ(socket.Receive(&record[0], 80), -1) << "a cleared socket has nothing to give";
      EXPECT_FALSE(socket.LastError().empty());
    }
    ASSERT_EQ(socket.Connect(address), 0) << socket.LastError();
    ArmWatchdog(socket);
    ASSERT_EQ(socket.Receive(&record[0], 80), 80) << socket.LastError();
    EXPECT_EQ(record, second);
    listener.Join();
    EXPECT_FALSE(listener.TimedOut());
  }
}

}  // namespace
