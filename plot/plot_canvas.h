// The off-screen picture of one page and its drawing operations.
// Portable: pixels are 0x00RRGGBB words, rows top-down, stride = plotWidth.
// Colours passed in are COLORREF values 0x00BBGGRR.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "plot/raster.h"

enum TraceStyle : int32_t { Outline = 0, Fill = 1, Points = 2 };

// Line raster operations, the codes of SetROP2.
constexpr int kRopCopyPen = 13;
constexpr int kRopMergePen = 15;

struct PlotPoint {
  int32_t x;
  int32_t y;
};

struct PlotRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

class PlotCanvas {
 public:
  // Hands the finished `pixels` (plotWidth x plotHeight words) on to the screen; set by the
  // Windows edge. Called on the frame thread: it must not wait for the window thread.
  using PresentFn = void (*)(void* context, const uint32_t* pixels, int width, int height);

  // A canvas that owns its pixels (native builds, tests, benchmarks). Starts black.
  PlotCanvas(int width, int height);
  // A canvas over pixels owned by someone else (the Windows edge's buffers). Starts black.
  PlotCanvas(uint32_t* pixels, int width, int height, PresentFn present, void* presentContext);
  virtual ~PlotCanvas();
  PlotCanvas(const PlotCanvas&) = delete;
  PlotCanvas& operator=(const PlotCanvas&) = delete;

  void Clear(uint32_t color);
  void DrawGrid(int columns, int rows, uint32_t color);
  void DrawLogGrid(int decades, int perDecade, uint32_t color);
  void PlotSeries(const int32_t* values, int count, uint32_t color, int rasterOp, int style, int interpolate,
                  int fullScale);
  void PlotSeries(const double* values, int count, uint32_t color, int rasterOp, int style, int interpolate,
                  double fullScale);
  void DrawPoints(uint32_t color, int rasterOp, int style);
  void DrawScaledLine(int x1, int y1, int x2, int y2, uint32_t color, int rasterOp, int extentX, int extentY);
  void Present();

  uint32_t* Pixels() { return pixels_; }
  const uint32_t* Pixels() const { return pixels_; }
  uint32_t PixelAt(int x, int y) const { return pixels_[static_cast<size_t>(y) * plotWidth + x]; }

  PlotRect clientRect{};  // 0, 0, plotWidth, plotHeight
  PlotRect plotRect{};    // the same rectangle in the page's client coordinates (set by the Windows edge)
  int plotWidth = 0;
  int plotHeight = 0;
  std::vector<PlotPoint> points;  // one per column, x = column, y rewritten by every trace

 protected:
  // For a canvas over buffers of its own (the Windows edge's double buffer): the next picture is
  // drawn into `pixels` (plotWidth x plotHeight words), from its Present on.
  void DrawInto(uint32_t* pixels) { pixels_ = pixels; }

 private:
  // Below two pixels in either direction the column and row mappings would divide by zero.
  bool Drawable() const;
  template <typename T, typename Y>
  void MapSeries(const T* values, int count, int interpolate, Y toRow);
  void DrawFill(gdi::Pen pen, uint32_t plain);

  uint32_t* pixels_ = nullptr;
  std::vector<uint32_t> ownedPixels_;
  PresentFn present_ = nullptr;
  void* presentContext_ = nullptr;
  // Scratch of the Fill style, sized once: the first bar row per column, and the groups of
  // four columns ordered by the first row any of them reaches (with a count per row).
  std::vector<int32_t> fillScratch_;
  std::vector<int32_t> groupOrder_;
  std::vector<int32_t> rowCounts_;
};
