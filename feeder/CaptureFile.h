#pragma once
// A capture: every record a feeder served, kept in a file so that a session
// can be served again exactly (bug reports, tests, benchmarks). The file is a
// short text header and then the records back to back, as they went out:
//
//   dravfeed capture 1\n
//   byte-order little\n          (or big: the order of the numbers below)
//   variables id F8 name A20\n   (the variable list, as given)
//   \n
//   <record><record>...
//
// A capture cut short (the feeder was killed) holds whole records up to the
// cut; a record cut in the middle is not one of its cases.
#include <cstdint>
#include <string>

#include "feeder/ByteOrder.h"
#include "feeder/CaseSource.h"
#include "feeder/VariableList.h"

namespace drav {
namespace feed {

// Creates (or truncates) `path` and writes the header; the records follow
// through Descriptor() (see CaseLog::CopyTo). Throws FeederError.
class CaptureWriter {
 public:
  CaptureWriter(const std::string& path, const std::string& variables, ByteOrder order);
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

// The cases of a capture file, served with rewinds and seeks like any
// others. Reads the header when made; throws InputError when `path` cannot
// be opened or is no capture, FeederError when it cannot be read.
class CapturedCases : public CaseSource {
 public:
  explicit CapturedCases(const std::string& path);
  ~CapturedCases() override;
  CapturedCases(const CapturedCases&) = delete;
  CapturedCases& operator=(const CapturedCases&) = delete;

  // The variable list and the order to serve in, from the header.
  const std::string& Variables() const { return variables_; }
  ByteOrder Order() const { return order_; }

  std::int64_t CaseCount() const override { return count_; }
  std::size_t RecordBytes() const override { return recordBytes_; }
  void Render(std::int64_t first, std::int64_t count, char* out) const override;

 private:
  void ReadHeader(const std::string& path);

  int fd_ = -1;
  std::string variables_;
  ByteOrder order_ = ByteOrder::kNative;
  std::size_t recordBytes_ = 0;
  std::int64_t dataStart_ = 0;
  std::int64_t count_ = 0;
};

}  // namespace feed
}  // namespace drav
