#include "plot/raster.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr uint32_t kBackground = 0x00123456;
constexpr uint32_t kInk = 0x00ABCDEF;

struct Bitmap {
  int width;
  int height;
  std::vector<uint32_t> pixels;
  Bitmap(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, kBackground) {}
  gdi::Surface surface() { return gdi::Surface{pixels.data(), width, height}; }
  Pixels Inked() const {
    Pixels out;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (pixels[static_cast<size_t>(y) * width + x] != kBackground) out.insert({x, y});
    return out;
  }
};

// ceil(n / d) for d > 0, written out independently of the raster.
long long Ceil(long long n, long long d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

// The ideal line, sampled once per major step with ties going to the smaller minor
// coordinate, end point left out; then everything outside the surface discarded.
Pixels IdealLine(int x0, int y0, int x1, int y1, int width, int height) {
  Pixels out;
  const long long dx = x1 - x0, dy = y1 - y0;
  const bool xMajor = std::llabs(dx) > std::llabs(dy);
  const long long major = xMajor ? std::llabs(dx) : std::llabs(dy);
  for (long long i = 0; i < major; ++i) {
    long long x, y;
    if (xMajor) {
      x = x0 + (dx > 0 ? i : -i);
      y = Ceil(2 * y0 * major + 2 * dy * i - major, 2 * major);  // ceil(exact - 1/2)
    } else {
      y = y0 + (dy > 0 ? i : -i);
      x = Ceil(2 * x0 * major + 2 * dx * i - major, 2 * major);
    }
    if (x >= 0 && y >= 0 && x < width && y < height) out.insert({static_cast<int>(x), static_cast<int>(y)});
  }
  return out;
}

Pixels Draw(int w, int h, int x0, int y0, int x1, int y1) {
  Bitmap b(w, h);
  gdi::Line(b.surface(), x0, y0, x1, y1, gdi::MakePen(kInk, 13));
  return b.Inked();
}

TEST(MulDiv, RoundsHalvesAwayFromZeroAndFailsWithMinusOne) {
  EXPECT_EQ(gdi::MulDiv(3, 5, 2), 8);
  EXPECT_EQ(gdi::MulDiv(-3, 5, 2), -8);
  EXPECT_EQ(gdi::MulDiv(5, 1, -2), -3);
  EXPECT_EQ(gdi::MulDiv(-5, 1, -2), 3);
  EXPECT_EQ(gdi::MulDiv(1, 1, 3), 0);
  EXPECT_EQ(gdi::MulDiv(2, 1, 3), 1);
  EXPECT_EQ(gdi::MulDiv(99, 100, 199), 50);
  EXPECT_EQ(gdi::MulDiv(7, 1, 0), -1);
  EXPECT_EQ(gdi::MulDiv(2147483647, 2, 1), -1);
  EXPECT_EQ(gdi::MulDiv(-2147483647 - 1, 1, 1), -1);  // outside +-2147483647
  EXPECT_EQ(gdi::MulDiv(2147483647, 2147483647, 2147483647), 2147483647);  // needs the 64-bit product
}

TEST(Mapping, RoundsLikeThePlatformWithAFloatScale) {
  struct Case { int viewport, window, logical, device; };
  const Case cases[] = {{-3, 10, 5, -2}, {7, 10, 5, 3}, {9, 10, 5, 4}, {-1, 10, 5, -1},
                        {1, 10, -5, -1}, {1, 2, 3, 2},  {-1, 2, 3, -1}, {1, 2, -3, -1}};
  for (const Case& c : cases) {
    const gdi::Mapping m = gdi::MakeMapping(c.window, c.window, c.viewport, c.viewport, 0, 0);
    EXPECT_EQ(gdi::MapX(m, c.logical), c.device) << c.viewport << "/" << c.window << " of " << c.logical;
    EXPECT_EQ(gdi::MapY(m, c.logical), c.device);
  }
  const gdi::Mapping flipped = gdi::MakeMapping(1, 1, 1, -1, 0, 99);
  EXPECT_EQ(gdi::MapPoint(flipped, {7, 0}).y, 99);
  EXPECT_EQ(gdi::MapPoint(flipped, {7, 99}).y, 0);
  EXPECT_EQ(gdi::MapPoint(flipped, {7, 5}).x, 7);
  // Far-off points are held at the coordinate limit instead of overflowing.
  EXPECT_EQ(gdi::MapX(gdi::MakeMapping(1, 1, 1000, 1, 0, 0), 2000000000), gdi::kCoordinateLimit);
}

TEST(RasterOps, CopyWritesThePenAndMergeOrs) {
  EXPECT_EQ(gdi::PixelFromColorref(0x00FF8040), 0x004080FFu);
  Bitmap b(4, 1);
  b.pixels = {0x00400000, 0x00400000, 0x00400000, 0x00400000};
  gdi::Line(b.surface(), 0, 0, 2, 0, gdi::MakePen(0x0000FF00, 15));  // green over dark red
  gdi::Line(b.surface(), 1, 0, 3, 0, gdi::MakePen(0x00FF0000, 15));  // then red
  EXPECT_EQ(b.pixels[0], 0x0040FF00u);
  EXPECT_EQ(b.pixels[1], 0x00FFFF00u);
  EXPECT_EQ(b.pixels[2], 0x00FF0000u);
  b.pixels[3] = 0x00FFFFFF;
  gdi::Line(b.surface(), 3, 0, 2, 0, gdi::MakePen(0x00000001, 13));
  EXPECT_EQ(b.pixels[3], 0x00000001u);
  // SetPixel ignores the raster operation; FillRect too.
  gdi::SetPixel(b.surface(), 0, 0, 0x00000002);
  EXPECT_EQ(b.pixels[0], 0x00000002u);
  // An unknown raster operation falls back to copy-pen.
  b.pixels[0] = 0x00FFFFFF;
  gdi::Line(b.surface(), 0, 0, 1, 0, gdi::MakePen(0x00000003, 99));
  EXPECT_EQ(b.pixels[0], 0x00000003u);
  // XOR twice restores.
  gdi::Line(b.surface(), 0, 0, 1, 0, gdi::MakePen(0x00F0F0F0, 7));
  gdi::Line(b.surface(), 0, 0, 1, 0, gdi::MakePen(0x00F0F0F0, 7));
  EXPECT_EQ(b.pixels[0], 0x00000003u);
}

// Slopes 1/2 and 2 from (100, 100), one line per octant: every other step is an exact tie,
// which goes to the smaller minor coordinate whichever way the line runs.
TEST(Lines, EightOctantTieCases) {
  struct Case { int x1, y1; std::vector<int> minor; };
  const std::vector<int> up = {100, 100, 101, 101, 102, 102, 103, 103};
  const std::vector<int> down = {100, 99, 99, 98, 98, 97, 97, 96};
  const Case cases[] = {{108, 104, up}, {108, 96, down}, {92, 104, up}, {92, 96, down},
                        {104, 108, up}, {104, 92, up},   {96, 108, down}, {96, 92, down}};
  for (const Case& c : cases) {
    const bool xMajor = std::abs(c.x1 - 100) > std::abs(c.y1 - 100);
    Pixels expected;
    for (int i = 0; i < 8; ++i) {
      const int major = 100 + ((xMajor ? c.x1 : c.y1) > 100 ? i : -i);
      expected.insert(xMajor ? std::make_pair(major, c.minor[i]) : std::make_pair(c.minor[i], major));
    }
    EXPECT_EQ(Draw(200, 200, 100, 100, c.x1, c.y1), expected) << "to " << c.x1 << "," << c.y1;
  }
}

TEST(Lines, StraightLinesDrawTheStartAndLeaveOutTheEnd) {
  EXPECT_EQ(Draw(20, 20, 3, 5, 7, 5), (Pixels{{3, 5}, {4, 5}, {5, 5}, {6, 5}}));
  EXPECT_EQ(Draw(20, 20, 7, 5, 3, 5), (Pixels{{7, 5}, {6, 5}, {5, 5}, {4, 5}}));
  EXPECT_EQ(Draw(20, 20, 5, 3, 5, 6), (Pixels{{5, 3}, {5, 4}, {5, 5}}));
  EXPECT_EQ(Draw(20, 20, 5, 6, 5, 3), (Pixels{{5, 6}, {5, 5}, {5, 4}}));
  EXPECT_EQ(Draw(20, 20, 4, 4, 4, 4), Pixels{});
  // Exact diagonal: both axes step every time.
  EXPECT_EQ(Draw(20, 20, 2, 2, 5, 5), (Pixels{{2, 2}, {3, 3}, {4, 4}}));
  EXPECT_EQ(Draw(20, 20, 5, 2, 2, 5), (Pixels{{5, 2}, {4, 3}, {3, 4}}));
}

TEST(Lines, PolylineDrawsInnerVerticesOnceAndNeverTheLastPoint) {
  Bitmap b(10, 10);
  const gdi::Point pts[] = {{1, 1}, {4, 1}, {4, 4}, {1, 1}};
  gdi::Polyline(b.surface(), pts, 4, gdi::MakePen(0x00000001, 7));  // XOR shows double writes
  int ink = 0;
  for (uint32_t p : b.pixels) ink += p != kBackground;
  EXPECT_EQ(ink, 3 + 3 + 3);
  EXPECT_NE(b.pixels[1 * 10 + 1], kBackground);  // first point, drawn once
  EXPECT_NE(b.pixels[1 * 10 + 4], kBackground);  // inner vertex
  EXPECT_NE(b.pixels[4 * 10 + 4], kBackground);
}

// Clipping must give the pixels of the whole line with the outside discarded: lines through
// and out of every edge and corner, from near and far.
TEST(Lines, ClippingKeepsThePixelsOfTheUnclippedLine) {
  const int w = 13, h = 9;
  std::mt19937 rng(4);
  for (int range : {3, 30, 3000}) {
    std::uniform_int_distribution<int> coord(-range, range + 13);
    for (int n = 0; n < 3000; ++n) {
      const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
      ASSERT_EQ(Draw(w, h, x0, y0, x1, y1), IdealLine(x0, y0, x1, y1, w, h))
          << x0 << "," << y0 << " -> " << x1 << "," << y1;
    }
  }
  // Each edge crossed by a straight line.
  EXPECT_EQ(Draw(w, h, -5, 2, 3, 2), (Pixels{{0, 2}, {1, 2}, {2, 2}}));
  EXPECT_EQ(Draw(w, h, 20, 2, 10, 2), (Pixels{{11, 2}, {12, 2}}));
  EXPECT_EQ(Draw(w, h, 2, -5, 2, 2), (Pixels{{2, 0}, {2, 1}}));
  EXPECT_EQ(Draw(w, h, 2, 50, 2, 7), (Pixels{{2, 8}}));
  EXPECT_EQ(Draw(w, h, -100, -100, -50, 20), Pixels{});
}

TEST(Lines, HugeCoordinatesAreSafe) {
  Bitmap b(16, 16);
  gdi::Line(b.surface(), -2147483647 - 1, 5, 2147483647, 6, gdi::MakePen(kInk, 13));
  gdi::Line(b.surface(), 3, -2147483647 - 1, 4, 2147483647, gdi::MakePen(kInk, 13));
  gdi::Line(b.surface(), 2147483647, 2147483647, -2147483647, -2147483647, gdi::MakePen(kInk, 13));
  EXPECT_FALSE(b.Inked().empty());
}

TEST(Fill, ClipsAndMirrorsInvertedRectangles) {
  Bitmap b(6, 4);
  gdi::FillRect(b.surface(), -2, 1, 4, 3, kInk);  // [-2, 4) x [1, 3)
  Pixels expected;
  for (int y = 1; y < 3; ++y)
    for (int x = 0; x < 4; ++x) expected.insert({x, y});
  EXPECT_EQ(b.Inked(), expected);
  Bitmap inverted(6, 4);
  gdi::FillRect(inverted.surface(), 4, 3, -2, 1, kInk);  // (-2, 4] x (1, 3]
  expected.clear();
  for (int y = 2; y < 4; ++y)
    for (int x = 0; x < 5; ++x) expected.insert({x, y});
  EXPECT_EQ(inverted.Inked(), expected);
}

}  // namespace
