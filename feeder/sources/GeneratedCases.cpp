#include "dravfeed/GeneratedCases.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

namespace drav {
namespace feed {
namespace {

constexpr std::int64_t kMinutesPerDay = 1440;
constexpr std::int64_t kMissingEvery = 7;
constexpr std::int64_t kMissingPhase = 6;

// The value's 8 bytes, in this machine's order or reversed.
template <bool kSwapped>
inline void StoreNumber(char* slot, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (kSwapped) bits = __builtin_bswap64(bits);
  std::memcpy(slot, &bits, sizeof bits);
}

}  // namespace

GeneratedCases::GeneratedCases(const RecordBuilder& builder, std::int64_t count)
    : builder_(builder), count_(count) {
  const VariableList& list = builder.List();
  for (std::size_t column = 0; column < list.size(); ++column) {
    const std::size_t offset = list.Layout().ByteOffset(column);
    switch (list[column].kind) {
      case ValueKind::kNumber:
        AddNumeric(column, offset);
        break;
      case ValueKind::kDate:
        dates_.push_back(offset);
        break;
      case ValueKind::kTime:
        times_.push_back(offset);
        break;
      case ValueKind::kString:
        strings_.push_back(column);
        break;
    }
  }
}

void GeneratedCases::AddNumeric(std::size_t column, std::size_t offset) {
  const bool adjacent = !numericRuns_.empty() &&
      numericRuns_.back().offset + numericRuns_.back().count * sizeof(double) == offset;
  if (adjacent)
    ++numericRuns_.back().count;
  else
    numericRuns_.push_back(NumericRun{offset, addends_.size(), 1});
  addends_.push_back(static_cast<double>(column) / 4.0);
  if (column % 2 == 1) missingOnSeventh_.push_back(offset);
}

// The rule itself, one value at a time. The Render methods compute the same
// values with the same arithmetic, many at a time.
double GeneratedCases::NumberAt(ValueKind kind, std::size_t column, std::int64_t i) {
  switch (kind) {
    case ValueKind::kDate:
      return kFirstDate + 60.0 * static_cast<double>(i);
    case ValueKind::kTime:
      return static_cast<double>((i % kMinutesPerDay) * 60);
    default:
      if (i % kMissingEvery == kMissingPhase && column % 2 == 1)
        return std::numeric_limits<double>::quiet_NaN();
      return static_cast<double>(i) + static_cast<double>(column) / 4.0;
  }
}

void GeneratedCases::Render(std::int64_t first, std::int64_t count, char* out) {
  if (builder_.Order() == ByteOrder::kSwapped)
    RenderRecords<true>(first, count, out);
  else
    RenderRecords<false>(first, count, out);
}

// Each kind in its own pass over the run, so that a list of numbers alone
// pays for nothing else; the missing values go over the numbers afterwards.
template <bool kSwapped>
void GeneratedCases::RenderRecords(std::int64_t first, std::int64_t count, char* out) const {
  RenderNumbers<kSwapped>(first, count, out);
  if (!missingOnSeventh_.empty()) RenderMissing<kSwapped>(first, count, out);
  if (!dates_.empty() || !times_.empty()) RenderDatesAndTimes<kSwapped>(first, count, out);
  if (!strings_.empty()) RenderStrings(first, count, out);
}

template <bool kSwapped>
void GeneratedCases::RenderNumbers(std::int64_t first, std::int64_t count, char* out) const {
  const std::size_t recordBytes = RecordBytes();
  for (std::int64_t i = first; i < first + count; ++i, out += recordBytes) {
    const double caseNumber = static_cast<double>(i);
    for (const NumericRun& run : numericRuns_) {
      const double* addend = addends_.data() + run.first;
      char* slot = out + run.offset;
      // Two values a step, which the compiler can make one 16-byte add and
      // store: the stores are what rendering waits on.
      const std::size_t n = run.count;
      std::size_t j = 0;
      for (; j + 2 <= n; j += 2, slot += 2 * sizeof(double)) {
        StoreNumber<kSwapped>(slot, caseNumber + addend[j]);
        StoreNumber<kSwapped>(slot + sizeof(double), caseNumber + addend[j + 1]);
      }
      if (j < n) StoreNumber<kSwapped>(slot, caseNumber + addend[j]);
    }
  }
}

template <bool kSwapped>
void GeneratedCases::RenderMissing(std::int64_t first, std::int64_t count, char* out) const {
  const std::size_t recordBytes = RecordBytes();
  const double missing = std::numeric_limits<double>::quiet_NaN();
  const std::int64_t firstMissing = (kMissingPhase - first % kMissingEvery + kMissingEvery) % kMissingEvery;
  for (std::int64_t k = firstMissing; k < count; k += kMissingEvery) {
    char* record = out + static_cast<std::size_t>(k) * recordBytes;
    for (std::size_t offset : missingOnSeventh_) StoreNumber<kSwapped>(record + offset, missing);
  }
}

template <bool kSwapped>
void GeneratedCases::RenderDatesAndTimes(std::int64_t first, std::int64_t count, char* out) const {
  const std::size_t recordBytes = RecordBytes();
  // The time of day carried from case to case instead of divided out.
  std::int64_t minute = first % kMinutesPerDay;
  for (std::int64_t i = first; i < first + count; ++i, out += recordBytes) {
    const double date = kFirstDate + 60.0 * static_cast<double>(i);
    for (std::size_t offset : dates_) StoreNumber<kSwapped>(out + offset, date);
    for (std::size_t offset : times_) StoreNumber<kSwapped>(out + offset, static_cast<double>(minute * 60));
    if (++minute == kMinutesPerDay) minute = 0;
  }
}

void GeneratedCases::RenderStrings(std::int64_t first, std::int64_t count, char* out) const {
  const std::size_t recordBytes = RecordBytes();
  char text[24] = {'c'};
  for (std::int64_t i = first; i < first + count; ++i, out += recordBytes) {
    const char* end = std::to_chars(text + 1, text + sizeof text, i).ptr;
    const std::string_view value(text, static_cast<std::size_t>(end - text));
    for (std::size_t column : strings_) builder_.SetString(out, column, value);
  }
}

}  // namespace feed
}  // namespace drav
