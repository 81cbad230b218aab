// The tool window without a window: always visible, nothing to notify, three page canvases
// of the size the pages' picture control gives them. Nobody looks at a canvas between the
// pictures written, so the pages have their canvases only while drawing is asked for: the
// frame path then samples and measures without drawing, as for a page without a canvas.
#pragma once
#include <memory>

#include "cli/output/page_picture.h"
#include "plot/plot_canvas.h"
#include "plugin/tool_window_link.h"

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
