#include "analysis/waveform.h"

#include "plot/plot_canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

// Population standard deviation, two passes, written out independently of the code under test.
double PopulationSigma(const std::vector<int32_t>& v, int first, int last) {
  long double mean = 0;
  for (int i = first; i <= last; ++i) mean += v[i];
  mean /= (last - first + 1);
  long double acc = 0;
  for (int i = first; i <= last; ++i) acc += (v[i] - mean) * (v[i] - mean);
  return static_cast<double>(std::sqrt(acc / (last - first + 1)));
}

std::vector<int32_t> NoisyFlatLine(int n, int level, double sigma, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<int32_t> v(n);
  for (int i = 0; i < n; ++i) {
    // Box-Muller on the raw generator output.
    const double u1 = (gen() + 1.0) / 4294967297.0, u2 = gen() / 4294967296.0;
    const double g = std::sqrt(-2 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    v[i] = level + static_cast<int32_t>(std::lround(sigma * g));
  }
  return v;
}

struct Rings {
  double storage[ChannelCount][kSnrRingLength] = {};
  double* rings[ChannelCount];
  int32_t index[ChannelCount] = {};
  Rings() {
    for (int c = 0; c < ChannelCount; ++c) rings[c] = storage[c];
  }
};

}  // namespace

TEST(WaveformInterval, MapsOverNMinusOneWithMulDivRounding) {
  SnrInterval a = WaveformInterval(720, 50, 950);
  EXPECT_EQ(a.first, 36);  // 50 * 719 / 1000 = 35.95
  EXPECT_EQ(a.last, 683);  // 950 * 719 / 1000 = 683.05
  EXPECT_EQ(a.count, 648);
  SnrInterval b = WaveformInterval(768, 50, 950);
  EXPECT_EQ(b.first, 38);  // 38.35
  EXPECT_EQ(b.last, 729);  // 728.65
  SnrInterval half = WaveformInterval(4, 500, 500);  // 1.5 rounds away from zero
  EXPECT_EQ(half.first, 2);
  EXPECT_EQ(half.count, 1);
}

TEST(WaveformInterval, HandEditedValuesStayInsideTheLine) {
  const int widths[] = {1, 2, 720, 1921};
  const int counts[] = {std::numeric_limits<int>::min(), -1, 0, 999, 1000, 1001, std::numeric_limits<int>::max()};
  for (int n : widths)
    for (int start : counts)
      for (int stop : counts) {
        SnrInterval r = WaveformInterval(n, start, stop);
        ASSERT_GE(r.first, 0);
        ASSERT_LE(r.last, n - 1);
        ASSERT_GE(r.count, 1);
        ASSERT_EQ(r.count, r.last - r.first + 1);
      }
  // An inverted pair measures at the start only.
  SnrInterval inv = WaveformInterval(1001, 600, 400);
  EXPECT_EQ(inv.first, 600);
  EXPECT_EQ(inv.count, 1);
}

TEST(ComputeSnr, MatchesTheoryForGaussianNoise) {
  const int n = 720;
  const SnrInterval iv = WaveformInterval(n, 50, 950);
  for (double sigma : {1.0, 2.0, 4.0, 8.0}) {
    std::vector<int32_t> line = NoisyFlatLine(n, 128, sigma, 1234 + static_cast<unsigned>(sigma));
    const double measured = PopulationSigma(line, iv.first, iv.last);
    ASSERT_GT(measured, 0.5 * sigma);
    double ring[kSnrRingLength] = {};
    int32_t index = 7;
    const double mean = ComputeSnr(line.data(), iv.first, iv.last, iv.count, ring, index, 235, 16);
    const double expected = 20 * std::log10(220.0 / measured);
    EXPECT_NEAR(ring[7], expected, 1e-9) << "sigma " << sigma;
    EXPECT_EQ(index, 8);
    EXPECT_NEAR(mean, expected / 50, 1e-9);
  }
}

TEST(ComputeSnr, FlatIntervalIsCappedByTheNoiseFloor) {
  std::vector<int32_t> flat(100, 77);
  double ring[kSnrRingLength] = {};
  int32_t index = 0;
  ComputeSnr(flat.data(), 10, 90, 81, ring, index, 235, 16);
  EXPECT_NEAR(ring[0], 75.7077, 5e-5);
  // One sample (StartCount == StopCount) is flat too.
  std::vector<int32_t> noisy = NoisyFlatLine(100, 128, 8, 3);
  ComputeSnr(noisy.data(), 40, 40, 1, ring, index, 235, 16);
  EXPECT_EQ(ring[1], ring[0]);
}

