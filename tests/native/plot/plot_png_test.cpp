// Renders the three kinds of plot the pages show, with realistic data, into PNG files beside
// the test program (or into $LINEVIEW_PLOT_PNG_DIR) so that a person can look at them.
#include "plot/plot_canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#ifdef LINEVIEW_HAVE_PNG
#include <png.h>
#include <unistd.h>
#endif

namespace {

constexpr uint32_t kBackground = 0x400000;
constexpr uint32_t kGrid = 0x005C00;
constexpr uint32_t kChannelColours[3] = {0x0000FF, 0x00FF00, 0xFF0000};  // R, G, B
constexpr int kWidth = 640;
constexpr int kHeight = 346;

// One line of 75 % colour bars (white, yellow, cyan, green, magenta, red, blue, black) per
// channel, levels 16..235, with blanking at both ends and a little noise.
std::vector<std::vector<int32_t>> ColourBarLine(int samples) {
  const int bars[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 2.0);
  std::vector<std::vector<int32_t>> line(3, std::vector<int32_t>(static_cast<size_t>(samples)));
  const int active0 = samples / 12, active1 = samples - samples / 24;
  for (int i = 0; i < samples; ++i) {
    for (int c = 0; c < 3; ++c) {
      double level = 16.0;
      if (i >= active0 && i < active1) {
        const int bar = (i - active0) * 8 / (active1 - active0);
        level = bars[bar][c] ? 180.0 : 16.0;
        if (bar == 0) level = 235.0;
      }
      line[c][i] = static_cast<int32_t>(std::lround(std::min(255.0, std::max(0.0, level + noise(rng)))));
    }
  }
  return line;
}

#ifdef LINEVIEW_HAVE_PNG
std::string OutputDir() {
  if (const char* dir = std::getenv("LINEVIEW_PLOT_PNG_DIR")) return dir;
  // The test program lives in the build folder; ctest may run it from elsewhere.
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.find_last_of('/'));
}

bool WritePng(const PlotCanvas& canvas, const std::string& name) {
  std::vector<unsigned char> rgb(static_cast<size_t>(canvas.plotWidth) * canvas.plotHeight * 3);
  for (size_t p = 0; p < rgb.size() / 3; ++p) {
    const uint32_t px = canvas.Pixels()[p];
    rgb[3 * p] = static_cast<unsigned char>(px >> 16);
    rgb[3 * p + 1] = static_cast<unsigned char>(px >> 8);
    rgb[3 * p + 2] = static_cast<unsigned char>(px);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(canvas.plotWidth);
  image.height = static_cast<png_uint_32>(canvas.plotHeight);
  image.format = PNG_FORMAT_RGB;
  const std::string path = OutputDir() + "/" + name;
  const bool ok = png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}
#endif

void Save(const PlotCanvas& canvas, const char* name) {
#ifdef LINEVIEW_HAVE_PNG
  EXPECT_TRUE(WritePng(canvas, name)) << name;
#else
  (void)canvas;
  (void)name;
#endif
}

int CountPixels(const PlotCanvas& c, uint32_t pixel) {
  int n = 0;
  for (size_t p = 0; p < static_cast<size_t>(c.plotWidth) * c.plotHeight; ++p) n += c.Pixels()[p] == pixel;
  return n;
}

TEST(PlotPictures, Oscilloscope) {
  PlotCanvas c(kWidth, kHeight);
  const auto line = ColourBarLine(720);
  c.Clear(kBackground);
  c.DrawGrid(20, 16, kGrid);
  for (int ch = 0; ch < 3; ++ch) c.PlotSeries(line[ch].data(), 720, kChannelColours[ch], kRopMergePen, Outline, 1, 255);
  const uint32_t cyan = 0xFFFF00;
  c.DrawScaledLine(0, 16, 1000, 16, cyan, kRopCopyPen, 1000, 255);    // black level
  c.DrawScaledLine(0, 235, 1000, 235, cyan, kRopCopyPen, 1000, 255);  // white level
  c.DrawScaledLine(300, 0, 300, 255, cyan, kRopCopyPen, 1000, 255);   // measuring interval
  c.DrawScaledLine(450, 0, 450, 255, cyan, kRopCopyPen, 1000, 255);
  Save(c, "plot_oscilloscope.png");
  EXPECT_GT(CountPixels(c, 0x0000FFFF), 2 * kWidth);  // the reference lines
  EXPECT_GT(CountPixels(c, 0x00000040), kWidth * kHeight / 2);
  // Where all three traces cross the same pixel they add up to white over the background.
  EXPECT_GT(CountPixels(c, 0x00FFFFFF), 0);
}

TEST(PlotPictures, Spectrum) {
  PlotCanvas c(kWidth, kHeight);
  const int sensitivity = 40;
  std::mt19937 rng(3);
  std::normal_distribution<double> floor(-32.0, 3.0);
  c.Clear(kBackground);
  c.DrawGrid(27, sensitivity / 5, kGrid);
  for (int ch = 0; ch < 3; ++ch) {
    std::vector<double> level(352);
    for (int k = 0; k < 352; ++k) {
      double db = floor(rng) - 0.02 * k;
      db = std::max(db, 20.0 * std::log10(0.4 / (1.0 + 0.1 * k)) - 2.0 * ch);  // falling low-frequency content
      if (k % 26 == 0) db = std::max(db, -8.0 - 0.03 * k - 3.0 * ch);         // harmonics of the bar pattern
      if (std::abs(k - 231) < 2 && ch != 1) db = std::max(db, -14.0);          // colour subcarrier
      level[k] = (db + sensitivity) * 10.0;
    }
    c.PlotSeries(level.data(), 352, kChannelColours[ch], kRopMergePen, Outline, 1, 10.0 * sensitivity);
  }
  Save(c, "plot_spectrum.png");
  EXPECT_GT(CountPixels(c, 0x00005C00), kHeight);  // the grid survives
}

TEST(PlotPictures, Histogram) {
  PlotCanvas c(kWidth, kHeight);
  const auto line = ColourBarLine(720);
  c.Clear(kBackground);
  c.DrawGrid(16, 0, kGrid);
  c.DrawLogGrid(3, 9, kGrid);
  for (int ch = 0; ch < 2; ++ch) {
    std::vector<int> counts(256, 0);
    for (int32_t v : line[ch]) ++counts[v];
    std::vector<double> bins(256, 0.0);
    for (int b = 0; b < 256; ++b)
      if (counts[b]) bins[b] = 100.0 * std::log10(counts[b] * 1000.0 / 720.0);
    c.PlotSeries(bins.data(), 256, kChannelColours[ch], kRopMergePen, ch == 0 ? Fill : Outline, 1, 300.0);
  }
  Save(c, "plot_histogram.png");
  EXPECT_GT(CountPixels(c, 0x00FF0040), kWidth);  // red bars over the background
}

}  // namespace
