#pragma once
// Hands buffered output on within a few milliseconds. dravrun buffers its
// standard output for speed, but a case of a live stream must reach the
// reader of that output soon after it arrived, even when no other case
// follows it for a long time; the main thread then waits inside the plug-in
// and cannot flush. A small thread flushes instead (stdio locks the stream,
// so whole lines go out).
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace dravrun {

class OutputFlusher {
 public:
  static constexpr int kIntervalMs = 2;

  // Starts flushing `out` (not owned, must outlive the flusher).
  explicit OutputFlusher(std::FILE* out);
  ~OutputFlusher();
  OutputFlusher(const OutputFlusher&) = delete;
  OutputFlusher& operator=(const OutputFlusher&) = delete;

  // The errno of a flush of ours that failed (the stream's error flag is
  // set then, but errno belongs to this thread); 0 if none did.
  int FailedErrno() const { return failedErrno_.load(); }

 private:
  void Run();

  std::FILE* out_;
  std::atomic<int> failedErrno_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace dravrun