TEST(ComputeSnr, RingIsAPlainMeanOverAllFiftySlots) {
  double ring[kSnrRingLength] = {};
  int32_t index = 0;
  std::vector<double> entries;
  for (int frame = 0; frame < 130; ++frame) {
    std::vector<int32_t> line = NoisyFlatLine(200, 100, 1 + frame % 7, frame);
    const double mean = ComputeSnr(line.data(), 0, 199, 200, ring, index, 235, 16);
    entries.push_back(20 * std::log10(220.0 / PopulationSigma(line, 0, 199)));
    // Mean of the last 50 entries, unwritten slots counting as 0.
    double expected = 0;
    for (size_t k = entries.size() > 50 ? entries.size() - 50 : 0; k < entries.size(); ++k) expected += entries[k];
    expected /= 50;
    ASSERT_NEAR(mean, expected, 1e-9) << "frame " << frame;
    ASSERT_EQ(index, (frame + 1) % 50);
  }
  ClearSnrHistory(ring);
  for (double v : ring) EXPECT_EQ(v, 0.0);
}

TEST(ComputeSnr, BadInputsNeverPoisonTheRing) {
  std::vector<int32_t> line = NoisyFlatLine(50, 128, 3, 9);
  double ring[kSnrRingLength] = {};
  int32_t index = 0;
  // Inverted and out-of-range levels, an empty or inconsistent interval, a corrupt index.
  ComputeSnr(line.data(), 0, 49, 50, ring, index, 10, 200);
  ComputeSnr(line.data(), 0, 49, 50, ring, index, -5, 900);
  ComputeSnr(line.data(), 30, 20, -9, ring, index, 235, 16);
  ComputeSnr(line.data(), 0, 49, 0, ring, index, 235, 16);
  index = 12345;
  const double mean = ComputeSnr(line.data(), 0, 49, 50, ring, index, std::numeric_limits<int>::max(),
                                 std::numeric_limits<int>::min());
  EXPECT_EQ(index, 1);
  EXPECT_TRUE(std::isfinite(mean));
  for (double v : ring) EXPECT_TRUE(std::isfinite(v));
  // White below black: the numerator is 1 (white lifted to black).
  double r2[kSnrRingLength] = {};
  int32_t i2 = 0;
  ComputeSnr(line.data(), 0, 49, 50, r2, i2, 10, 200);
  EXPECT_NEAR(r2[0], 20 * std::log10(1.0 / PopulationSigma(line, 0, 49)), 1e-9);
}

TEST(MeasureWaveform, ColourSpacesKeepTheirOwnRingsAndHiddenChannelsAreMeasured) {
  const int n = 64;
  std::vector<std::vector<int32_t>> lines;
  int32_t* channels[ChannelCount];
  for (int c = 0; c < ChannelCount; ++c) {
    lines.push_back(NoisyFlatLine(n, 100 + c, 1 + c, 50 + c));
    channels[c] = lines[c].data();
  }
  Rings r;
  double display[3] = {};
  AnalysisSettings s{};
  s.WhiteLevel = 235, s.BlackLevel = 16, s.StartCount = 0, s.StopCount = 1000;
  s.RColor = 1, s.GColor = 0, s.BColor = 0;  // G and B hidden: still measured
  auto entry = [&](int c) { return 20 * std::log10(220.0 / PopulationSigma(lines[c], 0, n - 1)); };

  for (int frame = 0; frame < 3; ++frame) MeasureWaveform(s, n, channels, r.rings, r.index, display);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(r.index[c], 3);
    EXPECT_NEAR(display[c], 3 * entry(c) / 50, 1e-9);
    EXPECT_EQ(r.index[c + 3], 0);
  }
  s.ColorMode = 1;
  MeasureWaveform(s, n, channels, r.rings, r.index, display);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(display[c], entry(c + 3) / 50, 1e-9);
  s.ColorMode = 0;
  MeasureWaveform(s, n, channels, r.rings, r.index, display);
  EXPECT_NEAR(display[0], 4 * entry(0) / 50, 1e-9);

  // A channel change zeroes the rings but the write positions carry on.
  for (double* ring : r.rings) ClearSnrHistory(ring);
  MeasureWaveform(s, n, channels, r.rings, r.index, display);
  EXPECT_EQ(r.index[0], 5);
  EXPECT_NEAR(display[0], entry(0) / 50, 1e-9);
  EXPECT_EQ(r.rings[0][0], 0.0);
  EXPECT_NEAR(r.rings[0][4], entry(0), 1e-9);
}

