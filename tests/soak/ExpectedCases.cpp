#include "tests/soak/ExpectedCases.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "tests/soak/Soak.h"

namespace drav {
namespace soak {
namespace {

std::string Hex(const char* bytes, std::size_t count) {
  std::string out;
  char two[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(bytes[i]));
    out += two;
    if (i % 8 == 7 && i + 1 < count) out += ' ';
  }
  return out;
}

}  // namespace

const char kSoakVariables[] = "i F8 x F8.2 t DATETIME20 s A12";

ExpectedCases::ExpectedCases()
    : list_(feed::VariableList::Parse(kSoakVariables)),
      native_(list_, feed::ByteOrder::kNative),
      cases_(native_, std::numeric_limits<std::int64_t>::max()),
      expected_(list_.RecordBytes()) {}

void ExpectedCases::Check(const char* got, std::int64_t i, const std::string& where) {
  // The counter on its own first: it says which case came instead.
  double counter;
  std::memcpy(&counter, got, sizeof counter);
  if (counter != static_cast<double>(i))
    Fail(where + ": case " + std::to_string(i) + " expected, case " + std::to_string(counter) + " came");
  cases_.Render(i, 1, expected_.data());
  if (std::memcmp(got, expected_.data(), expected_.size()) != 0)
    Fail(where + ": case " + std::to_string(i) + " differs\n    expected " +
         Hex(expected_.data(), expected_.size()) + "\n    got      " + Hex(got, expected_.size()));
}

std::vector<char> ExpectedCases::Records(std::int64_t count, feed::ByteOrder order) const {
  feed::RecordBuilder builder(list_, order);
  feed::GeneratedCases cases(builder, count);
  std::vector<char> bytes(static_cast<std::size_t>(count) * RecordBytes());
  cases.Render(0, count, bytes.data());
  return bytes;
}

}  // namespace soak
}  // namespace drav
