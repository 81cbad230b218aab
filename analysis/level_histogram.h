// The levels page: how often each sample level 0..255 occurs on the line, on a logarithmic
// percentage scale (0 = 0.1 %, 100 = 1 %, 200 = 10 %, 300 = 100 %).
#pragma once
#include <cstdint>

#include "records/analysis_settings.h"

class PlotCanvas;

constexpr int kHistogramBins = 256;

// Fills bins[0..255]: 100 * log10(1000 * count / n) for occupied levels, 0 for empty ones.
// Samples outside 0..255 are not counted (they still count in n).
void ComputeLevelHistogram(const int32_t* samples, int n, double* bins);

// The whole per-frame work of the levels page, then Present.
void RenderLevelHistogram(const AnalysisSettings& s, int n, int32_t* const channels[ChannelCount], double* bins,
                          PlotCanvas& canvas);
