#pragma once
// The feeding side of the in-process benchmarks: a child process that
// writes pre-built records in large writes, without end, so the reader in
// the benchmark process is the only thing measured. It serves one reader
// over a named pipe or a loopback TCP connection, and stops when the reader
// goes away or when this object is destroyed.
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace drav {
namespace bench {

enum class Transport { kPipe, kSocket };

struct FeedSpec {
  Transport transport = Transport::kPipe;
  std::size_t recordBytes = 80;  // a multiple of 8: every slot a double
  // Socket only: act as a feeder of the other byte order (the probe and
  // every value byte-reversed). Without it the socket feeder sends the probe
  // in this machine's order.
  bool swapped = false;
};

class FeederProcess {
 public:
  // Creates the named pipe (in a fresh temporary folder) or the listening
  // socket (loopback, a port the system picks), then forks the feeder.
  explicit FeederProcess(const FeedSpec& spec);
  // Stops the child, waits for it, and removes the folder and the pipe.
  ~FeederProcess();
  FeederProcess(const FeederProcess&) = delete;
  FeederProcess& operator=(const FeederProcess&) = delete;

  bool Ok() const { return child_ > 0; }
  const std::string& Error() const { return error_; }
  // Where the reader connects: the pipe's path, or the port on 127.0.0.1.
  const std::string& PipePath() const { return pipePath_; }
  int Port() const { return port_; }

 private:
  bool MakePipe();
  bool MakeListener();

  FeedSpec spec_;
  std::string error_;
  std::string folder_;
  std::string pipePath_;
  int listenFd_ = -1;
  int port_ = 0;
  pid_t child_ = -1;
};

// One batch of whole records (at least 1 MiB) with the values a feeder of
// the given byte order sends.
std::string BuildRecords(std::size_t recordBytes, bool swapped);

}  // namespace bench
}  // namespace drav
