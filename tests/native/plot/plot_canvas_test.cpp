#include "plot/plot_canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr uint32_t kBlueBack = 0x400000;  // COLORREF dark blue
constexpr uint32_t kBlueBackPixel = 0x00000040;
constexpr uint32_t kGridGreen = 0x005C00;
constexpr uint32_t kGridPixel = 0x00005C00;
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kRedPixel = 0x00FF0000;

std::set<int> InkedRows(const PlotCanvas& c, int x, uint32_t background) {
  std::set<int> rows;
  for (int y = 0; y < c.plotHeight; ++y)
    if (c.PixelAt(x, y) != background) rows.insert(y);
  return rows;
}

std::set<int> InkedColumns(const PlotCanvas& c, int y, uint32_t background) {
  std::set<int> cols;
  for (int x = 0; x < c.plotWidth; ++x)
    if (c.PixelAt(x, y) != background) cols.insert(x);
  return cols;
}

TEST(PlotCanvas, StartsBlackWithOnePointPerColumn) {
  PlotCanvas c(7, 5);
  EXPECT_EQ(c.plotWidth, 7);
  EXPECT_EQ(c.plotHeight, 5);
  EXPECT_EQ(c.clientRect.left, 0);
  EXPECT_EQ(c.clientRect.top, 0);
  EXPECT_EQ(c.clientRect.right, 7);
  EXPECT_EQ(c.clientRect.bottom, 5);
  ASSERT_EQ(c.points.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(c.points[i].x, i);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(c.PixelAt(x, y), 0u);

  std::vector<uint32_t> outside(12, 0xFFFFFFFF);
  PlotCanvas over(outside.data(), 4, 3, nullptr, nullptr);
  for (uint32_t p : outside) EXPECT_EQ(p, 0u);
  over.Clear(kBlueBack);
  for (uint32_t p : outside) EXPECT_EQ(p, kBlueBackPixel);
}

TEST(PlotCanvas, PresentHandsOverThePixels) {
  struct Seen { const uint32_t* pixels = nullptr; int w = 0, h = 0, calls = 0; } seen;
  std::vector<uint32_t> bits(6);
  PlotCanvas c(bits.data(), 3, 2, [](void* ctx, const uint32_t* p, int w, int h) {
    auto* s = static_cast<Seen*>(ctx);
    s->pixels = p; s->w = w; s->h = h; ++s->calls;
  }, &seen);
  c.Present();
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.pixels, bits.data());
  EXPECT_EQ(seen.w, 3);
  EXPECT_EQ(seen.h, 2);
  PlotCanvas native(3, 2);
  native.Present();  // nothing to present to: no effect
}

TEST(Grid, TwentyColumnsOn640PixelsAndRowsFromTopToBottom) {
  PlotCanvas c(640, 100);
  c.Clear(kBlueBack);
  c.DrawGrid(20, 4, kGridGreen);
  const std::set<int> columns = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320,
                                 351, 383, 415, 447, 479, 511, 543, 575, 607, 639};
  EXPECT_EQ(InkedColumns(c, 10, kBlueBackPixel), columns);
  EXPECT_EQ(InkedRows(c, 10, kBlueBackPixel), (std::set<int>{0, 25, 50, 74, 99}));  // 99 * k / 4
  EXPECT_EQ(c.PixelAt(32, 60), kGridPixel);
  EXPECT_EQ(c.PixelAt(639, 99), kGridPixel);
}

TEST(Grid, ZeroDivisionsDrawNothingInThatDirection) {
  PlotCanvas c(50, 40);
  c.Clear(kBlueBack);
  c.DrawGrid(0, 0, kGridGreen);
  c.DrawGrid(-3, -3, kGridGreen);
  for (int y = 0; y < 40; ++y) EXPECT_TRUE(InkedColumns(c, y, kBlueBackPixel).empty());
  c.DrawGrid(0, 2, kGridGreen);
  EXPECT_EQ(InkedRows(c, 25, kBlueBackPixel), (std::set<int>{0, 20, 39}));  // 19.5 rounds up
  EXPECT_EQ(InkedColumns(c, 10, kBlueBackPixel), std::set<int>{});
}

TEST(Grid, LogGridSitsAtTheLogarithmicHeights) {
  PlotCanvas c(20, 301);  // 100 rows per decade
  c.Clear(kBlueBack);
  c.DrawLogGrid(3, 9, kGridGreen);
  const std::set<int> rows = InkedRows(c, 5, kBlueBackPixel);
  EXPECT_EQ(rows.size(), 28u);  // 27 lines and the top row
  // log10 2 = 0.301 -> 30, log10 3 = 0.477 -> 48, log10 5 = 0.699 -> 70, log10 9 = 0.954 -> 95
  for (int row : {300, 270, 252, 230, 205, 200, 170, 100, 5, 0}) EXPECT_TRUE(rows.count(row)) << row;
  EXPECT_EQ(InkedColumns(c, 270, kBlueBackPixel).size(), 20u);
}

