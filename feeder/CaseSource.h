#pragma once
// Where the servers take cases from. A source knows how many cases it has and
// writes any run of them, as wire records, into a buffer the server owns; the
// servers may ask for any case in any order (a rewind or a seek).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace drav {
namespace feed {

class CaseSource {
 public:
  virtual ~CaseSource() = default;
  virtual std::int64_t CaseCount() const = 0;
  virtual std::size_t RecordBytes() const = 0;
  // Writes cases first .. first + count - 1 to `out` (count * RecordBytes()
  // bytes). The caller keeps 0 <= first and first + count <= CaseCount().
  virtual void Render(std::int64_t first, std::int64_t count, char* out) const = 0;
};

// Cases held in memory, as finished records (built with a RecordBuilder, so
// already in the feeder's byte order).
class MemoryCases : public CaseSource {
 public:
  explicit MemoryCases(std::size_t recordBytes) : recordBytes_(recordBytes) {}

  // A new record at the end; the pointer is valid until the next AddRecord.
  char* AddRecord();

  std::int64_t CaseCount() const override;
  std::size_t RecordBytes() const override { return recordBytes_; }
  void Render(std::int64_t first, std::int64_t count, char* out) const override;

 private:
  std::size_t recordBytes_;
  std::vector<char> records_;
};

}  // namespace feed
}  // namespace drav
