#include "tools/dravrun/Summary.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/DravFormat.h"
#include "tools/dravrun/CaseWriter.h"
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

// Welford's update. Far from the ends of the double range it is the plain
// one. Near them it runs in units of 2^scale_, a power of two that follows
// the largest magnitude seen: the deviations and their squares then stay
// small, so values near the top of the range neither overflow nor, all
// being tiny, underflow. Scaling by a power of two is exact, so the scaled
// update gives what the plain one would wherever the plain one is exact;
// the factors are kept, so a value costs a few multiplications, never a
// library call. The update itself is inline, in the header.
void RunningStats::WidenScaleFor(double magnitude) {
  if (!std::isfinite(magnitude)) return;  // infinities make the figures infinite, as they are
  const int needed = std::ilogb(magnitude) + 1;  // magnitude < 2^needed
  const int scale = needed > kPlainLowest && needed <= kPlainHighest ? 0 : std::clamp(needed, -kScaleLimit, kScaleLimit);
  if (scale > scale_) {
    squares_ = std::ldexp(squares_, 2 * (scale_ - scale));
    scale_ = scale;
    down_ = std::ldexp(1.0, -scale);
    up_ = std::ldexp(1.0, scale);
  }
  if (scale_ == 0) widenAt_ = std::ldexp(1.0, kPlainHighest);
  else if (scale_ >= kScaleLimit) widenAt_ = std::numeric_limits<double>::infinity();
  else widenAt_ = std::ldexp(1.0, scale_);
}

double RunningStats::StandardDeviation() const {
  if (count_ < 2) return std::numeric_limits<double>::quiet_NaN();
  return std::sqrt(squares_ / static_cast<double>(count_ - 1)) * up_;
}

Summary::Summary(std::vector<Column> columns)
    : columns_(std::move(columns)), numeric_(columns_.size()), filled_(columns_.size(), 0) {
  for (std::size_t i = 0; i < columns_.size(); ++i) (columns_[i].IsString() ? stringColumns_ : numericColumns_).push_back(i);
}

void Summary::Clear() {
  std::fill(numeric_.begin(), numeric_.end(), RunningStats());
  std::fill(filled_.begin(), filled_.end(), 0);
}

void Summary::Add(const CaseValues& values) {
  for (std::size_t i : numericColumns_) numeric_[i].Add(NumberAt(values[i]));
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

using Row = std::vector<std::string>;

void PrintAligned(const std::vector<Row>& rows, std::FILE* out) {
  std::vector<std::size_t> widths;
  for (const Row& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
  }
  for (const Row& row : rows) {
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

void Summary::Print(std::FILE* out) const {
  std::vector<Row> rows;
  rows.push_back({"variable", "valid", "mean", "sd", "min", "max"});
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    if (c.IsString()) {
      rows.push_back({c.name, std::to_string(filled_[i])});
      continue;
    }
    const RunningStats& s = numeric_[i];
    Row row{c.name, std::to_string(s.Count())};
    if (s.Count() > 0) {
      std::string text;
      const double nan = std::numeric_limits<double>::quiet_NaN();
      const bool dateTime = IsDateTimeFormat(c.format.type);
      RenderNumber(s.Mean(), dateTime ? ValueFormatOf(c.format) : DerivedFormat(c.format), text);
      row.push_back(text);
      RenderNumber(s.Count() > 1 ? s.StandardDeviation() : nan, SpreadFormat(c.format), text);
      row.push_back(text);
      RenderNumber(s.Min(), ValueFormatOf(c.format), text);
      row.push_back(text);
      RenderNumber(s.Max(), ValueFormatOf(c.format), text);
      row.push_back(text);
    }
    rows.push_back(row);
  }
  PrintAligned(rows, out);
}

}  // namespace dravrun
