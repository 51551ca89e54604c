#include "feeder/CaptureFile.h"

#include <fcntl.h>

#include <cerrno>

#include "feeder/FeederError.h"
#include "feeder/PosixIo.h"

namespace drav {
namespace feed {
namespace {

constexpr char kMagic[] = "dravfeed capture 1";
constexpr char kOrderKey[] = "byte-order ";
constexpr char kVariablesKey[] = "variables ";
constexpr std::size_t kMaxHeaderBytes = 64 << 10;

bool ThisMachineIsLittle() {
  const std::uint16_t one = 1;
  return *reinterpret_cast<const unsigned char*>(&one) == 1;
}

// The byte order of records a feeder of `order` writes on this machine.
const char* OrderName(ByteOrder order) {
  bool little = ThisMachineIsLittle() == (order == ByteOrder::kNative);
  return little ? "little" : "big";
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

CaptureWriter::CaptureWriter(const std::string& path, const std::string& variables,
                             ByteOrder order) {
  posix::Result opened = posix::Open(path, O_WRONLY | O_CREAT | O_TRUNC);
  if (!opened.ok()) throw SystemError("cannot create the capture file " + path, opened.error);
  fd_ = static_cast<int>(opened.value);
  std::string header = std::string(kMagic) + "\n" + kOrderKey + OrderName(order) + "\n" +
                       kVariablesKey + variables + "\n\n";
  posix::Result wrote = posix::WriteAll(fd_, header.data(), header.size());
  if (!wrote.ok()) {
    posix::Close(fd_);
    throw SystemError("cannot write the capture file " + path, wrote.error);
  }
}

CaptureWriter::~CaptureWriter() { posix::Close(fd_); }

CapturedCases::CapturedCases(const std::string& path) {
  posix::Result opened = posix::Open(path, O_RDONLY);
  // A capture that is not there is the user's mistake, like a missing CSV file.
  if (!opened.ok()) throw InputError(SystemError("cannot open the capture file " + path, opened.error).what());
  fd_ = static_cast<int>(opened.value);
  try {
    ReadHeader(path);
  } catch (...) {
    posix::Close(fd_);
    throw;
  }
}

CapturedCases::~CapturedCases() { posix::Close(fd_); }

void CapturedCases::ReadHeader(const std::string& path) {
  std::string head(kMaxHeaderBytes, '\0');
  posix::Result got = posix::ReadAt(fd_, &head[0], head.size(), 0);
  if (!got.ok()) throw SystemError("cannot read the capture file " + path, got.error);
  head.resize(static_cast<std::size_t>(got.value));
  const std::size_t end = head.find("\n\n");
  const std::string refused = path + " is not a dravfeed capture: ";
  if (!StartsWith(head, kMagic) || end == std::string::npos)
    throw InputError(refused + "its first line is not \"" + kMagic + "\"");
  std::string order, list;
  for (std::size_t at = head.find('\n') + 1; at <= end;) {
    std::size_t lineEnd = head.find('\n', at);
    std::string line = head.substr(at, lineEnd - at);
    if (StartsWith(line, kOrderKey)) order = line.substr(sizeof kOrderKey - 1);
    if (StartsWith(line, kVariablesKey)) list = line.substr(sizeof kVariablesKey - 1);
    at = lineEnd + 1;
  }
  if (order != "little" && order != "big") throw InputError(refused + "no byte-order line");
  variables_ = list;
  recordBytes_ = VariableList::Parse(list).RecordBytes();
  order_ = (order == "little") == ThisMachineIsLittle() ? ByteOrder::kNative : ByteOrder::kSwapped;
  dataStart_ = static_cast<std::int64_t>(end + 2);
  posix::Result size = posix::FileSize(fd_);
  if (!size.ok()) throw SystemError("cannot read the capture file " + path, size.error);
  count_ = (size.value - dataStart_) / static_cast<std::int64_t>(recordBytes_);
}

void CapturedCases::Render(std::int64_t first, std::int64_t count, char* out) const {
  std::size_t bytes = static_cast<std::size_t>(count) * recordBytes_;
  posix::Result got = posix::ReadAt(fd_, out, bytes,
                                    dataStart_ + first * static_cast<std::int64_t>(recordBytes_));
  if (!got.ok() || static_cast<std::size_t>(got.value) != bytes)
    throw SystemError("cannot read the capture file", got.ok() ? EIO : got.error);
}

}  // namespace feed
}  // namespace drav
