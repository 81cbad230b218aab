#include "plot/plot_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "plot/raster.h"

namespace {

// The picture control repaints from a copy of the bitmap that honours alpha, so no drawing may
// set the top byte. For copy-pen and merge-pen over alpha-free pixels this changes nothing.
constexpr uint32_t kColorBits = 0x00FFFFFFu;

gdi::Pen CanvasPen(uint32_t color, int rasterOp) {
  gdi::Pen pen = gdi::MakePen(gdi::PixelFromColorref(color), rasterOp);
  pen.andMask &= kColorBits;
  pen.xorMask &= kColorBits;
  return pen;
}

// Truncation toward zero that saturates instead of overflowing; NaN lands far below the plot.
int32_t TruncateToInt(double v) {
  if (!(v > -2147483648.0)) return std::numeric_limits<int32_t>::min();
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v);
}

// Device mapping of the traces: y upwards from the bottom row.
gdi::Mapping TraceMapping(int height) { return gdi::MakeMapping(1, 1, 1, -1, 0, height - 1); }

// Applies the pen to the bars: column i covers rows starts[i]..lastRow. Rows are written top
// to bottom, each only at the groups of four columns that some bar of the group has reached
// (a group joins the active list at its first row and stays, as bars run down to lastRow), so
// memory is walked in row order and untouched stretches of a row cost nothing. `order` lists
// the groups by their first row; rowCounts[r] is how many of them start at or above row r.
// Every pixel is written once, so the order of writes cannot change a pixel.
void OrBars(uint32_t* pixels, int width, int firstRow, int lastRow, const int32_t* starts, const int32_t* order,
            const int32_t* rowCounts, gdi::Pen pen) {
  const uint32_t andMask = pen.andMask;
  const uint32_t xorMask = pen.xorMask;
  const int fullGroups = width / 4;
#if defined(__SSE2__)
  const __m128i a = _mm_set1_epi32(static_cast<int>(andMask));
  const __m128i x = _mm_set1_epi32(static_cast<int>(xorMask));
#endif
  for (int r = firstRow; r <= lastRow; ++r) {
    uint32_t* row = pixels + static_cast<size_t>(r) * width;
    const int active = rowCounts[r];
#if defined(__SSE2__)
    const __m128i rowIndex = _mm_set1_epi32(r);
#endif
    for (int j = 0; j < active; ++j) {
      const int g = order[j];
      const int c = 4 * g;
#if defined(__SSE2__)
      if (g < fullGroups) {
        const __m128i outside =
            _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(starts + c)), rowIndex);
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c));
        const __m128i d = _mm_xor_si128(_mm_and_si128(p, _mm_or_si128(a, outside)), _mm_andnot_si128(outside, x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + c), d);
        continue;
      }
#endif
      for (int i = c; i < std::min(c + 4, width); ++i) {
        const uint32_t inBar = r >= starts[i] ? 0xFFFFFFFFu : 0u;
        row[i] = (row[i] & (andMask | ~inBar)) ^ (xorMask & inBar);
      }
    }
  }
}

}  // namespace

PlotCanvas::PlotCanvas(int width, int height)
    : PlotCanvas(nullptr, width, height, nullptr, nullptr) {}

PlotCanvas::PlotCanvas(uint32_t* pixels, int width, int height, PresentFn present, void* presentContext)
    : present_(present), presentContext_(presentContext) {
  plotWidth = std::max(width, 0);
  plotHeight = std::max(height, 0);
  clientRect = PlotRect{0, 0, plotWidth, plotHeight};
  plotRect = clientRect;
  points.resize(static_cast<size_t>(plotWidth));
  for (int i = 0; i < plotWidth; ++i) points[i] = PlotPoint{i, 0};
  fillScratch_.resize(static_cast<size_t>(plotWidth));
  groupOrder_.resize(static_cast<size_t>(plotWidth + 3) / 4);
  rowCounts_.resize(static_cast<size_t>(plotHeight) + 1);
  if (pixels) {
    pixels_ = pixels;
  } else {
    ownedPixels_.assign(static_cast<size_t>(plotWidth) * plotHeight, 0u);
    pixels_ = ownedPixels_.data();
  }
  Clear(0x000000);
}

PlotCanvas::~PlotCanvas() = default;

bool PlotCanvas::Drawable() const { return pixels_ && plotWidth >= 2 && plotHeight >= 2; }

void PlotCanvas::Clear(uint32_t color) {
  if (!pixels_) return;
  const uint32_t pixel = gdi::PixelFromColorref(color);
  uint32_t* p = pixels_;
  uint32_t* const end = pixels_ + static_cast<size_t>(plotWidth) * plotHeight;
#if defined(__SSE2__)
  // Every frame of every page starts here: sixteen bytes a store, since the compiler's plain
  // loop stores four (it vectorises std::fill only above -O2).
  const __m128i v = _mm_set1_epi32(static_cast<int>(pixel));
  for (; end - p >= 16; p += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 8), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 12), v);
  }
