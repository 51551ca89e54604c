// The summary's arithmetic at the ends of the double range, where the end-to-end runs never go.
#include <gtest/gtest.h>

#include "tools/dravrun/Summary.h"

namespace dravrun {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Large values with a small spread (a naive sum of squares loses it), squares that overflow or underflow,
// constant columns: the true deviation, infinite only past the largest double; missing values skipped.
TEST(Summary, StandardDeviationOfFiniteValuesIsFiniteAtBothEndsOfTheRange) {
  const double kMax = std::numeric_limits<double>::max();
  const struct {
    std::vector<double> values;
    double mean, sd;
  } cases[] = {
      {{1e9 + 4, 1e9 + 7, kNaN, 1e9 + 13, 1e9 + 16}, 1e9 + 10, std::sqrt(30.0)},
      {{kMax, -kMax}, 0.0, std::numeric_limits<double>::infinity()},
      {{1e300, 3e300}, 2e300, std::sqrt(2.0) * 1e300},
      {{1e300, 2e300, 3e300, 4e300}, 2.5e300, std::sqrt(5.0 / 3) * 1e300},
      {{-1e308, 1e308}, 0.0, std::sqrt(2.0) * 1e308},
      {{0.0, 1e-300, 2e-300}, 1e-300, 1e-300},
      {{0.0, 0.0, 5.0, 7.0}, 3.0, std::sqrt(38.0 / 3)},
      {{1e300, 1e300, 1e300}, 1e300, 0.0},
      {{kMax, kMax}, kMax, 0.0},
      {{-2.5, -2.5, -2.5}, -2.5, 0.0},
      // Squares gathered on one side of a change of units, a value from the other.
      {{0x1p479, -0x1p479, 0x1p481}, 0x1p481 / 3, std::sqrt(19.0 / 3) * 0x1p479},
      {{0x1p-401, -0x1p-401, 0x1p-399}, 0x1p-399 / 3, std::sqrt(19.0 / 3) * 0x1p-401},
      {{0x1p-990, 0x1p100}, 0x1p99, std::sqrt(0.5) * 0x1p100},  // from the smallest units to none
  };
  // One variable per row, all in one block: the scaled update and the vector loop share it.
  const std::size_t variables = std::size(cases);
  RunningStats stats(variables);
  std::vector<double> rows(5 * stats.RowWidth(), kNaN);
  for (std::size_t c = 0; c < 5; ++c)
    for (std::size_t v = 0; v < variables; ++v)
      if (c < cases[v].values.size()) rows[c * stats.RowWidth() + v] = cases[v].values[c];
  stats.AddRows(rows.data(), 5);
  for (std::size_t v = 0; v < variables; ++v) {
    SCOPED_TRACE(cases[v].values.front());
    EXPECT_DOUBLE_EQ(stats.Mean(v), cases[v].mean);
    if (std::isinf(cases[v].sd))
      EXPECT_TRUE(std::isinf(stats.StandardDeviation(v)));
    else
      EXPECT_NEAR(stats.StandardDeviation(v), cases[v].sd, cases[v].sd * 1e-12);
  }
}

// The vector loop matches the value-by-value Welford update bit for bit: any block, missing values, scaled.
TEST(Summary, BlocksGiveTheFiguresOfTheUpdateValueByValue) {
  const std::size_t variables = 11, cases = 1000;
  std::vector<double> values(variables * cases);
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = static_cast<double>((i * 7919) % 10007) / 7.0 - 700;
    if (i % 13 == 5) values[i] = kNaN;
  }
  values[4 * variables + 3] = 1e300;  // variable 3 runs scaled from case 4
  struct Reference {
    double n = 0, mean = 0, squares = 0, min = 0, max = 0;
  };
  std::vector<Reference> reference(variables);
  RunningStats stats(variables);
  std::vector<double> block;
  for (std::size_t c = 0; c < cases; ++c) {
    for (std::size_t v = 0; v < variables; ++v) {
      const double x = values[c * variables + v];
      block.push_back(x);
      Reference& r = reference[v];
      if (std::isnan(x)) continue;
      const double delta = x - r.mean;  // the first value: the mean becomes it, no square is added
      r.mean += delta / ++r.n;
      r.squares += delta * (x - r.mean);
      r.min = r.n == 1 ? x : std::min(r.min, x);
      r.max = r.n == 1 ? x : std::max(r.max, x);
    }
    block.resize((block.size() + stats.RowWidth() - variables), 0);
    if (c % 97 == 96 || c + 1 == cases) {  // blocks of uneven length
      stats.AddRows(block.data(), block.size() / stats.RowWidth());
      block.clear();
    }
  }
  for (std::size_t v = 0; v < variables; ++v) {
    if (v == 3) continue;
    SCOPED_TRACE(v);
    EXPECT_EQ(stats.Count(v), static_cast<std::int64_t>(reference[v].n));
    EXPECT_EQ(stats.Mean(v), reference[v].mean);
    EXPECT_EQ(stats.StandardDeviation(v), std::sqrt(reference[v].squares / (reference[v].n - 1)));
    EXPECT_EQ(stats.Min(v), reference[v].min);
    EXPECT_EQ(stats.Max(v), reference[v].max);
  }
  EXPECT_EQ(stats.Max(3), 1e300);
}

}  // namespace
}  // namespace dravrun