TEST(Traces, CountEqualToWidthShowsSampleIPerColumn) {
  PlotCanvas c(8, 11);
  const int32_t values[8] = {0, 10, 3, 7, 5, 5, 9, 1};
  c.PlotSeries(values, 8, kRed, kRopCopyPen, Points, 1, 10);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(c.points[i].y, values[i]);
    EXPECT_EQ(c.PixelAt(i, 10 - values[i]), kRedPixel);
  }
}

TEST(Traces, ColumnMappingInterpolatesBetweenSamples) {
  PlotCanvas wide(5, 101);
  const int32_t three[3] = {0, 40, 100};
  wide.PlotSeries(three, 3, kRed, kRopCopyPen, Points, 1, 100);  // x = 0, .5, 1, 1.5, 2
  const int expected[5] = {0, 20, 40, 70, 100};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(wide.points[i].y, expected[i]) << i;
  wide.PlotSeries(three, 3, kRed, kRopCopyPen, Points, 0, 100);  // no interpolation: floor
  const int held[5] = {0, 0, 40, 40, 100};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(wide.points[i].y, held[i]) << i;

  PlotCanvas narrow(4, 101);
  const double eight[8] = {0, 10, 20, 30, 40, 50, 60, 70};
  narrow.PlotSeries(eight, 8, kRed, kRopCopyPen, Points, 1, 100.0);  // x = 2i + 0.5
  for (int i = 0; i < 4; ++i) EXPECT_EQ(narrow.points[i].y, 20 * i + 5) << i;

  // Rounding to the nearest row: 150 / 300 of 10 rows = 5; 44 / 300 of 10 = 1.47 -> 1.
  PlotCanvas small(2, 11);
  const double v[2] = {150.0, 44.0};
  small.PlotSeries(v, 2, kRed, kRopCopyPen, Points, 1, 300.0);
  EXPECT_EQ(small.points[0].y, 5);
  EXPECT_EQ(small.points[1].y, 1);
}

// The last column may land a rounding error past the last sample; the sample after it must
// never be read (a NaN sentinel there would turn the point into garbage).
TEST(Traces, NeverReadsPastTheLastSample) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int width = 2; width < 90; ++width) {
    PlotCanvas c(width, 50);
    for (int count = 1; count < 200; count += 7) {
      std::vector<double> values(static_cast<size_t>(count) + 1, 10.0);
      values[count] = nan;
      c.PlotSeries(values.data(), count, kRed, kRopMergePen, Outline, 1, 49.0);
      for (int i = 0; i < width; ++i) ASSERT_EQ(c.points[i].y, 10) << width << " " << count << " " << i;
    }
  }
}

TEST(Traces, FillBarsRunFromTheBottomRowAndEndWithThePlainColour) {
  PlotCanvas c(4, 10);
  c.Clear(kBlueBack);
  c.points[0].y = -5;  // below the bottom: only the bottom row, merged
  c.points[1].y = 0;   // on the bottom row: just that pixel, plain
  c.points[2].y = 3;   // rows 9, 8, 7 merged, row 6 plain
  c.points[3].y = 40;  // above the top: the whole column merged
  c.DrawPoints(kRed, kRopMergePen, Fill);
  const uint32_t merged = kBlueBackPixel | kRedPixel;
  EXPECT_EQ(InkedRows(c, 0, kBlueBackPixel), std::set<int>{9});
  EXPECT_EQ(c.PixelAt(0, 9), merged);
  EXPECT_EQ(InkedRows(c, 1, kBlueBackPixel), std::set<int>{9});
  EXPECT_EQ(c.PixelAt(1, 9), kRedPixel);
  EXPECT_EQ(InkedRows(c, 2, kBlueBackPixel), (std::set<int>{6, 7, 8, 9}));
  EXPECT_EQ(c.PixelAt(2, 7), merged);
  EXPECT_EQ(c.PixelAt(2, 6), kRedPixel);
  EXPECT_EQ(InkedRows(c, 3, kBlueBackPixel).size(), 10u);
  EXPECT_EQ(c.PixelAt(3, 0), merged);
}

