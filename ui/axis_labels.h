// Where the three pages put their axis texts around the plot. Portable: the Windows pages
// measure with their dialog font and draw each label at the returned corner; the Linux front
// end does the same with its own font.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plot/plot_canvas.h"
#include "records/analysis_settings.h"

struct TextExtent {
  int width;
  int height;
};
using MeasureTextFn = std::function<TextExtent(const std::string& text)>;  // ASCII texts only

struct AxisLabel {
  std::string text;
  int x;  // top-left corner where the text is drawn
  int y;
};

// The labels' distances from the plot, 20 pixels to the left-hand column's centre and 8 below
// the bottom edge, are pixels at 96 DPI and grow with `dpi` as the texts do: otherwise, at
// 144 DPI and above, the left-hand texts run into the plot frame and are cut by it.

// Sample levels 255..0 up the left side, 0..90 % and "100%" along the bottom.
std::vector<AxisLabel> ScopeAxisLabels(const PlotRect& plotRect, const MeasureTextFn& measure, int dpi = 96);
// "0dB" and -d..-s dB down the left side, 0.0..6.5 MHz and "MHz" along the bottom.
// The sensitivity is taken as EffectiveSensitivity(sensitivity).
std::vector<AxisLabel> SpectrumAxisLabels(const PlotRect& plotRect, const MeasureTextFn& measure,
                                          int32_t sensitivity, int dpi = 96);
// 0.1, 1.0, 10.0 and "100%" up the left side, 0..240 and "255" along the bottom.
std::vector<AxisLabel> LevelsAxisLabels(const PlotRect& plotRect, const MeasureTextFn& measure, int dpi = 96);

// By page mode 0 scope, 1 spectrum, 2 levels; anything else: no labels.
std::vector<AxisLabel> PageAxisLabels(int mode, const PlotRect& plotRect, const MeasureTextFn& measure,
                                      const AnalysisSettings& settings, int dpi = 96);

// The sensitivity the page shows, labels and the analysis uses: clamped to 10..110.
int32_t EffectiveSensitivity(int32_t stored);
// Sensitivity step of the spectrum page's spin: upper arrow (up=true) or lower arrow, result
// clamped 10..110. Steps from the effective value, so a hand-edited value outside the range
// moves from what the page shows.
int32_t StepSensitivity(int32_t current, bool up);
