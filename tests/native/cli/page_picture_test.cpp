// The pages as pictures: compared with checked-in pictures, pixel for pixel where our raster
// draws, with a tolerance around the text (FreeType versions differ in their antialiasing).
// LINEVIEW_UPDATE_GOLDEN=1 rewrites the checked-in pictures from this build.
#include "cli/output/page_picture.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/common/exit_codes.h"
#include "cli/run/headless_window.h"
#include "cli_test_util.h"

namespace {

bool InCanvas(int x, int y) {
  return x >= kPagePlotRect.left && x < kPagePlotRect.right && y >= kPagePlotRect.top && y < kPagePlotRect.bottom;
}

bool NearInk(const Picture& p, int x, int y, int reach) {
  for (int dy = -reach; dy <= reach; ++dy) {
    for (int dx = -reach; dx <= reach; ++dx) {
      const int px = x + dx, py = y + dy;
      if (px < 0 || py < 0 || px >= p.width || py >= p.height || InCanvas(px, py)) continue;
      if (p.pixels[size_t(py) * p.width + px] != kPageWhite) return true;
    }
  }
  return false;
}

// Label text blended over white: red and blue equal, green the lightest part taken away.
bool IsLabelInk(uint32_t px) {
  const int r = px >> 16, g = (px >> 8) & 0xFF, b = px & 0xFF;
  return r == b && g <= r && r >= 0x60;
}

TEST(PagePictures, MatchTheCheckedInPictures) {
  TempDir dir;
  const RunResult r = Lineview("--page all --png " + Quote(dir / "png"));
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const bool update = std::getenv("LINEVIEW_UPDATE_GOLDEN") != nullptr;
  for (const char* page : {"scope", "spectrum", "levels"}) {
    const std::string name = std::string("lineview-") + page + ".png";
    const std::string golden = std::string(LINEVIEW_GOLDEN_DIR) + "/" + name;
    if (update) std::filesystem::copy_file(dir / ("png/" + name), golden, std::filesystem::copy_options::overwrite_existing);
    Picture ours, theirs;
    ASSERT_TRUE(ReadPng(dir / ("png/" + name), &ours)) << name;
    ASSERT_TRUE(ReadPng(golden, &theirs)) << golden;
    ASSERT_EQ(ours.width, theirs.width);
    ASSERT_EQ(ours.height, theirs.height);
    ASSERT_EQ(ours.width, kPageWidth);
    ASSERT_EQ(ours.height, kPageHeight);
    int canvasDiffs = 0, farFromText = 0, inkOurs = 0, inkTheirs = 0, notLabelColour = 0;
    for (int y = 0; y < ours.height; ++y) {
      for (int x = 0; x < ours.width; ++x) {
        const uint32_t a = ours.pixels[size_t(y) * ours.width + x], b = theirs.pixels[size_t(y) * ours.width + x];
        if (InCanvas(x, y)) {
          canvasDiffs += a != b;
          continue;
        }
        inkOurs += a != kPageWhite;
        inkTheirs += b != kPageWhite;
        if (a != kPageWhite && !IsLabelInk(a)) ++notLabelColour;
        if (a != b && !NearInk(theirs, x, y, 2)) ++farFromText;
      }
    }
    EXPECT_EQ(canvasDiffs, 0) << page;
    EXPECT_EQ(farFromText, 0) << page;
    EXPECT_EQ(notLabelColour, 0) << page;
    EXPECT_NEAR(inkOurs, inkTheirs, 0.15 * inkTheirs) << page;
  }
}

TEST(TextPainter, DrawsInsideTheBoxItMeasures) {
  std::string error;
  std::unique_ptr<TextPainter> text = CreateTextPainter(&error);
  if (!text) GTEST_SKIP() << error;
  EXPECT_GE(text->LineHeight(), 11);
  EXPECT_LE(text->LineHeight(), 16);
  EXPECT_GT(text->Width("100%"), text->Width("10"));
  EXPECT_GT(text->Width("0"), 0);
  EXPECT_EQ(text->Width(""), 0);

  Picture p;
  p.width = 60;
  p.height = 30;
  p.pixels.assign(size_t(p.width) * p.height, 0x123456);
  const int x = 10, y = 8, w = text->Width("-40"), h = text->LineHeight();
  text->Draw(p, x, y, "-40", kLabelColor);
  int ink = 0;
  for (int py = 0; py < p.height; ++py) {
    for (int px = 0; px < p.width; ++px) {
      const uint32_t v = p.pixels[size_t(py) * p.width + px];
      const bool inside = px >= x && px < x + w && py >= y && py < y + h;
      if (!inside) {
        EXPECT_EQ(v, 0x123456u) << px << "," << py;  // nothing outside the measured box
      } else {
        EXPECT_TRUE(IsLabelInk(v) || v == kPageWhite) << std::hex << v;  // opaque white box under the text
        ink += v == kLabelColor;
      }
    }
  }
  EXPECT_GT(ink, 5);
  // Clipped at the picture's edges without writing outside it (the sanitizer build checks).
  text->Draw(p, -5, -7, "255", kLabelColor);
  text->Draw(p, 55, 25, "255", kLabelColor);
}

}  // namespace
