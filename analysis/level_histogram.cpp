#include "analysis/level_histogram.h"

#include <cmath>

#include "analysis/page_style.h"
#include "plot/plot_canvas.h"

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
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(16, 0, kPageGridColor);
  canvas.DrawLogGrid(3, 9, kPageGridColor);
  const bool drawable = s.LevDiagMode >= Outline && s.LevDiagMode <= Points;
  for (int ch = FirstChannel(s); ch < FirstChannel(s) + 3; ++ch) {
    if (!ChannelShown(s, ch)) continue;
    ComputeLevelHistogram(channels[ch], n, bins);
    if (drawable) canvas.PlotSeries(bins, kHistogramBins, kAnalyserTraceColor[ch], kRopMergePen, s.LevDiagMode, 1, 300.0);
  }
  canvas.Present();
}
