// GDI is the oracle of the raster: every primitive and every drawing operation is drawn once
// with real GDI into a 32-bpp DIB section and once with our raster, and every pixel must match.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "plot/plot_canvas.h"
#include "plot/plot_canvas_win.h"
#include "plot/raster.h"

namespace {

// A memory context with a top-down 32-bpp DIB section selected.
class GdiBitmap {
 public:
  GdiBitmap(int width, int height) : width_(width), height_(height) {
    const BITMAPINFO info = CanvasBitmapInfo(width, height);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~GdiBitmap() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  HDC dc() const { return dc_; }
  uint32_t* bits() {
    GdiFlush();
    return bits_;
  }
  std::vector<uint32_t> Pixels() {
    GdiFlush();
    return std::vector<uint32_t>(bits_, bits_ + static_cast<size_t>(width_) * height_);
  }
  void Load(const std::vector<uint32_t>& pixels) {
    GdiFlush();
    std::memcpy(bits_, pixels.data(), pixels.size() * sizeof(uint32_t));
  }
  // Back to MM_TEXT and copy-pen.
  void ResetMapping() {
    SetMapMode(dc_, MM_TEXT);
    SetViewportOrgEx(dc_, 0, 0, nullptr);
    SetWindowOrgEx(dc_, 0, 0, nullptr);
    SetROP2(dc_, R2_COPYPEN);
  }

 private:
  int width_, height_;
  HBITMAP bitmap_;
  uint32_t* bits_;
  HDC dc_;
  HGDIOBJ old_;
};

// Selects a solid pen for the scope.
class ScopedPen {
 public:
  ScopedPen(HDC dc, int width, COLORREF colour) : dc_(dc), pen_(CreatePen(PS_SOLID, width, colour)) {
    old_ = SelectObject(dc_, pen_);
  }
  ~ScopedPen() {
    SelectObject(dc_, old_);
    DeleteObject(pen_);
  }

