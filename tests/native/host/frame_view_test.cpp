#include "host/frame_view.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "host/test_signals.h"
#include "plugin/host_contract.h"

namespace {

int R(uint32_t p) { return int((p >> 16) & 255); }
int G(uint32_t p) { return int((p >> 8) & 255); }
int B(uint32_t p) { return int(p & 255); }

TEST(FrameViewTest, Bgr24IsFlippedToTopDown) {
  // 2 x 3 frame; the first row in memory is the bottom image row.
  const std::vector<uint8_t> f = {1, 2, 3, 4, 5, 6,  10, 20, 30, 40, 50, 60,  7, 8, 9, 11, 12, 13};
  std::vector<uint32_t> out(6, 0xDEADBEEF);
  FrameToBgra(f.data(), 2, 3, PixelFormatBgr24, out.data());
  EXPECT_EQ(out[0], 0x090807u);  // top-left = last row in memory, alpha 0
  EXPECT_EQ(out[1], 0x0D0C0Bu);
  EXPECT_EQ(out[2], 0x1E140Au);
  EXPECT_EQ(out[5], 0x060504u);
}

TEST(FrameViewTest, Yuy2StudioRangeExpandsToFullRange) {
  // Black, white and a mid grey pair, then the generator's 75 % bars seen through the view.
  const std::vector<uint8_t> f = {16, 128, 235, 128, 126, 128, 126, 128};
  std::vector<uint32_t> out(4);
  FrameToBgra(f.data(), 4, 1, PixelFormatYuy2, out.data());
  EXPECT_EQ(out[0], 0x000000u);
  EXPECT_EQ(out[1], 0xFFFFFFu);
  EXPECT_NEAR(R(out[2]), 128, 1);
  EXPECT_EQ(R(out[2]), B(out[2]));

  std::vector<uint8_t> bars(FrameBytes(720, 1, PixelFormatYuy2));
  FillColourBars(bars.data(), 720, 1, PixelFormatYuy2);
  std::vector<uint32_t> rgb(720);
  FrameToBgra(bars.data(), 720, 1, PixelFormatYuy2, rgb.data());
  const int expected[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                              {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};
  for (int bar = 0; bar < 8; ++bar) {
    const uint32_t p = rgb[size_t(bar) * 90 + 44];
    EXPECT_NEAR(R(p), expected[bar][0], 3) << bar;
    EXPECT_NEAR(G(p), expected[bar][1], 3) << bar;
    EXPECT_NEAR(B(p), expected[bar][2], 3) << bar;
  }
}

TEST(FrameViewTest, OddWidthAndBadFormatStayInBounds) {
  const std::vector<uint8_t> f = {235, 128, 235, 128, 235, 128};  // three pixels, the last unpaired
  std::vector<uint32_t> out(4, 0x12345678);
  FrameToBgra(f.data(), 3, 1, PixelFormatYuy2, out.data());
  EXPECT_EQ(out[2], 0xFFFFFFu);
  EXPECT_EQ(out[3], 0x12345678u);
  FrameToBgra(f.data(), 3, 1, 5, out.data());
  EXPECT_EQ(out[3], 0x12345678u);
}

}  // namespace
