// --output raw: the case records themselves.
#include <cstring>

#include "tools/dravrun/WriterKinds.h"

namespace dravrun {
namespace {

// The records as the case buffer holds them, column by column: 8-byte
// slots, numbers as doubles in this machine's byte order, strings padded.
// A record is only a few copies: the columns that lie side by side in the
// case buffer are found once (the buffer stays put for a whole pass) and
// copied as one run. Records are gathered into blocks of kBlockBytes before
// the FILE sees them, which then writes each block straight to the
// descriptor; the run flushes the last one.
class RawWriter : public CaseWriter {
 public:
  static constexpr std::size_t kBlockBytes = 1 << 16;
  using CaseWriter::CaseWriter;

  void WriteCase(const CaseValues& values) override {
    if (values.empty()) return;
    if (values.front() != runsFrom_) FindRuns(values);
    char* out = Room(recordBytes_);
    for (const Run& run : runs_) {
      std::memcpy(out, run.first, run.bytes);
      out += run.bytes;
    }
    Advance(out);
    if (RowSize() >= kBlockBytes) FlushRow();
  }

 private:
  struct Run {
    const char* first;
    std::size_t bytes;
  };

  void FindRuns(const CaseValues& values) {
    runsFrom_ = values.front();
    runs_.clear();
    recordBytes_ = 0;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const std::size_t bytes = columns_[i].SlotBytes();
      if (!runs_.empty() && runs_.back().first + runs_.back().bytes == values[i]) {
        runs_.back().bytes += bytes;
      } else {
        runs_.push_back(Run{values[i], bytes});
      }
      recordBytes_ += bytes;
    }
  }

  // Where the first value lay when the runs were found: every address is an
  // offset into one case buffer, so they all move when it does.
  const char* runsFrom_ = nullptr;
  std::vector<Run> runs_;
  std::size_t recordBytes_ = 0;
};

}  // namespace

std::unique_ptr<CaseWriter> MakeRawWriter(std::FILE* out, const std::vector<Column>& columns) {
  return std::make_unique<RawWriter>(out, columns);
}

}  // namespace dravrun
