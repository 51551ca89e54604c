#include "tools/dravrun/PlainWelford.h"

#include <cstring>
#include <limits>

namespace dravrun {

namespace {

template <std::size_t kLanes>
struct Vectors {
  typedef double Lanes __attribute__((vector_size(kLanes * sizeof(double))));
  typedef std::int64_t Mask __attribute__((vector_size(kLanes * sizeof(double))));
};

template <typename V>
__attribute__((always_inline)) inline V Load(const void* from) {
  V v;
  std::memcpy(&v, from, sizeof v);
  return v;
}

template <typename V>
__attribute__((always_inline)) inline void Store(void* to, V v) {
  std::memcpy(to, &v, sizeof v);
}

// `mask` ? `a` : `b`, lane by lane, as bit operations: GCC turns most other
// ways of combining comparisons into a scalar select per lane.
template <typename L, typename M>
__attribute__((always_inline)) inline L Select(M mask, L a, L b) {
  return reinterpret_cast<L>((mask & reinterpret_cast<M>(a)) | (~mask & reinterpret_cast<M>(b)));
}

template <std::size_t kLanes>
__attribute__((always_inline)) inline void MarkTaken(const WelfordFigures& f, const double* rows, std::size_t count,
                                                     std::int64_t* taken) {
  using L = typename Vectors<kLanes>::Lanes;
  using M = typename Vectors<kLanes>::Mask;
  const M magnitudeBits = M{} + std::numeric_limits<std::int64_t>::max();
  for (std::size_t v = 0; v < f.width; v += kLanes) {
    const L below = Load<L>(f.plainBelow + v);
    M all = M{} - 1;
    for (std::size_t c = 0; c < count; ++c) {
      const L magnitude = reinterpret_cast<L>(Load<M>(rows + c * f.width + v) & magnitudeBits);
      all &= ~(magnitude >= below);  // true for NaN: a missing value is skipped
    }
    Store(taken + v, all);
  }
}

// Variables taken a few vectors at a time, their figures kept in registers
// through the whole block: between two cases the division then waits only
// on the arithmetic, not on a store and a load, and the vectors of a group
// are independent, so their divisions overlap. Two vectors a group keep
// the figures within the sixteen registers of AVX2 and SSE2.
constexpr std::size_t kGroup = 2;

// Each lane does the very operations of the scalar plain update in the same
// order (min and max choose as std::min and std::max do), so the figures do
// not depend on which of the two took a value. A lane not taken, or whose
// value is missing, keeps its figures.
template <std::size_t kLanes, std::size_t kVectors>
__attribute__((always_inline)) inline void AddTakenGroup(const WelfordFigures& f, const double* rows,
                                                         std::size_t count, const std::int64_t* taken,
                                                         std::size_t first) {
  using L = typename Vectors<kLanes>::Lanes;
  using M = typename Vectors<kLanes>::Mask;
  const L one = L{} + 1;
  const L missing = L{} + std::numeric_limits<double>::quiet_NaN();
  M take[kVectors];
  L n[kVectors], mean[kVectors], squares[kVectors], low[kVectors], high[kVectors];
  for (std::size_t g = 0; g < kVectors; ++g) {
    const std::size_t v = first + g * kLanes;
    take[g] = Load<M>(taken + v);
    n[g] = Load<L>(f.count + v);
    mean[g] = Load<L>(f.mean + v);
    squares[g] = Load<L>(f.squares + v);
    low[g] = Load<L>(f.min + v);
    high[g] = Load<L>(f.max + v);
  }
  for (const double* row = rows + first; row < rows + first + count * f.width; row += f.width) {
#pragma GCC unroll 4
    for (std::size_t g = 0; g < kVectors; ++g) {
      const L value = Select(take[g], Load<L>(row + g * kLanes), missing);
      const M present = value == value;
      n[g] += reinterpret_cast<L>(present & reinterpret_cast<M>(one));
      const L delta = value - mean[g];
      mean[g] = Select(present, mean[g] + delta / n[g], mean[g]);
      squares[g] = Select(present, squares[g] + delta * (value - mean[g]), squares[g]);
      low[g] = Select<L, M>(value < low[g], value, low[g]);  // false for NaN
      high[g] = Select<L, M>(high[g] < value, value, high[g]);
    }
  }
  for (std::size_t g = 0; g < kVectors; ++g) {
    const std::size_t v = first + g * kLanes;
    Store(f.count + v, n[g]);
    Store(f.mean + v, mean[g]);
    Store(f.squares + v, squares[g]);
    Store(f.min + v, low[g]);
    Store(f.max + v, high[g]);
  }
}

template <std::size_t kLanes>
__attribute__((always_inline)) inline void AddTaken(const WelfordFigures& f, const double* rows, std::size_t count,
                                                    const std::int64_t* taken) {
  std::size_t v = 0;
  for (; v + kGroup * kLanes <= f.width; v += kGroup * kLanes) AddTakenGroup<kLanes, kGroup>(f, rows, count, taken, v);
  for (; v < f.width; v += kLanes) AddTakenGroup<kLanes, 1>(f, rows, count, taken, v);
}

__attribute__((target("default"))) void AddPlainBlockFor(const WelfordFigures& f, const double* rows,
                                                         std::size_t count, std::int64_t* taken) {
  MarkTaken<2>(f, rows, count, taken);
  AddTaken<2>(f, rows, count, taken);
}

__attribute__((target("avx2"))) void AddPlainBlockFor(const WelfordFigures& f, const double* rows, std::size_t count,
                                                      std::int64_t* taken) {
  MarkTaken<4>(f, rows, count, taken);
  AddTaken<4>(f, rows, count, taken);
}

__attribute__((target("avx512f"))) void AddPlainBlockFor(const WelfordFigures& f, const double* rows,
                                                         std::size_t count, std::int64_t* taken) {
  MarkTaken<8>(f, rows, count, taken);
  AddTaken<8>(f, rows, count, taken);
}

}  // namespace

void AddPlainBlock(const WelfordFigures& figures, const double* rows, std::size_t count, std::int64_t* taken) {
  AddPlainBlockFor(figures, rows, count, taken);
}

}  // namespace dravrun