#endif
  std::fill(p, end, pixel);
}

void PlotCanvas::DrawGrid(int columns, int rows, uint32_t color) {
  if (!Drawable()) return;
  const gdi::Surface surface{pixels_, plotWidth, plotHeight};
  const gdi::Pen pen = CanvasPen(color, kRopCopyPen);
  if (columns > 0) {  // a negative count draws nothing
    // Each vertical line runs from the top row to the bottom one. Under copy-pen the order of
    // writes cannot matter, so they are written row by row, which walks memory in order
    // (column by column costs a cache miss per pixel). Columns come out of MulDiv in
    // ascending order; a repeated one is written once.
    int* xs = fillScratch_.data();
    int n = 0;
    for (int64_t k = 0; k <= columns; ++k) {
      const int x = gdi::MulDiv(static_cast<int>(k), plotWidth - 1, columns);
      if (x >= 0 && x < plotWidth && (n == 0 || xs[n - 1] != x)) xs[n++] = x;
    }
    for (int y = 0; y < plotHeight; ++y) {
      uint32_t* row = pixels_ + static_cast<size_t>(y) * plotWidth;
      for (int j = 0; j < n; ++j) row[xs[j]] = pen.xorMask;
    }
  }
  if (rows != 0) {
    for (int64_t k = 0; k <= rows; ++k) {
      const int y = gdi::MulDiv(static_cast<int>(k), plotHeight - 1, rows);
      gdi::Line(surface, 0, y, plotWidth, y, pen);
    }
  }
}

void PlotCanvas::DrawLogGrid(int decades, int perDecade, uint32_t color) {
  if (!Drawable()) return;
  const gdi::Surface surface{pixels_, plotWidth, plotHeight};
  const gdi::Pen pen = CanvasPen(color, kRopCopyPen);
  for (int d = 1; d <= decades; ++d) {
    const double step = (std::pow(10.0, d) - std::pow(10.0, d - 1)) / perDecade;
    for (int j = 1; j <= perDecade; ++j) {
      const double v = j * step;
      const int y = TruncateToInt(std::log10(v) * (plotHeight - 1) / decades + 0.5);
      const int64_t row = static_cast<int64_t>(plotHeight) - y - 1;
      if (row < 0 || row >= plotHeight) continue;  // off the canvas: the line would be clipped away
      gdi::Line(surface, 0, static_cast<int>(row), plotWidth, static_cast<int>(row), pen);
    }
  }
  gdi::Line(surface, 0, 0, plotWidth, 0, pen);
}

template <typename T, typename Y>
void PlotCanvas::MapSeries(const T* values, int count, int interpolate, Y toRow) {
  // Column i looks at sample position x(i); k + 1 is read only when it exists, also when
  // rounding puts the last column a hair past the last sample.
  const bool stretch = count <= plotWidth;
  const double perColumn = stretch ? 1.0 / (plotWidth - 1) : 1.0 / plotWidth;
  const double centre = stretch ? 0.0 : static_cast<double>(count) / (2.0 * plotWidth) - 0.5;
  for (int i = 0; i < plotWidth; ++i) {
    const double x = stretch ? i * perColumn * (count - 1) : i * perColumn * count + centre;
    int k = static_cast<int>(x);
    double t = x - k;
    if (k >= count - 1) {
      k = count - 1;
      t = 0.0;
    }
    double v = static_cast<double>(values[k]);
    if (interpolate == 1 && t != 0.0) v += (static_cast<double>(values[k + 1]) - values[k]) * t;
    points[i].y = TruncateToInt(toRow(v) + 0.5);
  }
}

void PlotCanvas::PlotSeries(const int32_t* values, int count, uint32_t color, int rasterOp, int style,
                            int interpolate, int fullScale) {
  if (!Drawable() || !values || count <= 0) return;
  const int span = plotHeight - 1;
  const double scale = fullScale;
  MapSeries(values, count, interpolate, [span, scale](double v) { return v * span / scale; });
  DrawPoints(color, rasterOp, style);
}

void PlotCanvas::PlotSeries(const double* values, int count, uint32_t color, int rasterOp, int style,
                            int interpolate, double fullScale) {
  if (!Drawable() || !values || count <= 0) return;
  const int span = plotHeight - 1;
  const double inverse = 1.0 / fullScale;
  MapSeries(values, count, interpolate, [span, inverse](double v) { return v * inverse * span; });
  DrawPoints(color, rasterOp, style);
}

