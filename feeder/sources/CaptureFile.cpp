#include "dravfeed/CaptureFile.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dravfeed/FeederError.h"
#include "feeder/records/Crc32c.h"
#include "feeder/records/PosixIo.h"

namespace drav {
namespace feed {
namespace {

constexpr char kOldMagic[] = "dravfeed capture 1";
constexpr std::size_t kHeaderFixedBytes = 5;  // record size, byte order
constexpr std::size_t kEndBytes = 8;          // the number of cases

bool ThisMachineIsLittle() {
  const std::uint16_t one = 1;
  return *reinterpret_cast<const unsigned char*>(&one) == 1;
}

// Whether records a feeder of `order` writes on this machine hold
// little-endian numbers.
bool WritesLittle(ByteOrder order) { return ThisMachineIsLittle() == (order == ByteOrder::kNative); }

void PutLittle(char* out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

std::uint64_t GetLittle(const char* in, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < bytes; ++i) value |= std::uint64_t{static_cast<unsigned char>(in[i])} << (8 * i);
  return value;
}

// The largest payload a block of `type` may have.
std::size_t MaxPayload(unsigned char type, std::size_t recordBytes) {
  switch (type) {
    case capture::kHeader:
      return capture::kBlockBytes;
    case capture::kRecords:
      return std::max<std::size_t>(1, capture::kBlockBytes / recordBytes) * recordBytes;
    case capture::kEnd:
      return kEndBytes;
    default:
      return 0;
  }
}

}  // namespace

CaptureWriter::CaptureWriter(const std::string& path, const std::string& variables, ByteOrder order)
    : path_(path), recordBytes_(VariableList::Parse(variables).RecordBytes()) {
  posix::Result opened = posix::Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!opened.ok()) throw SystemError("cannot create the capture file " + path, opened.error);
  fd_ = static_cast<int>(opened.value);
  try {
    posix::Result wrote = posix::WriteAll(fd_, capture::kMagic, capture::kMagicBytes);
    if (!wrote.ok()) throw SystemError("cannot write the capture file " + path, wrote.error);
    size_ = capture::kMagicBytes;
    std::string header(kHeaderFixedBytes, '\0');
    PutLittle(&header[0], recordBytes_, 4);
    header[4] = WritesLittle(order) ? 'L' : 'B';
    header += variables;
    WriteBlock(capture::kHeader, header.data(), header.size());
  } catch (...) {
    posix::Close(fd_);
    throw;
  }
}

CaptureWriter::~CaptureWriter() { posix::Close(fd_); }

void CaptureWriter::Add(const char* records, std::size_t bytes) {
  const std::size_t most = MaxPayload(capture::kRecords, recordBytes_);
  const std::int64_t before = size_;
  try {
    for (std::size_t done = 0; done < bytes;) {
      const std::size_t size = std::min(most, bytes - done);
      WriteBlock(capture::kRecords, records + done, size);
      done += size;
    }
  } catch (...) {
    // The servers never see a batch that failed here, so neither may a
    // replay; a pipe cannot be cut, and its reader sees a cut capture.
    posix::Truncate(fd_, before);
    size_ = before;
    throw;
  }
  cases_ += static_cast<std::int64_t>(bytes / recordBytes_);
}

void CaptureWriter::End() {
  char count[kEndBytes];
  PutLittle(count, static_cast<std::uint64_t>(cases_), kEndBytes);
  WriteBlock(capture::kEnd, count, kEndBytes);
}

void CaptureWriter::WriteBlock(capture::BlockType type, const char* payload, std::size_t size) {
  // One write a block: a feeder killed in the middle leaves a cut block,
  // never a block of one write with the payload of another.
  block_.resize(capture::kBlockHeaderBytes + size);
  PutLittle(&block_[4], size, 4);
  block_[8] = static_cast<char>(type);
  std::memcpy(&block_[capture::kBlockHeaderBytes], payload, size);
  PutLittle(&block_[0], Crc32c(&block_[4], block_.size() - 4), 4);
  posix::Result wrote = posix::WriteAll(fd_, block_.data(), block_.size());
  if (!wrote.ok()) throw SystemError("cannot write the capture file " + path_, wrote.error);
  size_ += static_cast<std::int64_t>(block_.size());
}

CapturedCases::CapturedCases(const std::string& path) {
  posix::Result opened = posix::Open(path, O_RDONLY);
  // A capture that is not there is the user's mistake, like a missing CSV file.
  if (!opened.ok()) throw InputError(SystemError("cannot open the capture file " + path, opened.error).what());
  fd_ = static_cast<int>(opened.value);
  try {
    Check(path);
  } catch (...) {
    posix::Close(fd_);
    throw;
  }
}

CapturedCases::~CapturedCases() { posix::Close(fd_); }

void CapturedCases::Check(const std::string& path) {
  posix::Result size = posix::FileSize(fd_);
  if (!size.ok()) throw SystemError("cannot read the capture file " + path, size.error);
  auto readAt = [&](std::vector<char>& into, std::size_t bytes, std::int64_t at) {
    into.resize(bytes);
    posix::Result got = posix::ReadAt(fd_, into.data(), bytes, at);
    if (!got.ok()) throw SystemError("cannot read the capture file " + path, got.error);
    into.resize(static_cast<std::size_t>(got.value));
  };
  auto corrupt = [&](std::int64_t at, const std::string& why) {
    return InputError(path + ": the block at byte " + std::to_string(at) + " is corrupt (" + why +
                      "); nothing is served");
  };
  std::vector<char> head, payload;
  readAt(head, sizeof kOldMagic - 1, 0);
  if (std::string(head.begin(), head.end()) == kOldMagic)
    throw InputError(path + " was written by an older dravfeed, without checksums: capture the session again");
  if (head.size() < capture::kMagicBytes || std::memcmp(head.data(), capture::kMagic, capture::kMagicBytes) != 0)
    throw InputError(path + " is not a dravfeed capture (it does not begin with \"" + capture::kMagic + "\")");
  bool ended = false;
  std::int64_t at = capture::kMagicBytes;
  for (; at < size.value; at += static_cast<std::int64_t>(capture::kBlockHeaderBytes + payload.size())) {
    if (ended) throw corrupt(at, "bytes follow the end block");
    readAt(head, capture::kBlockHeaderBytes, at);
    if (head.size() < capture::kBlockHeaderBytes) break;  // cut inside a block's header
    const std::size_t length = static_cast<std::size_t>(GetLittle(&head[4], 4));
    const unsigned char type = static_cast<unsigned char>(head[8]);
    const bool sized = recordBytes_ > 0 || type == capture::kHeader;
    // Every block written has a payload: an empty one is corrupt whatever its
    // type (one no writer makes has a largest payload of 0).
    const bool fits = sized && length > 0 && length <= MaxPayload(type, recordBytes_) &&
                      (type != capture::kRecords || length % recordBytes_ == 0) &&
                      (type != capture::kEnd || length == kEndBytes);
    if (!fits) throw corrupt(at, "its type or length cannot be");
    readAt(payload, length, at + static_cast<std::int64_t>(capture::kBlockHeaderBytes));
    if (payload.size() < length) break;  // cut inside its payload
    const std::uint32_t crc = Crc32c(payload.data(), length, Crc32c(&head[4], 5));
    if (crc != GetLittle(&head[0], 4)) throw corrupt(at, "its checksum does not match");
    if (type == capture::kHeader) {
      if (recordBytes_ > 0) throw corrupt(at, "a second header");
      TakeHeader(path, payload, at);
    } else if (type == capture::kRecords) {
      blocks_.push_back(Block{count_, at + static_cast<std::int64_t>(capture::kBlockHeaderBytes)});
      count_ += static_cast<std::int64_t>(length / recordBytes_);
    } else {
      const std::int64_t counted = static_cast<std::int64_t>(GetLittle(payload.data(), kEndBytes));
      if (counted != count_)
        throw corrupt(at, "its end block counts " + std::to_string(counted) + " cases, its blocks hold " +
                              std::to_string(count_));
      ended = true;
    }
  }
  if (recordBytes_ == 0) throw InputError(path + " is cut short before its header ends");
  if (!ended) cutAt_ = at;
}

void CapturedCases::TakeHeader(const std::string& path, const std::vector<char>& payload, std::int64_t at) {
  const std::string refused = path + ": the header at byte " + std::to_string(at) + " ";
  if (payload.size() < kHeaderFixedBytes || (payload[4] != 'L' && payload[4] != 'B'))
    throw InputError(refused + "has no record size and byte order");
  variables_.assign(payload.begin() + kHeaderFixedBytes, payload.end());
  const std::size_t recordBytes = static_cast<std::size_t>(GetLittle(payload.data(), 4));
  const std::size_t listBytes = VariableList::Parse(variables_).RecordBytes();
  if (recordBytes != listBytes)
    throw InputError(refused + "gives records of " + std::to_string(recordBytes) + " bytes, its variable list " +
                     std::to_string(listBytes));
  recordBytes_ = recordBytes;
  order_ = (payload[4] == 'L') == ThisMachineIsLittle() ? ByteOrder::kNative : ByteOrder::kSwapped;
}

void CapturedCases::Render(std::int64_t first, std::int64_t count, char* out) {
  // The block holding `first`, then on block by block.
  auto block = std::upper_bound(blocks_.begin(), blocks_.end(), first,
                                [](std::int64_t c, const Block& b) { return c < b.firstCase; }) - 1;
  for (; count > 0; ++block) {
    const std::int64_t end = block + 1 == blocks_.end() ? count_ : (block + 1)->firstCase;
    const std::int64_t take = std::min(count, end - first);
    const std::size_t bytes = static_cast<std::size_t>(take) * recordBytes_;
    posix::Result got = posix::ReadAt(
        fd_, out, bytes, block->offset + (first - block->firstCase) * static_cast<std::int64_t>(recordBytes_));
    if (!got.ok() || static_cast<std::size_t>(got.value) != bytes)
      throw SystemError("cannot read the capture file", got.ok() ? EIO : got.error);
    out += bytes;
    first += take;
    count -= take;
  }
}

}  // namespace feed
}  // namespace drav
