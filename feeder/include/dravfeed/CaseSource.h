#pragma once
// Where the servers take cases from. A source knows how many cases it has so
// far and writes any run of them, as wire records, into a buffer the server
// owns; the servers may ask for any case in any order (a rewind or a seek).
//
// A source may grow while it is served (live input): then MoreMayCome() is
// true until its input has ended, and ChangeFd() becomes readable whenever
// cases were added or the input ended, so a server can wait for more in
// the same poll as for its readers.
//
// What only looks is const (the count, whether more may come, the size of a
// record). What may change the source is not: TakeChange clears the change
// signal, and a source over a remote log moves its reader, learns of breaks
// and starts afresh in Render, RenderSome and PassStarts. So a server needs
// the source itself, not a read-only view of it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dravfeed/Export.h"

namespace drav {
namespace feed {

class DRAV_FEED_API CaseSource {
 public:
  virtual ~CaseSource() = default;
  // The cases so far. Read MoreMayCome() first: once it is false, the count
  // read after it is final.
  virtual std::int64_t CaseCount() const = 0;
  virtual bool MoreMayCome() const { return false; }
  // A descriptor to poll for POLLIN while waiting for more cases; -1 for a
  // source that never grows. TakeChange() clears it: call it before looking
  // at CaseCount() again, so no change is missed.
  virtual int ChangeFd() const { return -1; }
  // The input behind the cases failed or broke off: once MoreMayCome() is
  // false, a pass that reaches the last case has not been given them all.
  // A server then breaks the pass off instead of ending it (a socket is
  // reset), and with no case at all it serves nobody.
  virtual bool Broken() const { return false; }
  bool BrokeBeforeAnyCase() const { return Broken() && !MoreMayCome() && CaseCount() == 0; }
  virtual void TakeChange() {}
  virtual std::size_t RecordBytes() const = 0;
  // Writes cases first .. first + count - 1 to `out` (count * RecordBytes()
  // bytes). The caller keeps 0 <= first and first + count <= CaseCount().
  virtual void Render(std::int64_t first, std::int64_t count, char* out) = 0;

  // A source that reads a remote log can find it broken in the middle of a
  // run (a missing message, a server gone). It then writes the whole cases
  // before the break, returns how many, and until the next pass starts its
  // CaseCount() ends there and MoreMayCome() is false, so the pass ends at
  // the last whole case. It may also write fewer cases than asked with no
  // break (the first cases of a seek, sent before the rest have come): the
  // caller asks again from there; it writes none only at a break. Other
  // sources render everything.
  virtual std::int64_t RenderSome(std::int64_t first, std::int64_t count, char* out) {
    Render(first, count, out);
    return count;
  }
  // A reader starts a pass (its first, a rewind or a seek): a source over a
  // remote log takes the log as it stands now and forgets an earlier break.
  virtual void PassStarts() {}
};

// Cases held in memory, as finished records (built with a RecordBuilder, so
// already in the feeder's byte order).
class DRAV_FEED_API MemoryCases : public CaseSource {
 public:
  explicit MemoryCases(std::size_t recordBytes) : recordBytes_(recordBytes) {}

  // A new record at the end; the pointer is valid until the next AddRecord.
  char* AddRecord();

  std::int64_t CaseCount() const override;
  std::size_t RecordBytes() const override { return recordBytes_; }
  void Render(std::int64_t first, std::int64_t count, char* out) override;

 private:
  std::size_t recordBytes_;
  std::vector<char> records_;
};

}  // namespace feed
}  // namespace drav