namespace {

// Pixels are 0x00RRGGBB.
constexpr uint32_t kBg = 0x000040, kGrid = 0x005C00, kCyan = 0x00FFFF, kRed = 0xFF0000, kBlue = 0x0000FF;

struct Page {
  static constexpr int n = 101;
  std::vector<std::vector<int32_t>> lines = std::vector<std::vector<int32_t>>(ChannelCount, std::vector<int32_t>(n));
  int32_t* channels[ChannelCount];
  Rings r;
  double display[3] = {};
  PlotCanvas canvas{101, 52};  // logical 1000 x 255 maps to 0.1 column and 0.2 row per unit
  Page() {
    for (int c = 0; c < ChannelCount; ++c) channels[c] = lines[c].data();
  }
  void Render(const AnalysisSettings& s) { RenderWaveform(s, n, channels, r.rings, r.index, display, canvas); }
  bool ColumnIs(int x, uint32_t p) const {
    for (int y = 0; y < canvas.plotHeight; ++y)
      if (canvas.PixelAt(x, y) != p) return false;
    return true;
  }
  bool RowIs(int y, uint32_t p) const {
    for (int x = 0; x < canvas.plotWidth; ++x)
      if (canvas.PixelAt(x, y) != p) return false;
    return true;
  }
};

AnalysisSettings ScopeSettings() {
  AnalysisSettings s{};
  s.RColor = 1, s.GColor = 0, s.BColor = 1, s.YColor = 1, s.UColor = 1, s.VColor = 1;
  s.WhiteLevel = 235, s.BlackLevel = 16, s.StartCount = 50, s.StopCount = 950;
  return s;
}

}  // namespace

TEST(RenderWaveform, TracesMergeAndReferenceLinesCoverThem) {
  Page page;
  for (int i = 0; i < Page::n; ++i) {
    page.lines[ChannelR][i] = 200;  // row 51 - trunc(200 * 51 / 255 + 0.5) = 11
    page.lines[ChannelG][i] = 100;  // hidden
    page.lines[ChannelB][i] = 200;
  }
  page.Render(ScopeSettings());
  const PlotCanvas& c = page.canvas;
  EXPECT_EQ(c.PixelAt(12, 20), kBg);
  EXPECT_EQ(c.PixelAt(12, 0), kGrid);
  EXPECT_EQ(c.PixelAt(12, 11), kRed | kBlue | kBg);    // two traces merged with the background
  EXPECT_EQ(c.PixelAt(10, 11), kRed | kBlue | kGrid);  // ... and with a grid column
  EXPECT_EQ(c.PixelAt(12, 31), kBg);                   // where G would be: it is hidden
  // Interval start and stop (columns 5 and 95), black and white levels (rows 48 and 4): copy-pen cyan,
  // drawn over everything, end points included.
  EXPECT_TRUE(page.ColumnIs(5, kCyan));
  EXPECT_TRUE(page.ColumnIs(95, kCyan));
  EXPECT_TRUE(page.RowIs(48, kCyan));
  EXPECT_TRUE(page.RowIs(4, kCyan));
  EXPECT_NEAR(page.display[0], 75.7077 / 50, 1e-5);  // flat line: capped ratio, first frame
}

TEST(RenderWaveform, YuvColoursAndClampedReferenceLines) {
  Page page;
  for (int i = 0; i < Page::n; ++i) page.lines[ChannelY][i] = 200;
  AnalysisSettings s = ScopeSettings();
  s.ColorMode = 1;
  s.UColor = s.VColor = 0;
  s.StartCount = -500, s.StopCount = 5000, s.BlackLevel = -20, s.WhiteLevel = 999;
  page.Render(s);
  EXPECT_EQ(page.canvas.PixelAt(12, 11), 0xFFFFFFu);  // Y is white
  EXPECT_TRUE(page.ColumnIs(0, kCyan));
  EXPECT_TRUE(page.ColumnIs(100, kCyan));
  EXPECT_TRUE(page.RowIs(51, kCyan));
  EXPECT_TRUE(page.RowIs(0, kCyan));
  for (double v : page.display) EXPECT_TRUE(std::isfinite(v));
}