 private:
  HDC dc_;
  HPEN pen_;
  HGDIOBJ old_;
};

std::string FirstDifference(const std::vector<uint32_t>& gdi, const std::vector<uint32_t>& ours, int width) {
  for (size_t p = 0; p < gdi.size(); ++p) {
    if (gdi[p] != ours[p]) {
      std::ostringstream s;
      s << "first difference at (" << p % width << ", " << p / width << "): GDI " << std::hex << gdi[p] << ", ours "
        << ours[p];
      int count = 0;
      for (size_t q = 0; q < gdi.size(); ++q) count += gdi[q] != ours[q];
      s << std::dec << "; " << count << " pixels differ";
      return s.str();
    }
  }
  return "";
}

std::vector<uint32_t> RandomPixels(std::mt19937& rng, size_t n, uint32_t mask) {
  std::vector<uint32_t> v(n);
  for (uint32_t& p : v) p = static_cast<uint32_t>(rng()) & mask;
  return v;
}

COLORREF RandomColour(std::mt19937& rng) { return static_cast<COLORREF>(rng() & 0xFFFFFF); }

constexpr int kW = 64;
constexpr int kH = 48;

TEST(Oracle, MulDivMatchesTheSystem) {
  std::mt19937 rng(1);
  const int edges[] = {0, 1, -1, 2, -2, 3, 199, 2147483647, -2147483647 - 1, 46341, -46341, 65536};
  for (int a : edges)
    for (int b : edges)
      for (int c : edges) ASSERT_EQ(gdi::MulDiv(a, b, c), ::MulDiv(a, b, c)) << a << " " << b << " " << c;
  std::uniform_int_distribution<int> small(-1000, 1000);
  for (int n = 0; n < 100000; ++n) {
    const int a = n % 2 ? small(rng) : static_cast<int>(rng());
    const int b = n % 3 ? small(rng) : static_cast<int>(rng());
    const int c = n % 5 ? small(rng) : static_cast<int>(rng() >> (rng() % 31));
    ASSERT_EQ(gdi::MulDiv(a, b, c), ::MulDiv(a, b, c)) << a << " " << b << " " << c;
  }
}

TEST(Oracle, MappingMatchesLPtoDP) {
  GdiBitmap g(kW, kH);
  std::mt19937 rng(2);
  std::uniform_int_distribution<int> extent(-3000, 3000), origin(-500, 500), logical(-5000, 5000);
  for (int n = 0; n < 2000; ++n) {
    int wx = extent(rng), wy = extent(rng), vx = extent(rng), vy = extent(rng);
    if (!wx) wx = 1;
    if (!wy) wy = 1;
    if (!vx) vx = 7;
    if (!vy) vy = -7;
    const int ox = origin(rng), oy = origin(rng);
    g.ResetMapping();
    SetMapMode(g.dc(), MM_ANISOTROPIC);
    SetWindowExtEx(g.dc(), wx, wy, nullptr);
    SetViewportExtEx(g.dc(), vx, vy, nullptr);
    SetViewportOrgEx(g.dc(), ox, oy, nullptr);
    const gdi::Mapping m = gdi::MakeMapping(wx, wy, vx, vy, ox, oy);
    for (int k = 0; k < 20; ++k) {
      POINT p{logical(rng), logical(rng)};
      const gdi::Point ours = gdi::MapPoint(m, {p.x, p.y});
      LPtoDP(g.dc(), &p, 1);
      ASSERT_EQ(ours.x, p.x) << wx << "/" << vx << " org " << ox;
      ASSERT_EQ(ours.y, p.y) << wy << "/" << vy << " org " << oy;
    }
  }
}

// Random segments and polylines through and beyond every edge, every raster operation (the
// plots use copy-pen and merge-pen), over random backgrounds including the top byte.
TEST(Oracle, LinesAndPolylines) {
  GdiBitmap g(kW, kH);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> nearCoord(-40, kW + 40), farCoord(-3000, 3000), count(2, 12);
  for (int n = 0; n < 4000; ++n) {
    const int rop = n % 4 == 3 ? 1 + static_cast<int>(rng() % 16) : (n % 2 ? R2_MERGEPEN : R2_COPYPEN);
    const COLORREF colour = RandomColour(rng);
    const std::vector<uint32_t> background = RandomPixels(rng, kW * kH, n % 8 == 0 ? 0xFFFFFFFF : 0x00FFFFFF);
    std::vector<uint32_t> ours = background;
    g.Load(background);
    g.ResetMapping();
    SetROP2(g.dc(), rop);
    const int points = n % 5 == 4 ? count(rng) : 2;
    std::vector<POINT> pts(points);
    for (POINT& p : pts) {
      const bool isFar = rng() % 8 == 0;
      p.x = isFar ? farCoord(rng) : nearCoord(rng);
      p.y = isFar ? farCoord(rng) : nearCoord(rng) * kH / kW;
    }
    std::vector<gdi::Point> ourPts;
    for (const POINT& p : pts) ourPts.push_back({p.x, p.y});
    {
      ScopedPen pen(g.dc(), 1, colour);
      if (points == 2) {
        MoveToEx(g.dc(), pts[0].x, pts[0].y, nullptr);
        LineTo(g.dc(), pts[1].x, pts[1].y);
      } else {
        Polyline(g.dc(), pts.data(), points);
      }
    }
    gdi::Polyline(gdi::Surface{ours.data(), kW, kH}, ourPts.data(), points,
                  gdi::MakePen(gdi::PixelFromColorref(colour), rop));
    const std::vector<uint32_t> theirs = g.Pixels();
    ASSERT_EQ(theirs, ours) << "case " << n << " rop " << rop << " from " << pts[0].x << "," << pts[0].y << " to "
                            << pts[1].x << "," << pts[1].y << ": " << FirstDifference(theirs, ours, kW);
  }
}

TEST(Oracle, FillsAndPixels) {
  GdiBitmap g(kW, kH);
  std::mt19937 rng(4);
  std::uniform_int_distribution<int> coord(-30, kW + 30);
  for (int n = 0; n < 1500; ++n) {
    const COLORREF colour = RandomColour(rng);
    const std::vector<uint32_t> background = RandomPixels(rng, kW * kH, 0x00FFFFFF);
    std::vector<uint32_t> ours = background;
    g.Load(background);
    g.ResetMapping();
    SetROP2(g.dc(), n % 2 ? R2_MERGEPEN : R2_COPYPEN);  // a fill ignores the line raster operation
    if (n % 3 == 2) {
      // Single pixels: compared under copy-pen only (the platform's SetPixel ignores the raster
      // operation, Wine's applies it).
      SetROP2(g.dc(), R2_COPYPEN);
      for (int k = 0; k < 20; ++k) {
        const int x = coord(rng), y = coord(rng) * kH / kW;
        SetPixel(g.dc(), x, y, colour);
        gdi::SetPixel(gdi::Surface{ours.data(), kW, kH}, x, y, gdi::PixelFromColorref(colour));
      }
    } else {
      RECT r{coord(rng), coord(rng) * kH / kW, coord(rng), coord(rng) * kH / kW};
      HBRUSH brush = CreateSolidBrush(colour);
      FillRect(g.dc(), &r, brush);
      DeleteObject(brush);
      gdi::FillRect(gdi::Surface{ours.data(), kW, kH}, r.left, r.top, r.right, r.bottom,
                    gdi::PixelFromColorref(colour));
    }
    const std::vector<uint32_t> theirs = g.Pixels();
    ASSERT_EQ(theirs, ours) << "case " << n << ": " << FirstDifference(theirs, ours, kW);
  }
}

// Lines through the two mappings the drawing operations use: the trace mapping (y up from the
// bottom row) and the scaled mapping of a logical width and height onto the whole bitmap.
TEST(Oracle, MappedLines) {
  GdiBitmap g(kW, kH);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> extent(1, 3000), sign(0, 1);
  for (int n = 0; n < 3000; ++n) {
    const bool scaled = n % 2 == 1;
    int wx = 1, wy = 1, vx = 1, vy = -1;
    if (scaled) {
      wx = extent(rng) * (n % 7 == 0 && sign(rng) ? -1 : 1);
      wy = extent(rng);
      vx = kW - 1;
      vy = 1 - kH;
    }
    // Logical points through and beyond every edge of the mapped bitmap.
    std::uniform_int_distribution<int> lx(-std::abs(wx) / 2 - kW / 2, std::abs(wx) * 3 / 2 + kW / 2);
    std::uniform_int_distribution<int> ly(-wy / 2 - kH / 2, wy * 3 / 2 + kH / 2);
    const int x0 = lx(rng), y0 = ly(rng), x1 = lx(rng), y1 = ly(rng);
    const int rop = n % 4 < 2 ? R2_MERGEPEN : R2_COPYPEN;
    const COLORREF colour = RandomColour(rng);
    const std::vector<uint32_t> background = RandomPixels(rng, kW * kH, 0x00FFFFFF);
    std::vector<uint32_t> ours = background;
    g.Load(background);
    g.ResetMapping();
    {
      // Width 0 is one pixel at any scale; the drawing operations' width 1 is checked below.
      ScopedPen pen(g.dc(), 0, colour);
      SetMapMode(g.dc(), MM_ANISOTROPIC);
      SetWindowExtEx(g.dc(), wx, wy, nullptr);
      SetViewportExtEx(g.dc(), vx, vy, nullptr);
      SetViewportOrgEx(g.dc(), 0, kH - 1, nullptr);
      SetROP2(g.dc(), rop);
      MoveToEx(g.dc(), x0, y0, nullptr);
      LineTo(g.dc(), x1, y1);
    }
    const gdi::Mapping m = gdi::MakeMapping(wx, wy, vx, vy, 0, kH - 1);
    const gdi::Point a = gdi::MapPoint(m, {x0, y0}), b = gdi::MapPoint(m, {x1, y1});
    gdi::Line(gdi::Surface{ours.data(), kW, kH}, a.x, a.y, b.x, b.y, gdi::MakePen(gdi::PixelFromColorref(colour), rop));
    const std::vector<uint32_t> theirs = g.Pixels();
    ASSERT_EQ(theirs, ours) << "case " << n << " extents " << wx << "x" << wy << " from " << x0 << "," << y0 << " to "
                            << x1 << "," << y1 << ": " << FirstDifference(theirs, ours, kW);
  }
}

// The drawing operations written out with GDI calls, step by step as the canvas's algorithm
// states them, on a DIB section of the same size.
class GdiCanvas {
 public:
  GdiCanvas(int width, int height) : g(width, height), w(width), h(height), points(width) {
    for (int i = 0; i < w; ++i) points[i] = {i, 0};
  }

