#pragma once
// Welford's plain update over a block of cases, as many variables an
// instruction as the processor's vectors hold: eight with AVX-512, four with
// AVX2, two with SSE2, the version chosen when the program starts. It has a
// file of its own because it is the one part built for several instruction
// sets.
#include <cstddef>
#include <cstdint>

namespace dravrun {

// The figures' arrays hold a whole number of this many variables.
constexpr std::size_t kPlainWelfordLanes = 8;

// The running figures of the variables, one array each, all `width` long.
struct WelfordFigures {
  double* count;
  double* mean;
  double* squares;  // sum of squared deviations from the mean
  double* min;
  double* max;
  // Magnitudes below it take the plain update: 0 for a variable that must
  // not take it (it has no value yet, or runs scaled).
  const double* plainBelow;
  std::size_t width;
};

// Adds `count` rows of `figures.width` values each (NaN is missing) to each
// variable whose values in them all take the plain update, and sets its
// `taken` entry to -1. Every other variable is left as it was, its entry 0,
// for the caller to add value by value.
void AddPlainBlock(const WelfordFigures& figures, const double* rows, std::size_t count, std::int64_t* taken);

}  // namespace dravrun
