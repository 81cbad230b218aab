// What the frame path needs of the tool window. The Win32 tool window implements it;
// native tests implement it with a fake.
#pragma once

class PlotCanvas;

class ToolWindowLink {
 public:
  // The window exists and is visible.
  virtual bool IsVisible() = 0;
  // Posts WM_LINEVIEW_NOTIFY with this wParam to the window (never waits for it).
  virtual void PostNotify(int wParam) = 0;
  // The canvas of page 0 (oscilloscope), 1 (spectrum) or 2 (levels); null when the page has none.
  virtual PlotCanvas* PageCanvas(int mode) = 0;

 protected:
  ~ToolWindowLink() = default;
};