  void Clear(COLORREF colour) {
    g.ResetMapping();
    RECT r{0, 0, w, h};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(g.dc(), &r, brush);
    DeleteObject(brush);
  }
  void DrawGrid(int columns, int rows, COLORREF colour) {
    g.ResetMapping();
    ScopedPen pen(g.dc(), 1, colour);
    if (columns != 0)
      for (int k = 0; k <= columns; ++k) {
        const int x = ::MulDiv(k, w - 1, columns);
        MoveToEx(g.dc(), x, 0, nullptr);
        LineTo(g.dc(), x, h);
      }
    if (rows != 0)
      for (int k = 0; k <= rows; ++k) {
        const int y = ::MulDiv(k, h - 1, rows);
        MoveToEx(g.dc(), 0, y, nullptr);
        LineTo(g.dc(), w, y);
      }
  }
  void DrawLogGrid(int decades, int perDecade, COLORREF colour) {
    g.ResetMapping();
    ScopedPen pen(g.dc(), 1, colour);
    for (int d = 1; d <= decades; ++d) {
      const double step = (std::pow(10.0, d) - std::pow(10.0, d - 1)) / perDecade;
      for (int j = 1; j <= perDecade; ++j) {
        const int y = static_cast<int>(std::log10(j * step) * (h - 1) / decades + 0.5);
        MoveToEx(g.dc(), 0, h - y - 1, nullptr);
        LineTo(g.dc(), w, h - y - 1);
      }
    }
    MoveToEx(g.dc(), 0, 0, nullptr);
    LineTo(g.dc(), w, 0);
  }
  template <typename T>
  void PlotSeries(const T* values, int count, COLORREF colour, int rop, int style, int interpolate, double fullScale,
                  bool integer) {
    for (int i = 0; i < w; ++i) {
      double x;
      if (count <= w)
        x = i * (1.0 / (w - 1)) * (count - 1);
      else
        x = i * (1.0 / w) * count + (static_cast<double>(count) / (2 * w) - 0.5);
      const int k = static_cast<int>(x);
      const double t = x - k;
      double v = values[k];
      if (k >= count - 1) v = values[count - 1];  // rounding past the last sample
      else if (interpolate == 1 && t != 0) v = values[k] + (static_cast<double>(values[k + 1]) - values[k]) * t;
      const double row = integer ? v * (h - 1) / fullScale : v * (1.0 / fullScale) * (h - 1);
      points[i].y = static_cast<int>(row + 0.5);
    }
    DrawPoints(colour, rop, style);
  }
  void DrawPoints(COLORREF colour, int rop, int style) {
    g.ResetMapping();
    ScopedPen pen(g.dc(), 1, colour);
    SetMapMode(g.dc(), MM_ANISOTROPIC);
    SetWindowExtEx(g.dc(), 1, 1, nullptr);
    SetViewportExtEx(g.dc(), 1, -1, nullptr);
    SetViewportOrgEx(g.dc(), 0, h - 1, nullptr);
    SetROP2(g.dc(), rop);
    if (style == Outline) {
      Polyline(g.dc(), points.data(), w);
      PlainPixel(points[w - 1].x, points[w - 1].y, colour, rop);
    } else if (style == Fill) {
      for (int i = 0; i < w; ++i) {
        MoveToEx(g.dc(), i, 0, nullptr);
        LineTo(g.dc(), i, points[i].y);
        PlainPixel(i, points[i].y, colour, rop);
      }
    } else if (style == Points) {
      for (const POINT& p : points) PlainPixel(p.x, p.y, colour, rop);
    }
  }
  void DrawScaledLine(int x1, int y1, int x2, int y2, COLORREF colour, int rop, int ex, int ey) {
    g.ResetMapping();
    ScopedPen pen(g.dc(), 1, colour);
    SetMapMode(g.dc(), MM_ANISOTROPIC);
    SetWindowExtEx(g.dc(), ex, ey, nullptr);
    SetViewportExtEx(g.dc(), w - 1, 1 - h, nullptr);
    SetViewportOrgEx(g.dc(), 0, h - 1, nullptr);
    SetROP2(g.dc(), rop);
    MoveToEx(g.dc(), x1, y1, nullptr);
    LineTo(g.dc(), x2, y2);
    PlainPixel(x2, y2, colour, rop);
  }

