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

// Running moments of one numeric variable; NaN values are skipped.
class RunningStats {
 public:
  // Inline: the summary's loop calls it once per value.
  void Add(double value) {
    if (std::isnan(value)) return;
    ++count_;
    if (std::fabs(value) >= widenAt_) WidenScaleFor(std::fabs(value));
    if (count_ == 1) {
      mean_ = min_ = max_ = value;
      return;
    }
    if (scale_ == 0) {
      const double delta = value - mean_;
      mean_ += delta / static_cast<double>(count_);
      squares_ += delta * (value - mean_);
    } else {
      const double scaled = value * down_;
      const double delta = scaled - mean_ * down_;
      mean_ += delta / static_cast<double>(count_) * up_;
      squares_ += delta * (scaled - mean_ * down_);
    }
    min_ = std::min(min_, value);
    max_ = std::max(max_, value);
  }
  std::int64_t Count() const { return count_; }
  double Mean() const { return mean_; }
  // Sample standard deviation (n - 1); NaN with fewer than two values.
  double StandardDeviation() const;
  double Min() const { return min_; }
  double Max() const { return max_; }

 private:
  // Moves scale_ to what the largest magnitude seen, `magnitude`, needs,
  // rescaling squares_ to match.
  void WidenScaleFor(double magnitude);

  // Below the smallest double's exponent: the first value that is not
  // zero sets the scale.
  static constexpr int kNoScale = -1100;

  std::int64_t count_ = 0;
  double mean_ = 0;
  double squares_ = 0;  // sum of squared deviations from the mean, over 4^scale_
  int scale_ = kNoScale;  // 0: the plain update
  double down_ = 1;       // 2^-scale_ (1 while every value seen is zero)
  double up_ = 1;         // 2^scale_
  double widenAt_ = std::numeric_limits<double>::denorm_min();  // the smallest magnitude that moves scale_
  double min_ = 0;
  double max_ = 0;
};

class Summary {
 public:
  explicit Summary(std::vector<Column> columns);
  void Add(const CaseValues& values);
  void Clear();
  // An aligned table with one row per variable. Mean, minimum and maximum
  // keep the variable's format (a mean of dates is a date); the standard
  // deviation of a date or time variable is shown as a duration.
  void Print(std::FILE* out) const;

  const RunningStats& Numeric(std::size_t column) const { return numeric_[column]; }
  std::int64_t Filled(std::size_t column) const { return filled_[column]; }

 private:
  std::vector<Column> columns_;
  std::vector<std::size_t> numericColumns_;  // indexes into columns_
  std::vector<std::size_t> stringColumns_;
  std::vector<RunningStats> numeric_;
  std::vector<std::int64_t> filled_;  // string columns: non-blank values
};

}  // namespace dravrun
