#pragma once
// Per-variable statistics gathered in one streaming pass: for a numeric
// variable the valid N, mean, standard deviation, minimum and maximum
// (Welford's update, numerically stable, scaled near the ends of the
// double range so that finite values never overflow or underflow it); for a string variable the number
// of values that are not blank. Memory is fixed by the number of variables;
// adding a case allocates nothing.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "tools/dravrun/Columns.h"

namespace dravrun {

// Running moments of the numeric variables, side by side: one array per
// figure. Cases come in blocks, which a vector loop adds several variables
// an instruction (PlainWelford.h); the values it cannot take, near the ends
// of the double range or first in their variable, are added one at a time.
// NaN values are skipped.
class RunningStats {
 public:
  explicit RunningStats(std::size_t variables = 1);
  // `count` cases, each RowWidth() values: one per variable in order, then
  // padding whose values do not matter.
  void AddRows(const double* rows, std::size_t count);
  std::size_t RowWidth() const { return count_.size(); }
  std::int64_t Count(std::size_t v) const { return static_cast<std::int64_t>(count_[v]); }
  double Mean(std::size_t v) const { return mean_[v]; }
  // Sample standard deviation (n - 1); NaN with fewer than two values.
  double StandardDeviation(std::size_t v) const;
  double Min(std::size_t v) const { return min_[v]; }
  double Max(std::size_t v) const { return max_[v]; }

 private:
  // The update of one value, with every case handled: missing values, the
  // first value, and the scaled update near the ends of the range.
  void AddOne(std::size_t v, double value);
  // Moves scale_[v] to what the largest magnitude seen, `magnitude`, needs,
  // rescaling squares_[v] to match.
  void WidenScaleFor(std::size_t v, double magnitude);
  void UpdateOrdinaryBelow(std::size_t v);

  // Below the smallest double's exponent: the first value that is not
  // zero sets the scale.
  static constexpr int kNoScale = -1100;

  std::size_t variables_;
  // The count is kept as a double, exact to 2^53 values: the update divides
  // by it, and the vector loop has no integer conversion to make.
  std::vector<double> count_;
  std::vector<double> mean_;
  std::vector<double> squares_;  // sum of squared deviations from the mean, over 4^scale_
  std::vector<int> scale_;       // 0: the plain update
  std::vector<double> down_;     // 2^-scale_ (1 while every value seen is zero)
  std::vector<double> up_;       // 2^scale_
  std::vector<double> widenAt_;  // the smallest magnitude that moves scale_
  // Magnitudes below it take the plain update in the vector loop: widenAt_
  // once the variable has a value and runs unscaled, else 0, which no
  // magnitude is below.
  std::vector<double> ordinaryBelow_;
  std::vector<double> min_;
  std::vector<double> max_;
  std::vector<std::int64_t> taken_;  // of the block being added: -1 where AddPlainBlock took it
};

class Summary {
 public:
  explicit Summary(std::vector<Column> columns);
  void Add(const CaseValues& values);
  void Clear();
  // An aligned table with one row per variable. Mean, minimum and maximum
  // keep the variable's format (a mean of dates is a date); the standard
  // deviation of a date or time variable is shown as a duration. Takes the
  // cases still waiting in the block first.
  void Print(std::FILE* out);

  using Row = std::vector<std::string>;

 private:
  // Hands the block of waiting cases to numeric_.
  void Settle();
  Row NumericRow(const Column& c, std::size_t v) const;

  // Cases wait in blocks of this many before their numbers are added: a
  // block of ten variables fits the first-level cache with room to spare.
  static constexpr std::size_t kBlockCases = 128;

  std::vector<Column> columns_;
  std::vector<std::size_t> numericColumns_;  // indexes into columns_
  std::vector<std::size_t> stringColumns_;
  RunningStats numeric_;       // one variable per numeric column
  std::vector<double> block_;  // waiting cases, numeric_.RowWidth() values each
  std::size_t blockCases_ = 0;
  std::vector<std::int64_t> filled_;  // string columns: non-blank values
};

}  // namespace dravrun
