#include "analysis/line_sampling.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// Scalar references written straight from the formulas (floor division by 256, clamps).
int FloorDiv256(int v) { return v >= 0 ? v / 256 : -((-v + 255) / 256); }
int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

struct Channels {
  explicit Channels(int n) : r(n, -1), g(n, -1), b(n, -1), y(n, -1), u(n, -1), v(n, -1) {}
  std::vector<int32_t> r, g, b, y, u, v;
  bool operator==(const Channels& o) const {
    return r == o.r && g == o.g && b == o.b && y == o.y && u == o.u && v == o.v;
  }
};

void RefSampleYuy2(const uint8_t* px, int width, int line, Channels& c) {
  const uint8_t* row = px + static_cast<size_t>(line) * width * 2;
  for (int k = 0; k < width / 2; ++k) {
    const int y0 = row[4 * k], U = row[4 * k + 1], y1 = row[4 * k + 2], V = row[4 * k + 3];
    const int u = U - 128, v = V - 128;
    const int dB = FloorDiv256(454 * u), dG = FloorDiv256(-86 * u) + FloorDiv256(-183 * v), dR = FloorDiv256(359 * v);
    const int ys[2] = {y0, y1};
    for (int j = 0; j < 2; ++j) {
      const int i = 2 * k + j;
      c.y[i] = ys[j], c.u[i] = U, c.v[i] = V;
      c.r[i] = Clamp(ys[j] + dR), c.g[i] = Clamp(ys[j] + dG), c.b[i] = Clamp(ys[j] + dB);
    }
  }
}

void RefSampleBgr24(const uint8_t* px, int width, int height, int line, Channels& c) {
  const uint8_t* row = px + static_cast<size_t>(height - 1 - line) * width * 3;
  for (int k = 0; k < width / 2; ++k) {
    const uint8_t* p = row + 6 * k;
    const int Bm = (p[0] + p[3]) / 2, Gm = (p[1] + p[4]) / 2, Rm = (p[2] + p[5]) / 2;
    const int U = FloorDiv256(128 * Bm - 85 * Gm - 43 * Rm) + 128;
    const int V = FloorDiv256(128 * Rm - 107 * Gm - 21 * Bm) + 128;
    for (int j = 0; j < 2; ++j) {
      const int i = 2 * k + j;
      const int B = p[3 * j], G = p[3 * j + 1], R = p[3 * j + 2];
      c.r[i] = R, c.g[i] = G, c.b[i] = B;
      c.y[i] = FloorDiv256(77 * R + 150 * G + 29 * B);
      c.u[i] = U, c.v[i] = V;
    }
  }
}

void RefMarkYuy2(uint8_t* px, int width, int line, int32_t color) {
  const int R = color & 255, G = (color >> 8) & 255, B = (color >> 16) & 255;
  const int dY = FloorDiv256(77 * R + 150 * G + 29 * B);
  const int dU = FloorDiv256(128 * B - 85 * G - 43 * R);
  const int dV = FloorDiv256(128 * R - 107 * G - 21 * B);
  uint8_t* row = px + static_cast<size_t>(line) * width * 2;
  for (int k = 0; k < width / 4; ++k) {
    uint8_t* g = row + 8 * k;
    const int add[8] = {dY, dU, dY, dV, dY, dU, dY, dV};
    for (int j = 0; j < 8; ++j) g[j] = static_cast<uint8_t>(Clamp(g[j] + add[j]));
  }
}

void RefMarkBgr24(uint8_t* px, int width, int height, int line, int32_t color) {
  uint8_t* row = px + static_cast<size_t>(height - 1 - line) * width * 3;
  for (int x = 0; x < width; ++x) {
    row[3 * x] = static_cast<uint8_t>(color >> 16);
    row[3 * x + 1] = static_cast<uint8_t>(color >> 8);
    row[3 * x + 2] = static_cast<uint8_t>(color);
  }
}

Channels SampleYuy2(const std::vector<uint8_t>& f, int width, int height, int line) {
  Channels c(width);
  SampleLineYuy2(f.data(), width, height, line, c.r.data(), c.g.data(), c.b.data(), c.y.data(), c.u.data(),
                 c.v.data());
  return c;
}

