// The spectrum page of a multiburst line has its peaks at the burst frequencies. The line is
// made here: 52 us of 50 % grey with six bursts of +-30 %, 6 us each, 7 us apart.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/common/exit_codes.h"
#include "cli/run/headless_window.h"
#include "cli/output/page_picture.h"
#include "cli_test_util.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBurstMHz[6] = {0.5, 1.0, 2.0, 3.0, 4.2, 5.8};
constexpr int kWidth = 720;
constexpr double kLineUs = 52.0;
constexpr double kPageMHz = 6.75;  // the spectrum page spans 0 .. 6.75 MHz across the canvas

std::vector<uint8_t> MultiburstFrame(int height) {
  std::vector<uint8_t> frame;
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < kWidth; ++x) {
      const double t = (x + 0.5) * kLineUs / kWidth;
      double level = 0.5;
      for (int k = 0; k < 6; ++k) {
        const double start = 9.0 + 7.0 * k;
        if (t >= start && t < start + 6.0) level = 0.5 + 0.3 * std::sin(2 * kPi * kBurstMHz[k] * (t - start));
      }
      frame.push_back(static_cast<uint8_t>(std::lround(16 + 219 * level)));
      frame.push_back(128);
    }
  }
  return frame;
}

// Per canvas column, how high the Y trace (light grey, merged over the dark page) reaches.
std::vector<int> TraceHeights(const Picture& page) {
  std::vector<int> heights(kCanvasWidth, 0);
  for (int x = 0; x < kCanvasWidth; ++x) {
    for (int y = 0; y < kCanvasHeight; ++y) {
      const uint32_t px = page.pixels[size_t(kPagePlotRect.top + y) * page.width + kPagePlotRect.left + x];
      if (((px >> 8) & 0xFF) >= 0xE0) {
        heights[size_t(x)] = kCanvasHeight - y;
        break;
      }
    }
  }
  return heights;
}

TEST(MultiburstSpectrum, PeaksStandAtTheBurstFrequencies) {
  TempDir dir;
  const std::vector<uint8_t> frame = MultiburstFrame(2);
  { std::ofstream(dir / "mb.yuv", std::ios::binary).write(reinterpret_cast<const char*>(frame.data()), frame.size()); }
  const RunResult r = Lineview("-f rawvideo -s 720x2 -pix_fmt yuyv422 " + Quote(dir / "mb.yuv") +
                               " --line 0 --color yuv --page spectrum --window hanning --sensitivity 80 --png " +
                               Quote(dir / "png"));
  ASSERT_EQ(r.status, kExitOk) << r.err;
  Picture page;
  ASSERT_TRUE(ReadPng(dir / "png/lineview-spectrum.png", &page));
  ASSERT_EQ(page.width, kPageWidth);
  const std::vector<int> h = TraceHeights(page);
  const double mhzPerColumn = kPageMHz / kCanvasWidth;
  for (double f : kBurstMHz) {
    // The highest point within a quarter megahertz either side is the burst's own peak.
    const int centre = static_cast<int>(std::lround(f / mhzPerColumn));
    const int reach = static_cast<int>(0.25 / mhzPerColumn);
    int best = centre;
    for (int x = std::max(1, centre - reach); x <= std::min(kCanvasWidth - 1, centre + reach); ++x) {
      if (h[size_t(x)] > h[size_t(best)]) best = x;
    }
    // A 6 us burst has a main lobe 0.33 MHz wide; the 0.5 MHz one (three cycles) leans on its neighbours.
    EXPECT_NEAR(best * mhzPerColumn, f, 0.1) << "burst " << f << " MHz";
    // And it stands out: clearly above the trace halfway to the neighbouring frequencies.
    const int between = static_cast<int>(std::lround((f + 0.35) / mhzPerColumn));
    if (between < kCanvasWidth) {
      EXPECT_GT(h[size_t(best)], h[size_t(between)] + 10) << "burst " << f << " MHz";
    }
  }
}

}  // namespace