  GdiBitmap g;
  int w, h;
  std::vector<POINT> points;

 private:
  // Single pixels carry the plain colour; Wine's SetPixel would apply the raster operation.
  void PlainPixel(int x, int y, COLORREF colour, int rop) {
    SetROP2(g.dc(), R2_COPYPEN);
    SetPixel(g.dc(), x, y, colour);
    SetROP2(g.dc(), rop);
  }
};

void ExpectSame(GdiCanvas& theirs, PlotCanvas& ours, const std::string& what) {
  const std::vector<uint32_t> a = theirs.g.Pixels();
  const std::vector<uint32_t> b(ours.Pixels(), ours.Pixels() + static_cast<size_t>(ours.plotWidth) * ours.plotHeight);
  ASSERT_EQ(a, b) << what << ": " << FirstDifference(a, b, ours.plotWidth);
  for (int i = 0; i < ours.plotWidth; ++i) ASSERT_EQ(theirs.points[i].y, ours.points[i].y) << what << " point " << i;
}

constexpr COLORREF kBackground = 0x400000;
constexpr COLORREF kGrid = 0x005C00;
constexpr COLORREF kChannels[3] = {0x0000FF, 0x00FF00, 0xFF0000};

// A TV line: blanking, a step, a sine burst and a ramp, per channel, with noise.
std::vector<int32_t> Waveform(std::mt19937& rng, int n, int channel) {
  std::normal_distribution<double> noise(0, 3);
  std::vector<int32_t> v(n);
  for (int i = 0; i < n; ++i) {
    double level = 16;
    if (i > n / 10 && i < n / 3) level = 235 - 40 * channel;
    else if (i >= n / 3 && i < n / 2) level = 128 + 100 * std::sin(i * (0.2 + 0.1 * channel));
    else if (i >= n / 2 && i < n * 9 / 10) level = 16 + 219.0 * (i - n / 2) / (n * 2 / 5);
    v[i] = static_cast<int32_t>(std::lround(std::fmin(255, std::fmax(0, level + noise(rng)))));
  }
  return v;
}

TEST(Oracle, OscilloscopeDrawing) {
  std::mt19937 rng(6);
  for (auto size : {std::make_pair(640, 346), std::make_pair(37, 23), std::make_pair(700, 200)}) {
    const int w = size.first, h = size.second;
    GdiCanvas theirs(w, h);
    PlotCanvas ours(w, h);
    theirs.Clear(kBackground);
    ours.Clear(kBackground);
    theirs.DrawGrid(20, 16, kGrid);
    ours.DrawGrid(20, 16, kGrid);
    ExpectSame(theirs, ours, "grid");
    for (int count : {720, 640, 200}) {
      for (int ch = 0; ch < 3; ++ch) {
        const std::vector<int32_t> line = Waveform(rng, count, ch);
        theirs.PlotSeries(line.data(), count, kChannels[ch], R2_MERGEPEN, Outline, 1, 255, true);
        ours.PlotSeries(line.data(), count, kChannels[ch], kRopMergePen, Outline, 1, 255);
        ExpectSame(theirs, ours, "waveform " + std::to_string(w) + " count " + std::to_string(count));
      }
    }
    const int refs[4][4] = {{0, 16, 1000, 16}, {0, 235, 1000, 235}, {137, 0, 137, 255}, {863, 0, 863, 255}};
    for (const auto& r : refs) {
      theirs.DrawScaledLine(r[0], r[1], r[2], r[3], 0xFFFF00, R2_COPYPEN, 1000, 255);
      ours.DrawScaledLine(r[0], r[1], r[2], r[3], 0xFFFF00, kRopCopyPen, 1000, 255);
      ExpectSame(theirs, ours, "reference line");
    }
    // Slanted and out-of-range reference lines under both raster operations.
    std::uniform_int_distribution<int> lx(-500, 1500), ly(-128, 383);
    for (int n = 0; n < 200; ++n) {
      const int rop = n % 2 ? R2_MERGEPEN : R2_COPYPEN;
      const int x1 = lx(rng), y1 = ly(rng), x2 = lx(rng), y2 = ly(rng);
      const COLORREF c = RandomColour(rng);
      theirs.DrawScaledLine(x1, y1, x2, y2, c, rop, 1000, 255);
      ours.DrawScaledLine(x1, y1, x2, y2, c, rop, 1000, 255);
      ExpectSame(theirs, ours, "scaled line " + std::to_string(n));
    }
  }
}

TEST(Oracle, SpectrumDrawing) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 40);
  for (int sensitivity : {40, 20, 110}) {
    for (int style : {Outline, Fill, Points}) {
      GdiCanvas theirs(640, 346);
      PlotCanvas ours(640, 346);
      theirs.Clear(kBackground);
      ours.Clear(kBackground);
      const int rows = sensitivity <= 20 ? sensitivity / 2 : sensitivity <= 50 ? sensitivity / 5 : sensitivity / 10;
      theirs.DrawGrid(27, rows, kGrid);
      ours.DrawGrid(27, rows, kGrid);
      ExpectSame(theirs, ours, "spectrum grid");
      for (int ch = 0; ch < 3; ++ch) {
        std::vector<double> level(352);
        for (int k = 0; k < 352; ++k)
          level[k] = (sensitivity - 30 - 0.05 * k) * 10 + noise(rng) + (k % 40 == 0 ? 250 : 0);  // some below the floor
        theirs.PlotSeries(level.data(), 352, kChannels[ch], R2_MERGEPEN, style, 1, 10.0 * sensitivity, false);
        ours.PlotSeries(level.data(), 352, kChannels[ch], kRopMergePen, style, 1, 10.0 * sensitivity);
        ExpectSame(theirs, ours, "spectrum style " + std::to_string(style));
      }
    }
  }
}

