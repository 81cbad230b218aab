// The raster on the frame path: Clear against a plain fill, traces of 640 columns, and the
// Fill trace against a plain row-order loop writing the same pixels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "plot/plot_canvas.h"

namespace {

constexpr int kW = 640;
constexpr int kH = 346;

void BM_Clear(benchmark::State& state) {
  PlotCanvas c(kW, kH);
  for (auto _ : state) {
    c.Clear(0x400000);
    benchmark::DoNotOptimize(c.Pixels());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Clear);

void BM_PlainFill(benchmark::State& state) {
  std::vector<uint32_t> pixels(kW * kH);
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), 0x00000040u);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PlainFill);

// A trace wandering over the whole height.
std::vector<double> Wave(double amplitude) {
  std::vector<double> v(kW);
  for (int i = 0; i < kW; ++i) v[i] = amplitude * (0.5 + 0.45 * std::sin(i * 0.05) + 0.05 * std::sin(i * 1.7));
  return v;
}

void BM_OutlineTrace(benchmark::State& state) {
  PlotCanvas c(kW, kH);
  const std::vector<double> v = Wave(255.0);
  for (auto _ : state) {
    c.PlotSeries(v.data(), kW, 0x0000FF, kRopMergePen, Outline, 1, 255.0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OutlineTrace);

// Bars of about half the height.
std::vector<double> HalfHeight() {
  std::vector<double> v(kW);
  for (int i = 0; i < kW; ++i) v[i] = 0.5 + 0.1 * std::sin(i * 0.3);
  return v;
}

void BM_FillTrace(benchmark::State& state) {
  PlotCanvas c(kW, kH);
  const std::vector<double> v = HalfHeight();
  for (auto _ : state) {
    c.PlotSeries(v.data(), kW, 0x0000FF, kRopMergePen, Fill, 1, 1.0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FillTrace);

// The same pixels written by a plain row-order loop: the bar rows ORed, the top pixels set.
void BM_PlainRowOrderFill(benchmark::State& state) {
  std::vector<uint32_t> pixels(kW * kH);
  const std::vector<double> v = HalfHeight();
  std::vector<int> top(kW);
  for (int i = 0; i < kW; ++i) top[i] = kH - 1 - static_cast<int>(v[i] * (kH - 1) + 0.5);
  const int highest = *std::min_element(top.begin(), top.end());
  const uint32_t pen = 0x00FF0000;
  for (auto _ : state) {
    for (int r = highest; r < kH; ++r) {
      uint32_t* row = pixels.data() + r * kW;
      for (int i = 0; i < kW; ++i)
        if (r > top[i]) row[i] |= pen;
    }
    for (int i = 0; i < kW; ++i) pixels[top[i] * kW + i] = pen;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PlainRowOrderFill);

// For comparison: the same bars written column by column, as one line per column would.
void BM_ColumnOrderFill(benchmark::State& state) {
  std::vector<uint32_t> pixels(kW * kH);
  const std::vector<double> v = HalfHeight();
  std::vector<int> top(kW);
  for (int i = 0; i < kW; ++i) top[i] = kH - 1 - static_cast<int>(v[i] * (kH - 1) + 0.5);
  const uint32_t pen = 0x00FF0000;
  for (auto _ : state) {
    for (int i = 0; i < kW; ++i) {
      for (int r = kH - 1; r > top[i]; --r) pixels[r * kW + i] |= pen;
      pixels[top[i] * kW + i] = pen;
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ColumnOrderFill);

}  // namespace
