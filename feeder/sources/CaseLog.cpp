#include "dravfeed/CaseLog.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>

#include "dravfeed/FeederError.h"
#include "feeder/records/PosixIo.h"

namespace drav {
namespace feed {
CaseLog::CaseLog(std::size_t recordBytes, std::size_t memoryBytes)
    : recordBytes_(recordBytes), memoryCap_(std::max<std::size_t>(1, memoryBytes / recordBytes)) {
  if (recordBytes_ == 0) throw FeederError("a case log needs records of at least one byte");
  posix::Result event = posix::MakeEvent();
  if (!event.ok()) throw SystemError("cannot make an event descriptor", event.error);
  changeFd_ = static_cast<int>(event.value);
}

CaseLog::~CaseLog() {
  posix::Close(changeFd_);
  posix::Close(spillFd_);
}

void CaseLog::Append(const char* record) {
  staged_.insert(staged_.end(), record, record + recordBytes_);
}

void CaseLog::AddRendered(CaseSource& from, std::int64_t first, std::int64_t count) {
  std::size_t start = staged_.size();
  staged_.resize(start + static_cast<std::size_t>(count) * recordBytes_);
  from.Render(first, count, staged_.data() + start);
}

void CaseLog::Publish() {
  if (!failure_.empty()) {
    staged_.clear();
    throw FeederError(failure_);
  }
  if (staged_.empty()) return;
  // The batch is gone from the producer whatever happens below: a batch
  // that failed half-way is never handed on a second time.
  std::vector<char> batch;
  batch.swap(staged_);
  try {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Store(batch.data(), batch.size());
    }
    if (capture_) capture_->Add(batch.data(), batch.size());
  } catch (const std::exception& error) {
    failure_ = error.what();
    broken_.store(true);
    throw;
  }
  count_.store(count_.load() + static_cast<std::int64_t>(batch.size() / recordBytes_));
  // Keep the producer's buffer for the next batch, unless it grew large.
  batch.clear();
  if (batch.capacity() <= (4u << 20)) staged_.swap(batch);
  posix::SignalEvent(changeFd_);
}

void CaseLog::EndInput(bool complete) {
  if (!complete) broken_.store(true);
  try {
    Publish();
    if (capture_ && !broken_.load()) capture_->End();
  } catch (...) {
    broken_.store(true);
    ended_.store(true);
    posix::SignalEvent(changeFd_);
    throw;
  }
  ended_.store(true);
  posix::SignalEvent(changeFd_);
}

void CaseLog::Store(const char* records, std::size_t bytes) {
  std::size_t capBytes = memoryCap_ * recordBytes_;
  if (memory_.capacity() == 0) memory_.reserve(std::min(capBytes, std::size_t{1} << 20));
  std::size_t inMemory = spillFd_ < 0 ? std::min(bytes, capBytes - memory_.size()) : 0;
  if (inMemory > 0) {
    if (memory_.size() + inMemory > memory_.capacity())
      memory_.reserve(std::min(capBytes, std::max(memory_.capacity() * 2, memory_.size() + inMemory)));
    memory_.insert(memory_.end(), records, records + inMemory);
  }
  if (bytes > inMemory) Spill(records + inMemory, bytes - inMemory);
}

void CaseLog::Spill(const char* records, std::size_t bytes) {
  if (spillFd_ < 0) {
    posix::Result opened = posix::OpenUnnamedFile();
    if (!opened.ok()) throw SystemError("cannot create the case log's spill file", opened.error);
    spillFd_ = static_cast<int>(opened.value);
  }
  posix::Result wrote = posix::WriteAll(spillFd_, records, bytes);
  if (!wrote.ok()) throw SystemError("cannot write the case log's spill file", wrote.error);
  spilledBytes_ += static_cast<std::int64_t>(bytes);
}

void CaseLog::TakeChange() { posix::DrainEvent(changeFd_); }

void CaseLog::Render(std::int64_t first, std::int64_t count, char* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::int64_t inMemory = static_cast<std::int64_t>(memory_.size() / recordBytes_);
  if (first < inMemory) {
    std::int64_t n = std::min(count, inMemory - first);
    std::memcpy(out, memory_.data() + static_cast<std::size_t>(first) * recordBytes_,
                static_cast<std::size_t>(n) * recordBytes_);
    first += n;
    count -= n;
    out += static_cast<std::size_t>(n) * recordBytes_;
  }
  if (count <= 0) return;
  std::size_t bytes = static_cast<std::size_t>(count) * recordBytes_;
  posix::Result got = posix::ReadAt(spillFd_, out, bytes,
                                    (first - inMemory) * static_cast<std::int64_t>(recordBytes_));
  // The spill file is ours and holds every published case; a short read
  // means it was damaged under us, and a reader must not get stale bytes.
  if (!got.ok() || static_cast<std::size_t>(got.value) != bytes)
    throw SystemError("cannot read the case log's spill file", got.ok() ? EIO : got.error);
}

std::int64_t CaseLog::SpilledBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return spilledBytes_;
}

void EndBroken(CaseLog& log) {
  try {
    log.EndInput(false);
  } catch (const std::exception&) {
    // The log has ended all the same; the producer's error says more.
  }
}

}  // namespace feed
}  // namespace drav
