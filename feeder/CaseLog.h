#pragma once
// Every case received from a live input, kept so that a reader can rewind or
// seek to any of them while more arrive. The first cases stay in memory up
// to a cap; the rest go to a spill file, so resident memory stays flat
// however long the input runs. The spill file lives in a private folder
// (mode 0700) made under TMPDIR (or /tmp) when it is first needed; the log
// removes both when it is destroyed.
//
// One producer thread adds cases with Append/AddRendered and makes them
// visible with Publish (servers see nothing of a batch before that, so a
// batch of many cases costs one wake-up); any number of server threads read
// at the same time. The producer calls EndInput once, when its input has
// ended, failed or was abandoned.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "feeder/CaseSource.h"

namespace drav {
namespace feed {

class CaseLog : public CaseSource {
 public:
  static constexpr std::size_t kDefaultMemoryBytes = 64u << 20;

  // `memoryBytes`: how many bytes of records may stay in memory (at least
  // one record always does). Throws FeederError.
  CaseLog(std::size_t recordBytes, std::size_t memoryBytes = kDefaultMemoryBytes);
  ~CaseLog() override;
  CaseLog(const CaseLog&) = delete;
  CaseLog& operator=(const CaseLog&) = delete;

  // ---- The producer --------------------------------------------------------
  // Adds one finished record (RecordBytes() bytes) after the others.
  void Append(const char* record);
  // Adds `count` cases of `from` starting at its case `first`.
  void AddRendered(const CaseSource& from, std::int64_t first, std::int64_t count);
  // Makes every case added so far visible and wakes the servers. Throws
  // FeederError when the spill file cannot be written.
  void Publish();
  // Publishes what is left and tells the servers that nothing more comes.
  void EndInput();
  // Every record published from now on is also written to `fd` (a capture
  // file); -1 stops that. The descriptor stays the caller's.
  void CopyTo(int fd) { copyFd_ = fd; }

  // ---- The servers -----------------------------------------------------------
  std::int64_t CaseCount() const override { return count_.load(); }
  std::size_t RecordBytes() const override { return recordBytes_; }
  bool MoreMayCome() const override { return !ended_.load(); }
  int ChangeFd() const override { return changeFd_; }
  void TakeChange() const override;
  void Render(std::int64_t first, std::int64_t count, char* out) const override;

  // The private folder of the spill file; empty while nothing has spilled.
  std::string SpillFolder() const;

 private:
  void Store(const char* records, std::size_t bytes);
  void Spill(const char* records, std::size_t bytes);

  const std::size_t recordBytes_;
  const std::size_t memoryCap_;  // whole records
  std::vector<char> staged_;     // the producer's, not yet published
  int copyFd_ = -1;
  int changeFd_ = -1;

  mutable std::mutex mutex_;  // guards what follows and the spill file's use
  std::vector<char> memory_;
  std::string spillFolder_;
  int spillFd_ = -1;
  std::int64_t spilledBytes_ = 0;
  std::atomic<std::int64_t> count_{0};
  std::atomic<bool> ended_{false};
};

}  // namespace feed
}  // namespace drav
