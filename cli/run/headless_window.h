// The tool window without a window: always visible, nothing to notify, three page canvases
// of the size the pages' picture control gives them. Nobody looks at a canvas between the
// pictures written, so the pages have their canvases only while drawing is asked for: the
// frame path then samples and measures without drawing, as for a page without a canvas.
#pragma once
#include <memory>

#include "plot/plot_canvas.h"
#include "plugin/tool_window_link.h"

// The picture control's client area with "MS Sans Serif" 8 pt, less its edge.
constexpr int kCanvasWidth = 640;
constexpr int kCanvasHeight = 346;

// Where the canvas stands on a page picture, with room for the axis labels around it.
constexpr int kPageWidth = 720;
constexpr int kPageHeight = 399;
constexpr PlotRect kPagePlotRect{50, 13, 50 + kCanvasWidth, 13 + kCanvasHeight};

class HeadlessWindow final : public ToolWindowLink {
 public:
  HeadlessWindow();
  bool IsVisible() override { return true; }
  void PostNotify(int) override {}
  PlotCanvas* PageCanvas(int mode) override;
  void SetDrawing(bool drawing) { drawing_ = drawing; }
  // The canvas whether drawing is asked for or not.
  PlotCanvas& Canvas(int mode) { return *canvases_[mode]; }

 private:
  std::unique_ptr<PlotCanvas> canvases_[3];
  bool drawing_ = true;
};