TEST(Oracle, HistogramDrawing) {
  std::mt19937 rng(8);
  for (int style : {Outline, Fill, Points}) {
    for (auto size : {std::make_pair(640, 346), std::make_pair(200, 101), std::make_pair(256, 64)}) {
      GdiCanvas theirs(size.first, size.second);
      PlotCanvas ours(size.first, size.second);
      theirs.Clear(kBackground);
      ours.Clear(kBackground);
      theirs.DrawGrid(16, 0, kGrid);
      ours.DrawGrid(16, 0, kGrid);
      theirs.DrawLogGrid(3, 9, kGrid);
      ours.DrawLogGrid(3, 9, kGrid);
      ExpectSame(theirs, ours, "histogram grids");
      for (int ch = 0; ch < 3; ++ch) {
        std::vector<int> counts(256, 0);
        std::normal_distribution<double> level(60.0 + 70 * ch, 12.0 + 10 * ch);
        for (int s = 0; s < 720; ++s) ++counts[static_cast<int>(std::fmin(255, std::fmax(0, level(rng))))];
        std::vector<double> bins(256, 0.0);
        for (int b = 0; b < 256; ++b)
          if (counts[b]) bins[b] = 100.0 * std::log10(counts[b] * 1000.0 / 720);
        for (int interpolate : {1, 0}) {
          theirs.PlotSeries(bins.data(), 256, kChannels[ch], R2_MERGEPEN, style, interpolate, 300.0, false);
          ours.PlotSeries(bins.data(), 256, kChannels[ch], kRopMergePen, style, interpolate, 300.0);
          ExpectSame(theirs, ours, "histogram style " + std::to_string(style));
        }
      }
    }
  }
}

}  // namespace
