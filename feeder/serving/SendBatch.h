#pragma once
// The bytes a server still owes one reader: records rendered from the source
// in large batches, so each write hands the kernel up to a megabyte at once.
// The batch borrows the source, which must outlive it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dravfeed/CaseSource.h"

namespace drav {
namespace feed {

class SendBatch {
 public:
  static constexpr std::size_t kTargetBytes = 1 << 20;

  explicit SendBatch(CaseSource& source) : source_(source) {}

  // Forgets what is pending and starts again at case `first`, after
  // `prefix` (the probe, on a first connection). A case number outside the
  // source gives an empty run: the reader sees the end at once; of a source
  // that may grow, a case beyond those so far is waited for.
  void Restart(std::int64_t first, const std::string& prefix = std::string());
  // The pending bytes (rendered on demand from the cases so far); empty when
  // everything is sent or the next case has not come yet.
  const char* Data();
  std::size_t Size();
  void Consume(std::size_t bytes);
  // Everything is sent and no more cases can come.
  bool Finished();
  // Everything so far is sent, and more may come: wait on the source.
  bool Waiting();

 private:
  void Refill();

  CaseSource& source_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::int64_t nextCase_ = 0;
};

}  // namespace feed
}  // namespace drav
