#pragma once
// Hands buffered output on within a few milliseconds. dravrun buffers its
// standard output for speed, but a case of a live stream must reach the
// reader of that output soon after it arrived, even when no other case
// follows it for a long time; the main thread then waits inside the plug-in
// and cannot flush. A small thread flushes instead.
//
// The main thread writes the output with unlocked stdio calls, so it owns
// the output from the flusher's construction on and lets go of it only
// while it waits for a case (a WaitingForCase in scope); the flusher
// flushes only then. Construct, use and destroy the flusher on the thread
// that writes the output.
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

  // While one is in scope the writing thread leaves the output to the
  // flusher; it writes nothing meanwhile.
  class WaitingForCase {
   public:
    explicit WaitingForCase(OutputFlusher& flusher) : flusher_(flusher) { flusher_.output_.unlock(); }
    ~WaitingForCase() { flusher_.output_.lock(); }
    WaitingForCase(const WaitingForCase&) = delete;
    WaitingForCase& operator=(const WaitingForCase&) = delete;

   private:
    OutputFlusher& flusher_;
  };

  // The errno of a flush of ours that failed (the stream's error flag is
  // set then, but errno belongs to this thread); 0 if none did.
  int FailedErrno() const { return failedErrno_.load(); }

 private:
  void Run();

  std::FILE* out_;
  std::mutex output_;  // held by the writing thread except while it waits
  std::atomic<int> failedErrno_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace dravrun
