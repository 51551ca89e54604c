#pragma once
// Every case received from a live input, kept so that a reader can rewind or
// seek to any of them while more arrive. The first cases stay in memory up
// to a cap; the rest go to a spill file, so resident memory stays flat
// however long the input runs. The spill file is made in TMPDIR (or /tmp)
// when it is first needed, mode 0600 and without a name, so nothing of it
// outlives the process, however it ends.
//
// One producer thread adds cases with Append/AddRendered and makes them
// visible with Publish (servers see nothing of a batch before that, so a
// batch of many cases costs one wake-up); any number of server threads read
// at the same time. The producer calls EndInput once, when its input has
// ended, failed or was abandoned.
//
// A batch is handed on once: stored, copied to the capture, then made
// visible. When storing or copying fails, that batch and every later one
// are dropped and the log is broken: the capture then holds exactly the
// cases the servers could see, and has no end block.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dravfeed/CaptureFile.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/Export.h"

namespace drav {
namespace feed {

class DRAV_FEED_API CaseLog : public CaseSource {
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
  void AddRendered(CaseSource& from, std::int64_t first, std::int64_t count);
  // Makes every case added so far visible and wakes the servers. Throws
  // FeederError when the spill file or the capture cannot be written, and
  // again at every later call.
  void Publish();
  // Publishes what is left and tells the servers that nothing more comes.
  // `complete`: false when the input failed or broke off, so that the cases
  // end at a break (a server aborts a socket pass there) and the capture
  // gets no end block.
  void EndInput(bool complete = true);
  // Every record published from now on is also added to `capture`, which
  // gets its end block when the input ends complete; null stops that. The
  // capture stays the caller's and must outlive the log's producer.
  void CopyTo(CaptureWriter* capture) { capture_ = capture; }

  // ---- The servers -----------------------------------------------------------
  std::int64_t CaseCount() const override { return count_.load(); }
  std::size_t RecordBytes() const override { return recordBytes_; }
  bool MoreMayCome() const override { return !ended_.load(); }
  bool Broken() const override { return broken_.load(); }
  int ChangeFd() const override { return changeFd_; }
  void TakeChange() override;
  void Render(std::int64_t first, std::int64_t count, char* out) override;

  // The bytes of records kept in the spill file.
  std::int64_t SpilledBytes() const;

 private:
  void Store(const char* records, std::size_t bytes);
  void Spill(const char* records, std::size_t bytes);

  const std::size_t recordBytes_;
  const std::size_t memoryCap_;  // whole records
  std::vector<char> staged_;     // the producer's, not yet published
  CaptureWriter* capture_ = nullptr;
  std::string failure_;  // why the log broke; empty while it holds
  int changeFd_ = -1;

  mutable std::mutex mutex_;  // guards what follows and the spill file's use
  std::vector<char> memory_;
  int spillFd_ = -1;
  std::int64_t spilledBytes_ = 0;
  std::atomic<std::int64_t> count_{0};
  std::atomic<bool> ended_{false};
  std::atomic<bool> broken_{false};
};

// For a producer whose input failed: ends the log's input as broken, and
// lets the producer's own error, not a second one from the log, go on.
DRAV_FEED_API void EndBroken(CaseLog& log);

}  // namespace feed
}  // namespace drav