// The row-by-row fill must equal the bars drawn column by column, for a raster operation where
// writing a pixel twice would show (XOR) as well as the ones the plots use.
TEST(Traces, FillMatchesColumnByColumnBars) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> height(-8, 40);
  std::uniform_int_distribution<uint32_t> colour(0, 0xFFFFFF);
  for (int rop : {kRopCopyPen, kRopMergePen, 7}) {
    for (int round = 0; round < 20; ++round) {
      PlotCanvas c(37, 31);
      std::vector<uint32_t> expected(37 * 31);
      for (size_t p = 0; p < expected.size(); ++p) c.Pixels()[p] = expected[p] = colour(rng);
      for (PlotPoint& p : c.points) p.y = height(rng);
      const uint32_t ink = 0x00A1B2C3;  // COLORREF; pixel 0x00C3B2A1
      const uint32_t pen = 0x00C3B2A1;
      for (int i = 0; i < 37; ++i) {
        const int top = 30 - c.points[i].y;
        auto apply = [&](int row) {
          uint32_t& d = expected[row * 37 + i];
          d = rop == kRopCopyPen ? pen : rop == kRopMergePen ? (d | pen) : (d ^ pen);
        };
        if (top < 30) {
          for (int row = 30; row > top && row >= 0; --row) apply(row);
        } else if (top > 30) {
          apply(30);
        }
        if (top >= 0 && top <= 30) expected[top * 37 + i] = pen;
      }
      c.DrawPoints(ink, rop, Fill);
      ASSERT_EQ(std::vector<uint32_t>(c.Pixels(), c.Pixels() + 37 * 31), expected) << rop << " " << round;
    }
  }
}

TEST(Traces, OutlineEndsWithThePlainColourAndOverlapsAddUp) {
  PlotCanvas c(5, 5);
  c.Clear(kBlueBack);
  for (PlotPoint& p : c.points) p.y = 2;
  c.DrawPoints(kRed, kRopMergePen, Outline);
  c.DrawPoints(0x00FF00, kRopMergePen, Outline);  // green over red: yellow
  for (int x = 0; x < 4; ++x) EXPECT_EQ(c.PixelAt(x, 2), kBlueBackPixel | 0x00FFFF00) << x;
  EXPECT_EQ(c.PixelAt(4, 2), 0x0000FF00u);  // last point: plain green over the plain red
  EXPECT_EQ(InkedRows(c, 1, kBlueBackPixel), std::set<int>{2});
}

TEST(Traces, OtherStylesAndBadInputDrawNothing) {
  const int32_t values[4] = {1, 2, 3, 4};
  PlotCanvas c(6, 6);
  c.Clear(kBlueBack);
  c.PlotSeries(values, 4, kRed, kRopMergePen, 3, 1, 4);
  c.PlotSeries(values, 4, kRed, kRopMergePen, -1, 1, 4);
  c.PlotSeries(values, 0, kRed, kRopMergePen, Outline, 1, 4);
  c.PlotSeries(static_cast<const int32_t*>(nullptr), 4, kRed, kRopMergePen, Outline, 1, 4);
  c.PlotSeries(static_cast<const double*>(nullptr), 4, kRed, kRopMergePen, Outline, 1, 4.0);
  c.DrawScaledLine(0, 0, 10, 10, kRed, kRopCopyPen, 0, 10);
  for (int y = 0; y < 6; ++y) EXPECT_TRUE(InkedColumns(c, y, kBlueBackPixel).empty());
  // A zero full scale must not crash either.
  c.PlotSeries(values, 4, kRed, kRopMergePen, Fill, 1, 0);
  const double two[2] = {1, 2};
  c.PlotSeries(two, 2, kRed, kRopMergePen, Outline, 1, 0.0);
}

TEST(Traces, CanvasesBelowTwoPixelsDrawNothing) {
  const double values[3] = {1, 2, 3};
  for (auto size : {std::make_pair(1, 40), std::make_pair(40, 1), std::make_pair(0, 0)}) {
    PlotCanvas c(size.first, size.second);
    c.Clear(kBlueBack);
    c.DrawGrid(4, 4, kGridGreen);
    c.DrawLogGrid(3, 9, kGridGreen);
    c.PlotSeries(values, 3, kRed, kRopMergePen, Fill, 1, 3.0);
    c.DrawPoints(kRed, kRopMergePen, Outline);
    c.DrawScaledLine(0, 0, 1000, 255, kRed, kRopCopyPen, 1000, 255);
    for (int y = 0; y < c.plotHeight; ++y) EXPECT_TRUE(InkedColumns(c, y, kBlueBackPixel).empty());
  }
}

TEST(ScaledLine, MapsTheLogicalSpaceOntoTheWholeCanvas) {
  PlotCanvas c(640, 346);
  c.Clear(kBlueBack);
  // Level 16 of 255: 345 - 16 * 345 / 255 = 323.35 -> row 323; x 1000 -> column 639.
  c.DrawScaledLine(0, 16, 1000, 16, 0xFFFF00, kRopCopyPen, 1000, 255);
  EXPECT_EQ(InkedColumns(c, 323, kBlueBackPixel).size(), 640u);
  EXPECT_EQ(c.PixelAt(639, 323), 0x0000FFFFu);
  // A vertical at x = 500 of 1000: exactly 319.5, but the scale 0.639 held as a float is a hair
  // smaller, so column 319; from the bottom row to the top row.
  c.DrawScaledLine(500, 0, 500, 255, 0xFFFF00, kRopCopyPen, 1000, 255);
  EXPECT_EQ(InkedRows(c, 319, kBlueBackPixel).size(), 346u);
  EXPECT_EQ(InkedRows(c, 320, kBlueBackPixel), std::set<int>{323});
}

}  // namespace
