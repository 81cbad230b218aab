#include "analysis/level_histogram.h"

#include <cmath>

#include "plot/plot_canvas.h"

namespace {
constexpr uint32_t kBackground = 0x400000;
constexpr uint32_t kGridColor = 0x005C00;
constexpr uint32_t kTraceColor[ChannelCount] = {0x0000F0, 0x00F000, 0xF00000, 0xE0E0E0, 0xF80000, 0x0000F8};
}  // namespace

void ComputeLevelHistogram(const int32_t* samples, int n, double* bins) {
  // Whole counts are exact in both int and double, so counting in int changes nothing.
  int32_t counts[kHistogramBins] = {};
  for (int i = 0; i < n; ++i) {
    const uint32_t level = static_cast<uint32_t>(samples[i]);
    if (level < kHistogramBins) ++counts[level];
  }
  for (int b = 0; b < kHistogramBins; ++b)
    bins[b] = counts[b] != 0 ? 100 * std::log10(static_cast<double>(counts[b]) * 1000 / n) : 0.0;
}

void RenderLevelHistogram(const AnalysisSettings& s, int n, int32_t* const channels[ChannelCount], double* bins,
                          PlotCanvas& canvas) {
  canvas.Clear(kBackground);
  canvas.DrawGrid(16, 0, kGridColor);
  canvas.DrawLogGrid(3, 9, kGridColor);
  const int firstChannel = s.ColorMode == 1 ? ChannelY : ChannelR;
  const int32_t showFlags[ChannelCount] = {s.RColor, s.GColor, s.BColor, s.YColor, s.UColor, s.VColor};
  const bool drawable = s.LevDiagMode >= Outline && s.LevDiagMode <= Points;
  for (int c = 0; c < 3; ++c) {
    const int ch = firstChannel + c;
    if (showFlags[ch] != 1) continue;
    ComputeLevelHistogram(channels[ch], n, bins);
    if (drawable) canvas.PlotSeries(bins, kHistogramBins, kTraceColor[ch], kRopMergePen, s.LevDiagMode, 1, 300.0);
  }
  canvas.Present();
}