Channels SampleBgr24(const std::vector<uint8_t>& f, int width, int height, int line) {
  Channels c(width);
  SampleLineBgr24(f.data(), width, height, line, c.r.data(), c.g.data(), c.b.data(), c.y.data(), c.u.data(),
                  c.v.data());
  return c;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng() >> 24);
  return out;
}

const int kWidths[] = {2, 4, 6, 7, 718, 720, 1920};

TEST(LineSampling, Yuy2WorkedExample) {
  const std::vector<uint8_t> f = {100, 200, 50, 30};
  const Channels c = SampleYuy2(f, 2, 1, 0);
  EXPECT_EQ(c.r, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(c.g, (std::vector<int32_t>{145, 95}));
  EXPECT_EQ(c.b, (std::vector<int32_t>{227, 177}));
  EXPECT_EQ(c.y, (std::vector<int32_t>{100, 50}));
  EXPECT_EQ(c.u, (std::vector<int32_t>{200, 200}));
  EXPECT_EQ(c.v, (std::vector<int32_t>{30, 30}));
}

TEST(LineSampling, Yuy2GreyAndClampedBlue) {
  const std::vector<uint8_t> grey = {77, 128, 201, 128};
  const Channels c = SampleYuy2(grey, 2, 1, 0);
  EXPECT_EQ(c.r, c.y);
  EXPECT_EQ(c.g, c.y);
  EXPECT_EQ(c.b, c.y);
  // U 0 gives dB = -227: blue clamps to 0 below Y 227.
  const Channels d = SampleYuy2({226, 0, 240, 128}, 2, 1, 0);
  EXPECT_EQ(d.b, (std::vector<int32_t>{0, 13}));
}

TEST(LineSampling, Yuy2ExhaustiveChromaMatchesReference) {
  // Every (U, V) pair once per line, with luma values cycling through the interesting ones.
  const int width = 2 * 65536;
  const uint8_t lumas[] = {0, 1, 16, 100, 127, 128, 200, 226, 227, 235, 254, 255};
  for (int shift = 0; shift < 12; shift += 2) {
    std::vector<uint8_t> f(static_cast<size_t>(width) * 2);
    for (int k = 0; k < 65536; ++k) {
      f[4 * k] = lumas[(k + shift) % 12];
      f[4 * k + 1] = static_cast<uint8_t>(k & 255);
      f[4 * k + 2] = lumas[(k + shift + 5) % 12];
      f[4 * k + 3] = static_cast<uint8_t>(k >> 8);
    }
    Channels ref(width);
    RefSampleYuy2(f.data(), width, 0, ref);
    ASSERT_TRUE(SampleYuy2(f, width, 1, 0) == ref) << "luma shift " << shift;
  }
}

TEST(LineSampling, Yuy2RandomWidthsMatchReferenceAndLeaveOddTail) {
  for (int width : kWidths) {
    const int height = 3;
    const auto f = RandomBytes(static_cast<size_t>(width) * height * 2, width);
    for (int line = 0; line < height; ++line) {
      Channels ref(width);
      RefSampleYuy2(f.data(), width, line, ref);
      const Channels got = SampleYuy2(f, width, height, line);
      EXPECT_TRUE(got == ref) << "width " << width << " line " << line;
      if (width % 2) {
        EXPECT_EQ(got.y[width - 1], -1) << "odd tail must stay unsampled";
      }
    }
  }
}

TEST(LineSampling, Bgr24WorkedExamples) {
  const Channels c = SampleBgr24({10, 20, 200, 30, 40, 100}, 2, 1, 0);
  EXPECT_EQ(c.y, (std::vector<int32_t>{73, 56}));
  EXPECT_EQ(c.u, (std::vector<int32_t>{102, 102}));
  EXPECT_EQ(c.v, (std::vector<int32_t>{188, 188}));
  EXPECT_EQ(c.r, (std::vector<int32_t>{200, 100}));
  const Channels white = SampleBgr24({255, 255, 255, 255, 255, 255}, 2, 1, 0);
  EXPECT_EQ(white.y[0], 255);
  EXPECT_EQ(white.u[0], 128);
  EXPECT_EQ(white.v[0], 128);
  const Channels black = SampleBgr24({0, 0, 0, 0, 0, 0}, 2, 1, 0);
  EXPECT_EQ(black.y[1], 0);
  EXPECT_EQ(black.u[1], 128);
  EXPECT_EQ(black.v[1], 128);
  const Channels red = SampleBgr24({0, 0, 255, 0, 0, 255}, 2, 1, 0);
  EXPECT_EQ(red.y[0], 76);
  EXPECT_EQ(red.u[0], 85);
  EXPECT_EQ(red.v[0], 255);
}

TEST(LineSampling, Bgr24IsBottomUp) {
  // Two rows of two pixels: line 0 is the last row in memory.
  const std::vector<uint8_t> f = {1, 2, 3, 4, 5, 6, /* last row */ 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(SampleBgr24(f, 2, 2, 0).b, (std::vector<int32_t>{7, 10}));
  EXPECT_EQ(SampleBgr24(f, 2, 2, 1).b, (std::vector<int32_t>{1, 4}));
}

TEST(LineSampling, Bgr24RandomAndExtremeMatchReference) {
  for (int width : kWidths) {
    const int height = 3;
    for (uint32_t seed = 0; seed < 20; ++seed) {
      auto f = RandomBytes(static_cast<size_t>(width) * height * 3, seed * 7919 + width);
      if (seed == 0) std::fill(f.begin(), f.end(), 255);
      if (seed == 1) std::fill(f.begin(), f.end(), 0);
      if (seed == 2)
        for (size_t i = 0; i < f.size(); ++i) f[i] = (i % 3 == 2) ? 255 : 0;  // pure red
      for (int line = 0; line < height; ++line) {
        Channels ref(width);
        RefSampleBgr24(f.data(), width, height, line, ref);
        ASSERT_TRUE(SampleBgr24(f, width, height, line) == ref) << "width " << width << " seed " << seed;
      }
    }
  }
}

TEST(LineMarker, Yuy2WorkedExampleAndSaturatedV) {
  std::vector<uint8_t> f = {200, 128, 16, 128, 0, 0, 255, 255};
  MarkLineYuy2(f.data(), 4, 1, 0, 255);
  EXPECT_EQ(f, (std::vector<uint8_t>{255, 85, 92, 255, 76, 0, 255, 255}));
}

TEST(LineMarker, Yuy2MarksWholeGroupsOnlyAndOnlyItsLine) {
  for (int width : kWidths) {
    const int height = 3;
    for (int32_t color : {255, 0x00FF00, 0xFF0000, 0x7F3F1F, 0xFFFFFF, 0x12345678, 0}) {
      const auto original = RandomBytes(static_cast<size_t>(width) * height * 2, width + color);
      for (int line = 0; line < height; ++line) {
        auto ref = original, got = original;
        RefMarkYuy2(ref.data(), width, line, color);
        MarkLineYuy2(got.data(), width, height, line, color);
        ASSERT_EQ(got, ref) << "width " << width << " colour " << color << " line " << line;
      }
    }
  }
  // Width 6: only the first four pixels change.
  std::vector<uint8_t> f(12, 100);
  MarkLineYuy2(f.data(), 6, 1, 0, 255);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 8, f.end()), std::vector<uint8_t>(4, 100));
  EXPECT_NE(f[0], 100);
}

TEST(LineMarker, Bgr24OverwritesItsLineOnly) {
  for (int width : kWidths) {
    const int height = 3;
    const auto original = RandomBytes(static_cast<size_t>(width) * height * 3, width);
    for (int line = 0; line < height; ++line) {
      auto ref = original, got = original;
      RefMarkBgr24(ref.data(), width, height, line, 255);
      MarkLineBgr24(got.data(), width, height, line, 255);
      ASSERT_EQ(got, ref) << "width " << width << " line " << line;
    }
  }
  std::vector<uint8_t> f(6 * 2, 9);
  MarkLineBgr24(f.data(), 2, 2, 0, 255);  // line 0 = last row in memory
  EXPECT_EQ(f, (std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 0, 0, 255, 0, 0, 255}));
}

}  // namespace
