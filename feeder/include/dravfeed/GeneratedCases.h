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
// Rendering is what a feeder of generated cases spends its own time on, so
// what each column needs (its kind, offset, addend, byte order) is worked out
// once, and a run of cases is then written one kind at a time, the numbers a
// record at a time with one conversion of the case number for the record.
//
// The source borrows the builder (and through it the variable list); both
// must outlive it.
#include <vector>

#include "dravfeed/CaseSource.h"
#include "dravfeed/Export.h"
#include "dravfeed/RecordBuilder.h"

namespace drav {
namespace feed {

class DRAV_FEED_API GeneratedCases : public CaseSource {
 public:
  GeneratedCases(const RecordBuilder& builder, std::int64_t count);

  std::int64_t CaseCount() const override { return count_; }
  std::size_t RecordBytes() const override { return builder_.List().RecordBytes(); }
  void Render(std::int64_t first, std::int64_t count, char* out) override;

  // The value the generator puts in a numeric, date or time column of case i
  // (NaN when it is missing); tests and readers check against it.
  static double NumberAt(ValueKind kind, std::size_t column, std::int64_t i);
  // Epoch seconds of 2024-01-01T00:00:00, where the generated dates start.
  static constexpr double kFirstDate = 1704067200.0;

 private:
  // Numeric columns in adjacent slots, written as one run: its values are
  // the case number plus addends_[first .. first + count - 1].
  struct NumericRun {
    std::size_t offset;  // of the run's first value in a record
    std::size_t first;
    std::size_t count;
  };

  void AddNumeric(std::size_t column, std::size_t offset);
  template <bool kSwapped>
  void RenderRecords(std::int64_t first, std::int64_t count, char* out) const;
  template <bool kSwapped>
  void RenderNumbers(std::int64_t first, std::int64_t count, char* out) const;
  template <bool kSwapped>
  void RenderMissing(std::int64_t first, std::int64_t count, char* out) const;
  template <bool kSwapped>
  void RenderDatesAndTimes(std::int64_t first, std::int64_t count, char* out) const;
  void RenderStrings(std::int64_t first, std::int64_t count, char* out) const;

  const RecordBuilder& builder_;
  std::int64_t count_;
  // The columns by kind, in record order within each kind.
  std::vector<NumericRun> numericRuns_;
  std::vector<double> addends_;  // j / 4 for each numeric column j
  std::vector<std::size_t> missingOnSeventh_;  // offsets of the odd numeric columns
  std::vector<std::size_t> dates_;
  std::vector<std::size_t> times_;
  std::vector<std::size_t> strings_;  // column numbers
};

}  // namespace feed
}  // namespace drav