void PlotCanvas::DrawPoints(uint32_t color, int rasterOp, int style) {
  if (!Drawable() || points.size() != static_cast<size_t>(plotWidth)) return;
  const gdi::Surface surface{pixels_, plotWidth, plotHeight};
  const gdi::Mapping mapping = TraceMapping(plotHeight);
  const uint32_t plain = gdi::PixelFromColorref(color);
  const gdi::Pen pen = CanvasPen(color, rasterOp);
  switch (style) {
    case Outline: {
      gdi::Point from = gdi::MapPoint(mapping, {points[0].x, points[0].y});
      for (int i = 1; i < plotWidth; ++i) {
        const gdi::Point to = gdi::MapPoint(mapping, {points[i].x, points[i].y});
        gdi::Line(surface, from.x, from.y, to.x, to.y, pen);
        from = to;
      }
      gdi::SetPixel(surface, from.x, from.y, plain);
      break;
    }
    case Fill:
      DrawFill(pen, plain);
      break;
    case Points:
      for (const PlotPoint& p : points) {
        const gdi::Point d = gdi::MapPoint(mapping, {p.x, p.y});
        gdi::SetPixel(surface, d.x, d.y, plain);
      }
      break;
    default:
      break;
  }
}

// One bar per column from the bottom row up to the point (the point itself left out by the
// line), then the point in the plain colour. Within a column the bar and the point never
// share a pixel and columns are distinct, so every pixel is written at most once and the
// order of writes cannot matter: the bars are written row by row, which is several times
// faster than column by column.
void PlotCanvas::DrawFill(gdi::Pen pen, uint32_t plain) {
  const gdi::Surface surface{pixels_, plotWidth, plotHeight};
  const gdi::Mapping mapping = TraceMapping(plotHeight);
  const int bottom = gdi::MapY(mapping, 0);
  int firstRow = plotHeight;
  for (int i = 0; i < plotWidth; ++i) {
    if (gdi::MapX(mapping, points[i].x) != i) {
      // Columns moved by the caller: draw column by column, exactly as the lines would fall.
      for (const PlotPoint& p : points) {
        const gdi::Point base = gdi::MapPoint(mapping, {p.x, 0});
        const gdi::Point top = gdi::MapPoint(mapping, {p.x, p.y});
        gdi::Line(surface, base.x, base.y, top.x, top.y, pen);
        gdi::SetPixel(surface, top.x, top.y, plain);
      }
      return;
    }
    const int top = gdi::MapY(mapping, points[i].y);
    // First row of the bar: the bar runs from the bottom row towards the point and leaves the
    // point out; a point below the bottom row still covers the bottom row.
    int start;
    if (top < bottom) {
      start = std::max(top + 1, 0);
    } else if (top > bottom) {
      start = bottom;
    } else {
      start = plotHeight;  // zero-length bar
    }
    fillScratch_[i] = start;
    firstRow = std::min(firstRow, start);
  }
  const int lastRow = std::min(bottom, plotHeight - 1);
  if (firstRow <= lastRow) {
    // Counting sort of the groups of four columns by the first row any of their bars reaches.
    const int groups = static_cast<int>(groupOrder_.size());
    std::fill(rowCounts_.begin(), rowCounts_.end(), 0);
    const auto groupTop = [&](int g) {
      int top = plotHeight;
      for (int i = 4 * g; i < std::min(4 * g + 4, plotWidth); ++i) top = std::min(top, fillScratch_[i]);
      return top;
    };
    for (int g = 0; g < groups; ++g) ++rowCounts_[groupTop(g)];
    for (int r = 1; r <= plotHeight; ++r) rowCounts_[r] += rowCounts_[r - 1];  // groups starting at or above r
    for (int g = groups - 1; g >= 0; --g) groupOrder_[--rowCounts_[groupTop(g)]] = g;
    // rowCounts_[r] is now the number of groups starting above r; shift to "at or above".
    for (int r = 0; r < plotHeight; ++r) rowCounts_[r] = rowCounts_[r + 1];
    OrBars(pixels_, plotWidth, firstRow, lastRow, fillScratch_.data(), groupOrder_.data(), rowCounts_.data(), pen);
  }
  for (int i = 0; i < plotWidth; ++i) gdi::SetPixel(surface, i, gdi::MapY(mapping, points[i].y), plain);
}

void PlotCanvas::DrawScaledLine(int x1, int y1, int x2, int y2, uint32_t color, int rasterOp, int extentX,
                                int extentY) {
  // A zero extent would divide by zero (the platform refuses it); nothing is drawn.
  if (!Drawable() || extentX == 0 || extentY == 0) return;
  const gdi::Surface surface{pixels_, plotWidth, plotHeight};
  const gdi::Mapping mapping = gdi::MakeMapping(extentX, extentY, plotWidth - 1, 1 - plotHeight, 0, plotHeight - 1);
  const gdi::Point from = gdi::MapPoint(mapping, {x1, y1});
  const gdi::Point to = gdi::MapPoint(mapping, {x2, y2});
  gdi::Line(surface, from.x, from.y, to.x, to.y, CanvasPen(color, rasterOp));
  gdi::SetPixel(surface, to.x, to.y, gdi::PixelFromColorref(color));
}

void PlotCanvas::Present() {
  if (present_ && pixels_) present_(presentContext_, pixels_, plotWidth, plotHeight);
}
