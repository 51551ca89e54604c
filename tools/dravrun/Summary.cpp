#include "tools/dravrun/Summary.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/DravFormat.h"
#include "tools/dravrun/CaseWriter.h"
#include "tools/dravrun/PlainWelford.h"
#include "tools/dravrun/Utf8Text.h"

namespace dravrun {

namespace {

// While the largest magnitude seen lies between 2^kPlainLowest and
// 2^kPlainHighest, every deviation, its square and their sum over up to 2^60
// values stay well inside the range of doubles, squares of the smallest
// deviations a double can tell apart included: the plain update is exact
// enough. Beyond, the update runs in units of 2^scale_.
constexpr int kPlainLowest = -400;
constexpr int kPlainHighest = 480;
// 2^-kScaleLimit and 2^kScaleLimit are both doubles; units of 2^1000 take
// the largest double down to 2^24.
constexpr int kScaleLimit = 1000;

}  // namespace

namespace {

std::size_t Padded(std::size_t variables) {
  return (variables + kPlainWelfordLanes - 1) / kPlainWelfordLanes * kPlainWelfordLanes;
}

}  // namespace

RunningStats::RunningStats(std::size_t variables)
    : variables_(variables),
      count_(Padded(variables), 0),
      mean_(Padded(variables), 0),
      squares_(Padded(variables), 0),
      scale_(Padded(variables), kNoScale),
      down_(Padded(variables), 1),
      up_(Padded(variables), 1),
      widenAt_(Padded(variables), std::numeric_limits<double>::denorm_min()),
      ordinaryBelow_(Padded(variables), 0),
      min_(Padded(variables), 0),
      max_(Padded(variables), 0),
      taken_(Padded(variables), 0) {
  // A padding lane takes whatever its values are: its figures are never read.
  std::fill(ordinaryBelow_.begin() + static_cast<std::ptrdiff_t>(variables), ordinaryBelow_.end(),
            std::numeric_limits<double>::infinity());
}

// Variables are independent of each other: those the vector loop cannot
// take are taken one value at a time after it, which gives what taking the
// block case by case would.
void RunningStats::AddRows(const double* rows, std::size_t count) {
  const std::size_t width = RowWidth();
  const WelfordFigures figures{count_.data(), mean_.data(),          squares_.data(), min_.data(),
                               max_.data(),   ordinaryBelow_.data(), width};
  AddPlainBlock(figures, rows, count, taken_.data());
  for (std::size_t v = 0; v < variables_; ++v) {
    if (taken_[v]) continue;
    for (std::size_t c = 0; c < count; ++c) AddOne(v, rows[c * width + v]);
  }
}

// Welford's update. Far from the ends of the double range it is the plain
// one. Near them it runs in units of 2^scale_, a power of two that follows
// the largest magnitude seen: the deviations and their squares then stay
// small, so values near the top of the range neither overflow nor, all
// being tiny, underflow. Scaling by a power of two is exact, so the scaled
// update gives what the plain one would wherever the plain one is exact;
// the factors are kept, so a value costs a few multiplications, never a
// library call.
void RunningStats::AddOne(std::size_t v, double value) {
  if (std::isnan(value)) return;
  const double count = ++count_[v];
  if (std::fabs(value) >= widenAt_[v]) WidenScaleFor(v, std::fabs(value));
  if (count == 1) {
    mean_[v] = min_[v] = max_[v] = value;
    UpdateOrdinaryBelow(v);
    return;
  }
  if (scale_[v] == 0) {
    const double delta = value - mean_[v];
    mean_[v] += delta / count;
    squares_[v] += delta * (value - mean_[v]);
  } else {
    const double scaled = value * down_[v];
    const double delta = scaled - mean_[v] * down_[v];
    mean_[v] += delta / count * up_[v];
    squares_[v] += delta * (scaled - mean_[v] * down_[v]);
  }
  min_[v] = std::min(min_[v], value);
  max_[v] = std::max(max_[v], value);
}

void RunningStats::WidenScaleFor(std::size_t v, double magnitude) {
  if (!std::isfinite(magnitude)) return;  // infinities make the figures infinite, as they are
  const int needed = std::ilogb(magnitude) + 1;  // magnitude < 2^needed
  const int scale = needed > kPlainLowest && needed <= kPlainHighest ? 0 : std::clamp(needed, -kScaleLimit, kScaleLimit);
  if (scale > scale_[v]) {
    squares_[v] = std::ldexp(squares_[v], 2 * (scale_[v] - scale));
    scale_[v] = scale;
    down_[v] = std::ldexp(1.0, -scale);
    up_[v] = std::ldexp(1.0, scale);
  }
  if (scale_[v] == 0) widenAt_[v] = std::ldexp(1.0, kPlainHighest);
  else if (scale_[v] >= kScaleLimit) widenAt_[v] = std::numeric_limits<double>::infinity();
  else widenAt_[v] = std::ldexp(1.0, scale_[v]);
  UpdateOrdinaryBelow(v);
}

// Unscaled (scale 0, or no scale while every value is zero: factors of 1)
// the scaled update is the plain one, which AddPlainBlock runs.
void RunningStats::UpdateOrdinaryBelow(std::size_t v) {
  const bool unscaled = scale_[v] == 0 || scale_[v] == kNoScale;
  ordinaryBelow_[v] = count_[v] >= 1 && unscaled ? widenAt_[v] : 0;
}

double RunningStats::StandardDeviation(std::size_t v) const {
  if (count_[v] < 2) return std::numeric_limits<double>::quiet_NaN();
  return std::sqrt(squares_[v] / (count_[v] - 1)) * up_[v];
}

Summary::Summary(std::vector<Column> columns) : columns_(std::move(columns)), filled_(columns_.size(), 0) {
  for (std::size_t i = 0; i < columns_.size(); ++i) (columns_[i].IsString() ? stringColumns_ : numericColumns_).push_back(i);
  numeric_ = RunningStats(numericColumns_.size());
  block_.assign(kBlockCases * numeric_.RowWidth(), 0);
}

void Summary::Clear() {
  numeric_ = RunningStats(numericColumns_.size());
  blockCases_ = 0;
  std::fill(filled_.begin(), filled_.end(), 0);
}

void Summary::Add(const CaseValues& values) {
  double* const row = block_.data() + blockCases_ * numeric_.RowWidth();  // no block without numbers
  const std::size_t* const columns = numericColumns_.data();
  const char* const* const addresses = values.data();
  const std::size_t n = numericColumns_.size();
  bool sideBySide = n > 0;
  for (std::size_t k = 0; k < n; ++k) sideBySide &= addresses[columns[k]] == addresses[columns[0]] + k * sizeof(double);
  if (sideBySide) {
    // The numbers lie side by side, as a record without strings has them:
    // one copy, whose wide loads also match the stores that just wrote the
    // record, where value-by-value loads would wait for them.
    std::memcpy(row, addresses[columns[0]], n * sizeof(double));
  } else {
    for (std::size_t k = 0; k < n; ++k) row[k] = NumberAt(addresses[columns[k]]);
  }
  if (++blockCases_ == kBlockCases) Settle();
  for (std::size_t i : stringColumns_) {
    const char* bytes = values[i];
    for (int k = 0; k < columns_[i].stringWidth; ++k) {
      if (bytes[k] != ' ' && bytes[k] != '\0') {
        ++filled_[i];
        break;
      }
    }
  }
}

void Summary::Settle() {
  numeric_.AddRows(block_.data(), blockCases_);
  blockCases_ = 0;
}

namespace {

constexpr int kSummaryWidth = 40;

// A derived statistic of a plain number: two more decimals than the data.
PrintFormat DerivedFormat(const PrintFormat& f) {
  return PrintFormat{kFmtF, kSummaryWidth, std::min(f.decimals + 2, 16)};
}

// The spread of dates or clock times is a duration; TIME, DTIME and MTIME
// values already are one.
PrintFormat SpreadFormat(const PrintFormat& f) {
  if (!IsDateTimeFormat(f.type)) return DerivedFormat(f);
  const bool duration = f.type == kFmtTIME || f.type == kFmtDTIME || f.type == kFmtMTIME;
  return PrintFormat{duration ? f.type : kFmtDTIME, kSummaryWidth, f.decimals};
}

// Minimum and maximum are values of the variable: its own format, wide
// enough never to turn into asterisks.
PrintFormat ValueFormatOf(const PrintFormat& f) {
  PrintFormat wide = f;
  if (!IsDateTimeFormat(f.type)) wide.width = kSummaryWidth;
  return wide;
}

void PrintAligned(const std::vector<Summary::Row>& rows, std::FILE* out) {
  std::vector<std::size_t> widths;
  for (const Summary::Row& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
  }
  for (const Summary::Row& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += "  ";
      const std::size_t pad = widths[i] - DisplayWidth(row[i]);
      if (i == 0) {
        line += row[i] + std::string(pad, ' ');  // names left-aligned, figures right
      } else {
        line += std::string(pad, ' ') + row[i];
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::fprintf(out, "%s\n", line.c_str());
  }
}

}  // namespace

Summary::Row Summary::NumericRow(const Column& c, std::size_t v) const {
  const RunningStats& s = numeric_;
  Row row{c.name, std::to_string(s.Count(v))};
  if (s.Count(v) == 0) return row;
  std::string text;
  const bool dateTime = IsDateTimeFormat(c.format.type);
  RenderNumber(s.Mean(v), dateTime ? ValueFormatOf(c.format) : DerivedFormat(c.format), text);
  row.push_back(text);
  RenderNumber(s.StandardDeviation(v), SpreadFormat(c.format), text);  // NaN for one value
  row.push_back(text);
  RenderNumber(s.Min(v), ValueFormatOf(c.format), text);
  row.push_back(text);
  RenderNumber(s.Max(v), ValueFormatOf(c.format), text);
  row.push_back(text);
  return row;
}

void Summary::Print(std::FILE* out) {
  Settle();
  std::vector<Row> rows;
  rows.push_back({"variable", "valid", "mean", "sd", "min", "max"});
  std::size_t v = 0;  // the numeric variable, in numeric_
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    if (c.IsString()) {
      rows.push_back({c.name, std::to_string(filled_[i])});
      continue;
    }
    rows.push_back(NumericRow(c, v++));
  }
  PrintAligned(rows, out);
}

}  // namespace dravrun
