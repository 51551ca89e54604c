#pragma once
// Deterministic synthetic cases, made on demand from the case number alone,
// so a rewind or a seek to any case costs nothing. Case i holds:
//   numeric variable in column j:  i + j / 4   (case 0, column 0: 0)
//   date variable:                 2024-01-01T00:00:00 plus i minutes
//   time variable:                 i minutes, modulo one day
//   string variable:               "c" followed by i ("c0", "c1", ...), cut
//                                  to the width
// Every seventh case (i % 7 == 6) has the numeric variables of odd columns
// missing, so readers see missing values too.
//
// The source borrows the builder (and through it the variable list); both
// must outlive it.
#include "feeder/CaseSource.h"
#include "feeder/RecordBuilder.h"

namespace drav {
namespace feed {

class GeneratedCases : public CaseSource {
 public:
  GeneratedCases(const RecordBuilder& builder, std::int64_t count)
      : builder_(builder), count_(count) {}

  std::int64_t CaseCount() const override { return count_; }
  std::size_t RecordBytes() const override { return builder_.List().RecordBytes(); }
  void Render(std::int64_t first, std::int64_t count, char* out) const override;

  // The value the generator puts in a numeric, date or time column of case i
  // (NaN when it is missing); tests and readers check against it.
  static double NumberAt(ValueKind kind, std::size_t column, std::int64_t i);
  // Epoch seconds of 2024-01-01T00:00:00, where the generated dates start.
  static constexpr double kFirstDate = 1704067200.0;

 private:
  void RenderOne(std::int64_t i, char* record) const;

  const RecordBuilder& builder_;
  std::int64_t count_;
};

}  // namespace feed
}  // namespace drav
