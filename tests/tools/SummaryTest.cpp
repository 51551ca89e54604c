// The summary's arithmetic at the ends of the double range, where the
// end-to-end runs never go. (What it prints is seen there.)
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tools/dravrun/Summary.h"

namespace dravrun {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Values far from zero with a small spread (a naive sum of squares loses
// it), finite values whose squares or differences overflow a double, values
// whose squares underflow, and constant columns: the standard deviation is
// the true one, never Inf or 0 by accident; only a spread beyond the
// largest double is infinite. Missing values are not counted. The plain
// update and the scaled one meet in one pass.
TEST(Summary, StandardDeviationOfFiniteValuesIsFiniteAtBothEndsOfTheRange) {
  const double kMax = std::numeric_limits<double>::max();
  const struct {
    std::vector<double> values;
    double mean;
    double sd;
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
  };
  for (const auto& c : cases) {
    RunningStats stats;
    for (double v : c.values) stats.Add(v);
    SCOPED_TRACE(c.values.front());
    EXPECT_DOUBLE_EQ(stats.Mean(), c.mean);
    if (std::isinf(c.sd))
      EXPECT_TRUE(std::isinf(stats.StandardDeviation()));
    else
      EXPECT_NEAR(stats.StandardDeviation(), c.sd, c.sd * 1e-12);
  }
}

}  // namespace
}  // namespace dravrun
