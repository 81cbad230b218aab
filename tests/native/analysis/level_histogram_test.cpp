#include "analysis/level_histogram.h"

#include "plot/plot_canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

TEST(ComputeLevelHistogram, LogPercentOfTheLine) {
  double bins[kHistogramBins];
  std::vector<int32_t> flat(720, 93);
  ComputeLevelHistogram(flat.data(), 720, bins);
  for (int b = 0; b < kHistogramBins; ++b) ASSERT_NEAR(bins[b], b == 93 ? 300.0 : 0.0, 1e-12) << b;

  flat[5] = 255;  // one sample in 720
  ComputeLevelHistogram(flat.data(), 720, bins);
  EXPECT_NEAR(bins[255], 14.27, 0.005);
  EXPECT_NEAR(bins[93], 100 * std::log10(719 * 1000.0 / 720), 1e-12);

  std::vector<int32_t> wide(2000, 0);  // one sample in 2000: below 0.1 %
  wide[1999] = 17;
  ComputeLevelHistogram(wide.data(), 2000, bins);
  EXPECT_NEAR(bins[17], 100 * std::log10(0.5), 1e-12);
  EXPECT_LT(bins[17], 0.0);
}

TEST(ComputeLevelHistogram, SamplesOutsideTheLevelsAreNotCounted) {
  const int32_t line[] = {-1, 256, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0, 255,
                          1000, 255};
  double bins[kHistogramBins];
  ComputeLevelHistogram(line, 8, bins);
  EXPECT_NEAR(bins[0], 100 * std::log10(1000.0 / 8), 1e-12);
  EXPECT_NEAR(bins[255], 100 * std::log10(2000.0 / 8), 1e-12);
  for (int b = 1; b < 255; ++b) ASSERT_EQ(bins[b], 0.0);
  ComputeLevelHistogram(line, 0, bins);  // an empty line: every bin empty
  for (double v : bins) ASSERT_EQ(v, 0.0);
}

TEST(RenderLevelHistogram, FillOnTheLogGrid) {
  std::vector<std::vector<int32_t>> lines(ChannelCount, std::vector<int32_t>(720, 100));
  int32_t* channels[ChannelCount];
  for (int c = 0; c < ChannelCount; ++c) channels[c] = lines[c].data();
  double bins[kHistogramBins];
  PlotCanvas canvas(256, 31);  // column = level; 300 maps to row 0, 0 to row 30
  AnalysisSettings s{};
  s.RColor = 1, s.LevDiagMode = Fill;
  RenderLevelHistogram(s, 720, channels, bins, canvas);
  const uint32_t red = 0xF00000, bg = 0x000040, grid = 0x005C00;
  EXPECT_EQ(canvas.PixelAt(100, 0), red);         // 100 % of the samples: the top row, plain
  EXPECT_EQ(canvas.PixelAt(100, 18), red | bg);   // the bar, merged
  EXPECT_EQ(canvas.PixelAt(100, 30), red | grid); // bar start on the bottom (1 = 0.1 %) grid line
  EXPECT_EQ(canvas.PixelAt(101, 18), bg);
  EXPECT_EQ(canvas.PixelAt(101, 30), red);        // empty level: zero-length bar, plain point
  EXPECT_EQ(canvas.PixelAt(101, 15), grid);       // the 3 % line: 30 - trunc(10 * log10(30) + 0.5)
  EXPECT_EQ(canvas.PixelAt(101, 16), bg);
}
