// Axis label positions of the three pages. Local until the shared ui/axis_labels.h lands.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "plot/plot_canvas.h"
#include "records/analysis_settings.h"

struct TextExtent {
  int width;
  int height;
};
using MeasureTextFn = std::function<TextExtent(const std::string& text)>;
struct AxisLabel {
  std::string text;
  int x;
  int y;
};  // top-left corner of the text

std::vector<AxisLabel> PageAxisLabels(int mode, const PlotRect& plotRect, const MeasureTextFn& measure,
                                      const AnalysisSettings& settings);
