// bench_render: dravrun's value renderers alone, in this process, against a
// bare std::to_chars(fixed, 2) of the same values. One item is one value.
// bench/run reports the DATETIME figure against its target (values per
// second) and the plain figures as a ratio to the bare loop.
#include <benchmark/benchmark.h>

#include <charconv>
#include <vector>

#include "host/DravFormat.h"
#include "tools/dravrun/ExactFormat.h"
#include "tools/dravrun/ValueFormat.h"

namespace dravrun {
namespace {

constexpr int kValues = 4096;
// 2024-01-01T00:00:00, where dravfeed's generated dates start.
constexpr double kFirstInstant = 1704067200.0;

// What dravfeed --generate serves: i + j/4 up to a million.
std::vector<double> PlainValues() {
  std::vector<double> values;
  for (int i = 0; i < kValues; ++i) values.push_back(i * 244.140625 + (i % 4) / 4.0);
  return values;
}

// Instants a minute and a quarter second apart, over about three days.
std::vector<double> Instants() {
  std::vector<double> values;
  for (int i = 0; i < kValues; ++i) values.push_back(kFirstInstant + i * 60.25);
  return values;
}

void BareToChars(benchmark::State& state) {
  const std::vector<double> values = PlainValues();
  char text[kMaxNumberText];
  for (auto _ : state) {
    for (double v : values) {
      char* end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 2).ptr;
      benchmark::DoNotOptimize(end);
    }
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

void Render(benchmark::State& state, const std::vector<double>& values, PrintFormat format) {
  char text[kMaxNumberText];
  for (auto _ : state) {
    for (double v : values) {
      char* end = RenderNumber(v, format, text);
      benchmark::DoNotOptimize(end);
    }
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

// --exact: the shortest round-trip text, whatever the format.
void RenderExact(benchmark::State& state, const std::vector<double>& values, int type) {
  char text[kMaxExactText];
  for (auto _ : state) {
    for (double v : values) {
      char* end = dravrun::RenderExact(v, type, text);
      benchmark::DoNotOptimize(end);
    }
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

void RenderExactF82(benchmark::State& state) { RenderExact(state, PlainValues(), kFmtF); }
void RenderExactDateTime(benchmark::State& state) { RenderExact(state, Instants(), kFmtDATETIME); }

void RenderF82(benchmark::State& state) { Render(state, PlainValues(), PrintFormat{kFmtF, 8, 2}); }
void RenderComma122(benchmark::State& state) { Render(state, PlainValues(), PrintFormat{kFmtCOMMA, 12, 2}); }
void RenderDateTime20(benchmark::State& state) { Render(state, Instants(), PrintFormat{kFmtDATETIME, 20, 0}); }
void RenderDateTime232(benchmark::State& state) { Render(state, Instants(), PrintFormat{kFmtDATETIME, 23, 2}); }
void RenderDate11(benchmark::State& state) { Render(state, Instants(), PrintFormat{kFmtDATE, 11, 0}); }

BENCHMARK(BareToChars)->Name("render/bare_to_chars_fixed2");
BENCHMARK(RenderF82)->Name("render/F8.2");
BENCHMARK(RenderComma122)->Name("render/COMMA12.2");
BENCHMARK(RenderDateTime20)->Name("render/DATETIME20");
BENCHMARK(RenderDateTime232)->Name("render/DATETIME23.2");
BENCHMARK(RenderDate11)->Name("render/DATE11");
BENCHMARK(RenderExactF82)->Name("render/exact F8.2 values");
BENCHMARK(RenderExactDateTime)->Name("render/exact DATETIME");

}  // namespace
}  // namespace dravrun

BENCHMARK_MAIN();
