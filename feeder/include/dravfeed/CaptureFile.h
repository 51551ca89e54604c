#pragma once
// A capture: every record a feeder served, kept in a file so that a session
// can be served again exactly (bug reports, tests, benchmarks). The file is
// an 8-byte magic and then checksummed blocks (docs/PROTOCOL.md draws them):
//
//   "DRAVCAP2"
//   block := CRC-32C (4) | length (4) | type (1) | payload (length bytes)
//
// Numbers are little-endian; the CRC covers the length, the type and the
// payload. The first block is the header (the record size, the byte order
// of the numbers in the records, the variable list as given), then blocks of
// whole records (at most kBlockBytes of them, or one record when a record is
// larger), then an end block holding the number of cases. A capture without
// its end block was cut (its feeder was killed, or its input failed): its
// whole blocks are still good, and the reader says where the rest is
// missing. A block whose checksum or framing is wrong is never served.
#include <cstdint>
#include <string>
#include <vector>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/CaseSource.h"
#include "dravfeed/Export.h"
#include "dravfeed/VariableList.h"

namespace drav {
namespace feed {

namespace capture {
constexpr char kMagic[] = "DRAVCAP2";  // the first 8 bytes, without a NUL
constexpr std::size_t kMagicBytes = 8;
constexpr std::size_t kBlockHeaderBytes = 9;  // CRC, length, type
constexpr std::size_t kBlockBytes = 64 << 10;
enum BlockType : unsigned char { kHeader = 1, kRecords = 2, kEnd = 3 };
}  // namespace capture

// Creates (or truncates) `path`, mode 0600, and writes the magic and the
// header; records follow with Add, the end block with End. Throws
// FeederError.
class DRAV_FEED_API CaptureWriter {
 public:
  CaptureWriter(const std::string& path, const std::string& variables, ByteOrder order);
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // Appends whole records (`bytes` a multiple of the record size), all of
  // them or, when writing fails, none: the blocks of a batch already
  // written are cut off again (where the file can be cut).
  void Add(const char* records, std::size_t bytes);
  // Writes the end block with the number of cases added. Nothing may be
  // added after it.
  void End();

 private:
  void WriteBlock(capture::BlockType type, const char* payload, std::size_t size);

  std::string path_;
  int fd_ = -1;
  std::size_t recordBytes_ = 0;
  std::int64_t cases_ = 0;
  std::int64_t size_ = 0;  // the bytes written
  std::vector<char> block_;
};

// The cases of a capture file, served with rewinds and seeks like any
// others. Checks every block when made: throws InputError when `path`
// cannot be opened, is no capture, or holds a corrupt block (the message
// gives its byte offset), FeederError when it cannot be read.
class DRAV_FEED_API CapturedCases : public CaseSource {
 public:
  explicit CapturedCases(const std::string& path);
  ~CapturedCases() override;
  CapturedCases(const CapturedCases&) = delete;
  CapturedCases& operator=(const CapturedCases&) = delete;

  // The variable list and the order to serve in, from the header.
  const std::string& Variables() const { return variables_; }
  ByteOrder Order() const { return order_; }
  // Where a capture without its end block stops holding whole blocks (its
  // cases are those before); -1 for a complete capture.
  std::int64_t CutAt() const { return cutAt_; }
  // A cut capture ends where its feeder broke off: a socket pass that
  // reaches its end is broken off too.
  bool Broken() const override { return cutAt_ >= 0; }

  std::int64_t CaseCount() const override { return count_; }
  std::size_t RecordBytes() const override { return recordBytes_; }
  void Render(std::int64_t first, std::int64_t count, char* out) override;

 private:
  struct Block {
    std::int64_t firstCase;
    std::int64_t offset;  // of its records in the file
  };
  void Check(const std::string& path);
  void TakeHeader(const std::string& path, const std::vector<char>& payload, std::int64_t at);

  int fd_ = -1;
  std::string variables_;
  ByteOrder order_ = ByteOrder::kNative;
  std::size_t recordBytes_ = 0;
  std::int64_t count_ = 0;
  std::int64_t cutAt_ = -1;
  std::vector<Block> blocks_;
};

}  // namespace feed
}  // namespace drav
