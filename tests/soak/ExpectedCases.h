#pragma once
// The cases `dravfeed --generate` serves, as the host must see them after
// the plug-in read them: case i rendered by the feeder library in this
// machine's byte order. Every case a soak run reads is compared with it byte
// for byte, and its first value (i itself) is checked on its own as well, so
// that a lost, doubled or reordered case cannot pass unseen.
#include <cstdint>
#include <string>
#include <vector>

#include "dravfeed/ByteOrder.h"
#include "dravfeed/GeneratedCases.h"
#include "dravfeed/RecordBuilder.h"
#include "dravfeed/VariableList.h"

namespace drav {
namespace soak {

// The variable list of every soak run: a number that counts the cases, one
// that is missing in every seventh case, a date-time and a string; 40 bytes
// a case.
extern const char kSoakVariables[];

class ExpectedCases {
 public:
  ExpectedCases();
  ExpectedCases(const ExpectedCases&) = delete;
  ExpectedCases& operator=(const ExpectedCases&) = delete;

  std::size_t RecordBytes() const { return list_.RecordBytes(); }
  // Throws SoakFailure, naming `where`, when `got` is not case `i`.
  void Check(const char* got, std::int64_t i, const std::string& where);
  // Cases 0 .. count - 1 back to back, as a feeder of `order` sends them.
  std::vector<char> Records(std::int64_t count, feed::ByteOrder order) const;

 private:
  feed::VariableList list_;
  feed::RecordBuilder native_;
  feed::GeneratedCases cases_;
  std::vector<char> expected_;
};

}  // namespace soak
}  // namespace drav
