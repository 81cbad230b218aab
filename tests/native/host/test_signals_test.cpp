#include "host/test_signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "plugin/host_contract.h"

namespace {

std::vector<uint8_t> Frame(TestSignal signal, int width, int height, int format, double sigma = 0.0,
                           uint64_t seed = 1) {
  std::vector<uint8_t> f(FrameBytes(width, height, format));
  FillTestSignal(signal, f.data(), width, height, format, sigma, seed);
  return f;
}

// Published 75 % colour bar levels, BT.601 studio range: Y, Cb, Cr from white to black.
const int kBarsYCbCr[8][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                              {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
// The same bars as full-range R, G, B.
const int kBarsRgb[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                            {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};

TEST(TestSignalsTest, ColourBarsHaveTheStandardLevelsInBothFormats) {
  const int width = 720, height = 5;  // 90 pixels per bar
  const auto yuy2 = Frame(TestSignal::Bars, width, height, PixelFormatYuy2);
  const auto bgr = Frame(TestSignal::Bars, width, height, PixelFormatBgr24);
  for (int row = 0; row < height; ++row) {
    for (int bar = 0; bar < 8; ++bar) {
      SCOPED_TRACE(testing::Message() << "row " << row << " bar " << bar);
      const int x = bar * 90 + 44;  // an even pixel in the middle of the bar
      const uint8_t* p = &yuy2[size_t(row) * width * 2 + size_t(x) * 2];
      EXPECT_EQ(p[0], kBarsYCbCr[bar][0]);
      EXPECT_EQ(p[1], kBarsYCbCr[bar][1]);
      EXPECT_EQ(p[2], kBarsYCbCr[bar][0]);
      EXPECT_EQ(p[3], kBarsYCbCr[bar][2]);
      const uint8_t* q = &bgr[size_t(row) * width * 3 + size_t(x) * 3];
      EXPECT_EQ(q[0], kBarsRgb[bar][2]);
      EXPECT_EQ(q[1], kBarsRgb[bar][1]);
      EXPECT_EQ(q[2], kBarsRgb[bar][0]);
    }
  }
}

TEST(TestSignalsTest, BarsSplitTheLineIntoEightEqualParts) {
  // 16 pixels: two per bar, so every pixel's luma is its own bar's.
  const auto f = Frame(TestSignal::Bars, 16, 1, PixelFormatYuy2);
  for (int x = 0; x < 16; ++x) EXPECT_EQ(f[size_t(x) * 2], kBarsYCbCr[x / 2][0]) << "pixel " << x;
}

TEST(TestSignalsTest, GeneratorsWriteExactlyTheFrameForOddAndTinySizes) {
  const TestSignal signals[] = {TestSignal::Bars, TestSignal::Noise, TestSignal::Ramp, TestSignal::Multiburst};
  const int sizes[][2] = {{1, 1}, {2, 1}, {3, 2}, {7, 3}, {9, 1}, {721, 2}};
  for (int format : {int(PixelFormatYuy2), int(PixelFormatBgr24)}) {
    for (const auto& s : sizes) {
      const size_t bytes = FrameBytes(s[0], s[1], format);
      ASSERT_EQ(bytes, size_t(s[0]) * s[1] * (format == PixelFormatYuy2 ? 2 : 3));
      for (TestSignal signal : signals) {
        std::vector<uint8_t> buffer(bytes + 64, 0xA5);
        FillTestSignal(signal, buffer.data(), s[0], s[1], format, 3.0, 7);
        for (size_t i = bytes; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xA5) << "wrote past the frame";
      }
    }
  }
}

TEST(TestSignalsTest, FrameBytesRejectsWhatCannotBeAFrame) {
  EXPECT_EQ(FrameBytes(720, 576, PixelFormatYuy2), 720u * 576 * 2);
  EXPECT_EQ(FrameBytes(720, 576, PixelFormatBgr24), 720u * 576 * 3);
  EXPECT_EQ(FrameBytes(0, 576, PixelFormatYuy2), 0u);
  EXPECT_EQ(FrameBytes(720, -1, PixelFormatYuy2), 0u);
  EXPECT_EQ(FrameBytes(720, 576, 2), 0u);
  EXPECT_EQ(FrameBytes(1 << 20, 1 << 20, PixelFormatBgr24), 0u);
  std::vector<uint8_t> untouched(16, 9);
  FillColourBars(untouched.data(), 720, 576, 7);  // unknown format: nothing written
  for (uint8_t b : untouched) EXPECT_EQ(b, 9);
}

TEST(TestSignalsTest, RampRisesFromBlackToWhite) {
  const int width = 333;
  const auto yuy2 = Frame(TestSignal::Ramp, width, 2, PixelFormatYuy2);
  const auto bgr = Frame(TestSignal::Ramp, width, 2, PixelFormatBgr24);
  EXPECT_EQ(yuy2[0], 16);
  EXPECT_EQ(yuy2[size_t(width - 1) * 2], 235);
  EXPECT_EQ(bgr[0], 0);
  EXPECT_EQ(bgr[size_t(width - 1) * 3], 255);
  for (int x = 1; x < width; ++x) {
    EXPECT_LE(yuy2[size_t(x - 1) * 2], yuy2[size_t(x) * 2]) << x;
    EXPECT_LE(bgr[size_t(x - 1) * 3], bgr[size_t(x) * 3]) << x;
    EXPECT_EQ(bgr[size_t(x) * 3], bgr[size_t(x) * 3 + 1]);
    EXPECT_EQ(bgr[size_t(x) * 3], bgr[size_t(x) * 3 + 2]);
  }
  for (int x = 0; x + 1 < width; x += 2) {
    EXPECT_EQ(yuy2[size_t(x) * 2 + 1], 128);
    EXPECT_EQ(yuy2[size_t(x) * 2 + 3], 128);
  }
}

// Counts sign changes of (level - mid) over the pixels whose centres lie in [from, to) us.
int ZeroCrossings(const std::vector<int>& levels, double mid, double fromUs, double toUs) {
  const int width = int(levels.size());
  int count = 0, last = 0;
  for (int x = 0; x < width; ++x) {
    const double t = (x + 0.5) * 52.0 / width;
    if (t < fromUs || t >= toUs) continue;
    const int sign = levels[size_t(x)] > mid ? 1 : -1;
    if (last != 0 && sign != last) ++count;
    last = sign;
  }
  return count;
}

TEST(TestSignalsTest, MultiburstCarriesItsSixFrequencies) {
  const double mhz[6] = {0.5, 1.0, 2.0, 3.0, 4.2, 5.8};
  for (int width : {720, 1920}) {
    for (int format : {int(PixelFormatYuy2), int(PixelFormatBgr24)}) {
      SCOPED_TRACE(testing::Message() << "width " << width << " format " << format);
      const auto f = Frame(TestSignal::Multiburst, width, 1, format);
      const int step = format == PixelFormatYuy2 ? 2 : 3;
      std::vector<int> levels(static_cast<size_t>(width));
      for (int x = 0; x < width; ++x) levels[size_t(x)] = f[size_t(x) * step];
      const double mid = format == PixelFormatYuy2 ? 125.5 : 127.5;  // 50 % grey, never hit exactly
      // Flag: white, then black.
      EXPECT_EQ(levels[size_t(2.5 / 52.0 * width)], format == PixelFormatYuy2 ? 235 : 255);
      EXPECT_EQ(levels[size_t(5.5 / 52.0 * width)], format == PixelFormatYuy2 ? 16 : 0);
      for (int k = 0; k < 6; ++k) {
        const double start = 9.0 + 7.0 * k;
        // A sine of f MHz crosses its middle 2 f times per microsecond; the window's edges
        // fall between pixels, so allow two crossings (neighbouring bursts differ by six).
        const double expected = 2.0 * mhz[k] * 6.0;
        EXPECT_NEAR(ZeroCrossings(levels, mid, start, start + 6.0), expected, 2.0) << "burst " << k;
      }
      // Between the bursts the line rests at 50 % grey.
      EXPECT_EQ(ZeroCrossings(levels, mid, 15.2, 15.8), 0);
    }
  }
}

TEST(TestSignalsTest, SplitMix64MatchesItsPublishedSequence) {
  SplitMix64 a{0};
  EXPECT_EQ(a.Next(), 0xE220A8397B1DCDAFull);
  EXPECT_EQ(a.Next(), 0x6E789E6AA1B965F4ull);
  EXPECT_EQ(a.Next(), 0x06C45D188009454Full);
  SplitMix64 b{1234567};
  EXPECT_EQ(b.Next(), 6457827717110365317ull);
  EXPECT_EQ(b.Next(), 3203168211198807973ull);
  EXPECT_EQ(b.Next(), 9817491932198370423ull);
}

struct Moments {
  double mean, sigma, withinOneSigma;
};

Moments Measure(const std::vector<uint8_t>& f, size_t first, size_t step) {
  double sum = 0, sum2 = 0;
  size_t n = 0;
  for (size_t i = first; i < f.size(); i += step, ++n) sum += f[i];
  const double mean = sum / double(n);
  for (size_t i = first; i < f.size(); i += step) sum2 += (f[i] - mean) * (f[i] - mean);
  const double sigma = std::sqrt(sum2 / double(n));
  size_t inside = 0;
  for (size_t i = first; i < f.size(); i += step) inside += std::fabs(f[i] - mean) <= sigma ? 1 : 0;
  return {mean, sigma, double(inside) / double(n)};
}

TEST(TestSignalsTest, NoiseFieldHasTheChosenGaussianSpread) {
  for (double sigma : {1.0, 5.0, 20.0}) {
    SCOPED_TRACE(testing::Message() << "sigma " << sigma);
    // Rounding to whole levels adds the variance of a uniform step, 1/12.
    const double expected = std::sqrt(sigma * sigma + 1.0 / 12.0);
    const auto bgr = Frame(TestSignal::Noise, 1024, 512, PixelFormatBgr24, sigma, 42);
    const Moments m = Measure(bgr, 0, 1);
    EXPECT_NEAR(m.mean, 128.0, 0.05);
    EXPECT_NEAR(m.sigma, expected, expected * 0.01);
    const auto yuy2 = Frame(TestSignal::Noise, 1024, 512, PixelFormatYuy2, sigma, 42);
    const Moments y = Measure(yuy2, 0, 2);  // the luma bytes
    EXPECT_NEAR(y.mean, 126.0, 0.05);
    EXPECT_NEAR(y.sigma, expected, expected * 0.01);
    if (sigma >= 20.0) {
      // A Gaussian keeps 68.3 % within one sigma (a uniform spread would keep 57.7 %).
      EXPECT_NEAR(m.withinOneSigma, 0.683, 0.01);
    }
  }
}

TEST(TestSignalsTest, NoiseIsFixedBySeedAndAbsentAtSigmaZero) {
  const auto a = Frame(TestSignal::Noise, 64, 8, PixelFormatYuy2, 4.0, 3);
  const auto b = Frame(TestSignal::Noise, 64, 8, PixelFormatYuy2, 4.0, 3);
  const auto c = Frame(TestSignal::Noise, 64, 8, PixelFormatYuy2, 4.0, 4);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  const auto flat = Frame(TestSignal::Noise, 64, 8, PixelFormatBgr24, 0.0, 3);
  for (uint8_t v : flat) ASSERT_EQ(v, 128);
  // Noise on top of another signal: bars stay bars on average.
  const auto noisyBars = Frame(TestSignal::Bars, 720, 64, PixelFormatBgr24, 3.0, 5);
  double sum = 0;
  for (int row = 0; row < 64; ++row) sum += noisyBars[size_t(row) * 720 * 3 + size_t(45) * 3];
  EXPECT_NEAR(sum / 64.0, 191.0, 1.5);
}

}  // namespace
