#include "tools/dravrun/OutputFlusher.h"

#include <cerrno>
#include <chrono>

namespace dravrun {

OutputFlusher::OutputFlusher(std::FILE* out) : out_(out) {
  output_.lock();
  thread_ = std::thread(&OutputFlusher::Run, this);
}

OutputFlusher::~OutputFlusher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  output_.unlock();
}

void OutputFlusher::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(kIntervalMs), [this] { return stopping_; })) {
    if (failedErrno_.load() != 0) continue;
    // Only while the writing thread waits for a case: it writes without
    // the stream's own lock.
    std::unique_lock<std::mutex> output(output_, std::try_to_lock);
    if (!output.owns_lock()) continue;
    errno = 0;
    if (std::fflush(out_) != 0) failedErrno_.store(errno != 0 ? errno : EIO);
  }
}

}  // namespace dravrun
