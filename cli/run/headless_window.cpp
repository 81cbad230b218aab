#include "cli/run/headless_window.h"

HeadlessWindow::HeadlessWindow() {
  for (auto& c : canvases_) {
    c = std::make_unique<PlotCanvas>(kCanvasWidth, kCanvasHeight);
    c->plotRect = kPagePlotRect;
  }
}

PlotCanvas* HeadlessWindow::PageCanvas(int mode) {
  if (!drawing_ || mode < 0 || mode >= 3) return nullptr;
  return canvases_[mode].get();
}
