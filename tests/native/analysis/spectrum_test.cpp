#include "analysis/spectrum.h"

#include "analysis/line_sampling.h"
#include "analysis/page_style.h"
#include "host/test_signals.h"
#include "plot/plot_canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

struct TablesDeleter {
  void operator()(SpectrumTables* t) const { DestroySpectrumTables(t); }
};
using TablesPtr = std::unique_ptr<SpectrumTables, TablesDeleter>;

// The transform written out loop for loop, the reference the table-driven one must match bit for bit.
void ReferenceFft(double* re, double* im, int n) {
  for (int span = n; span >= 2; span /= 2) {
    int half = span / 2;
    double theta = 3.14159265359 / half;
    double cs = std::cos(theta), sn = -1 * std::sin(theta);
    double wr = 1, wi = 0;
    for (int j = 0; j < half; ++j) {
      for (int i = j; i < n; i += span) {
        double ar = re[i], ai = im[i], br = re[i + half], bi = im[i + half];
        re[i] = ar + br;
        im[i] = ai + bi;
        double dr = ar - br, di = ai - bi;
        re[i + half] = dr * wr - di * wi;
        im[i + half] = dr * wi + di * wr;
      }
      double t = cs * wr - sn * wi;
      wi = cs * wi + sn * wr;
      wr = t;
    }
  }
  for (int i = 0, j = 0; i < n - 1; ++i) {
    if (i > j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
    int k = n / 2;
    while (j >= k) j -= k, k /= 2;
    j += k;
  }
}

// Naive DFT in long double; the angles are reduced exactly (m * k mod n) before the table lookup.
std::vector<std::complex<long double>> NaiveDft(const std::vector<double>& x) {
  const size_t n = x.size();
  const long double pi = 3.141592653589793238462643383279502884L;
  std::vector<std::complex<long double>> unit(n);
  for (size_t r = 0; r < n; ++r) {
    const long double a = -2 * pi * static_cast<long double>(r) / n;
    unit[r] = std::complex<long double>(std::cos(a), std::sin(a));
  }
  std::vector<std::complex<long double>> out(n);
  for (size_t k = 0; k < n; ++k) {
    std::complex<long double> acc = 0;
    for (size_t m = 0; m < n; ++m) acc += static_cast<long double>(x[m]) * unit[(m * k) % n];
    out[k] = acc;
  }
  return out;
}

std::vector<int32_t> RandomLine(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<int32_t> v(n);
  for (auto& x : v) x = static_cast<int32_t>(gen() % 256);
  return v;
}

struct Work {
  std::vector<double> re = std::vector<double>(kFftPoints), im = std::vector<double>(kFftPoints),
                      mag = std::vector<double>(kFftPoints);
};

}  // namespace

TEST(Fft, TableDrivenTransformIsBitIdenticalToTheLoops) {
  for (bool wide : {true, false}) {
  TablesPtr tables(CreateSpectrumTables(wide));
  ASSERT_TRUE(tables);
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> dist(-300, 300);
  for (int round = 0; round < 4; ++round) {
    std::vector<double> re(kFftPoints), im(kFftPoints);
    for (int i = 0; i < kFftPoints; ++i) re[i] = dist(gen), im[i] = round % 2 ? dist(gen) : 0.0;
    std::vector<double> rr = re, ri = im, gr = re, gi = im;
    ReferenceFft(rr.data(), ri.data(), kFftPoints);
    Fft2048(re.data(), im.data(), *tables);
    Fft(gr.data(), gi.data(), kFftPoints, 1);
    ASSERT_EQ(0, std::memcmp(re.data(), rr.data(), sizeof(double) * kFftPoints));
    ASSERT_EQ(0, std::memcmp(im.data(), ri.data(), sizeof(double) * kFftPoints));
    ASSERT_EQ(0, std::memcmp(gr.data(), rr.data(), sizeof(double) * kFftPoints));
    ASSERT_EQ(0, std::memcmp(gi.data(), ri.data(), sizeof(double) * kFftPoints));
  }
  }
}

TEST(ResampleLine, StretchesLinearlyKeepingBothEnds) {
  std::vector<double> re(kFftPoints, -1), im(kFftPoints, -1);
  std::vector<int32_t> line = RandomLine(kFftPoints, 1);
  ResampleLine(line.data(), kFftPoints, re.data(), im.data(), kFftPoints);
  for (int i = 0; i < kFftPoints; ++i) {
    ASSERT_NEAR(re[i], line[i], 1e-9) << i;  // N = 2048 is the identity, up to rounding of f
    ASSERT_EQ(im[i], 0.0);
  }
  const int32_t two[] = {10, 250};
  ResampleLine(two, 2, re.data(), im.data(), kFftPoints);
  for (int i = 0; i < kFftPoints; ++i) ASSERT_NEAR(re[i], 10 + 240.0 * i / 2047, 1e-9);
  std::vector<int32_t> l720 = RandomLine(720, 2);
  ResampleLine(l720.data(), 720, re.data(), im.data(), kFftPoints);
  EXPECT_EQ(re[0], l720[0]);
  EXPECT_EQ(re[2047], l720[719]);
  // Point 1023 sits at 1023 * 719 / 2047 = 359.324...
  const double f = 1023.0 * 719 / 2047;
  EXPECT_NEAR(re[1023], l720[359] + (l720[360] - l720[359]) * (f - 359), 1e-9);
  // Every point exactly as the one-point-at-a-time formula gives it.
  for (int i = 0; i < kFftPoints - 1; ++i) {
    const double x = i * (1.0 / 2047) * 719;
    const int k = static_cast<int>(x);
    ASSERT_EQ(re[i], l720[k] + (l720[k + 1] - l720[k]) * (x - k)) << i;
  }
  // Too short to interpolate: a constant, or zeros, and nothing read past the line.
  const int32_t one[] = {42};
  ResampleLine(one, 1, re.data(), im.data(), kFftPoints);
  for (int i = 0; i < kFftPoints; ++i) ASSERT_EQ(re[i], 42.0);
  ResampleLine(nullptr, 0, re.data(), im.data(), kFftPoints);
  for (int i = 0; i < kFftPoints; ++i) ASSERT_EQ(re[i], 0.0);
}

TEST(ComputeSpectrum, MatchesANaiveDftOfTheWindowedResampledLine) {
  TablesPtr tables(CreateSpectrumTables());
  const int n = 720, s = 40;
  std::vector<int32_t> line = RandomLine(n, 11);
  for (int window : {0, 1, 2, 3}) {
    // The stretched line and the periodic window, written from their definitions.
    std::vector<double> x(kFftPoints);
    for (int i = 0; i < kFftPoints; ++i) {
      const double pos = static_cast<double>(i) * (n - 1) / (kFftPoints - 1);
      const int k = std::min(static_cast<int>(pos), n - 2);
      const double v = line[k] + (line[k + 1] - line[k]) * (pos - k);
      const double th = 2 * 3.14159265359 * i / kFftPoints;
      const double w[] = {1, 0.54 - 0.46 * std::cos(th), 0.5 - 0.5 * std::cos(th),
                          0.42 - 0.5 * std::cos(th) + 0.08 * std::cos(2 * th)};
      x[i] = v * w[window];
    }
    auto ref = NaiveDft(x);
    Work w;
    ComputeSpectrum(line.data(), n, window, s, w.re.data(), w.im.data(), w.mag.data(), tables.get());
    for (int k = 0; k < kSpectrumBins; ++k) {
      const double m = static_cast<double>(std::abs(ref[k]));
      const double got = std::pow(10.0, (w.mag[k] / 10 - s) / 20) * 2048 * 255;
      ASSERT_NEAR(got, m, 1e-9 * m) << "window " << window << " bin " << k;
    }
  }
}

// The dB scale is computed without the C library's log10: it must agree with it to rounding in
// every bin, loud and quiet (both the paired and the single-value paths).
TEST(ComputeSpectrum, DecibelsAgreeWithTheLibraryLogarithm) {
  TablesPtr tables(CreateSpectrumTables());
  for (uint32_t seed : {1u, 2u, 3u}) {
    std::vector<int32_t> line = RandomLine(720, seed);
    Work w;
    ComputeSpectrum(line.data(), 720, 2, 40, w.re.data(), w.im.data(), w.mag.data(), tables.get());
    for (int k = 0; k < kSpectrumBins; ++k) {
      const double m = std::sqrt(w.im[k] * w.im[k] + w.re[k] * w.re[k]);
      if (m == 0) continue;
      const double want = (20 * std::log10(m / (2048.0 * 255)) + 40) * 10;
      ASSERT_NEAR(w.mag[k], want, 1e-11 * std::max(1.0, std::abs(want))) << k;
    }
  }
}

TEST(ComputeSpectrum, TablesChangeNoBit) {
  TablesPtr tables(CreateSpectrumTables());
  std::vector<int32_t> line = RandomLine(768, 4);
  for (int window : {-1, 0, 1, 2, 3, 4}) {
    Work a, b;
    ComputeSpectrum(line.data(), 768, window, 60, a.re.data(), a.im.data(), a.mag.data(), tables.get());
    ComputeSpectrum(line.data(), 768, window, 60, b.re.data(), b.im.data(), b.mag.data(), nullptr);
    ASSERT_EQ(0, std::memcmp(a.mag.data(), b.mag.data(), sizeof(double) * kSpectrumBins)) << window;
  }
}

TEST(ComputeSpectrum, FullScaleLevelsAndEmptyBins) {
  TablesPtr tables(CreateSpectrumTables());
  std::vector<int32_t> white(720, 255);
  Work w;
  ComputeSpectrum(white.data(), 720, WindowNone, 40, w.re.data(), w.im.data(), w.mag.data(), tables.get());
  EXPECT_NEAR(w.mag[0], 400.0, 1e-9);  // 0 dB
  for (int k = 1; k < kSpectrumBins; ++k) ASSERT_EQ(w.mag[k], -700.0) << k;  // -110 dB
  ComputeSpectrum(white.data(), 720, WindowHanning, 40, w.re.data(), w.im.data(), w.mag.data(), tables.get());
  EXPECT_NEAR(w.mag[0] / 10 - 40, -6.0206, 1e-4);
  // Out-of-range window: none; out-of-range sensitivity: clamped to 10..110.
  ComputeSpectrum(white.data(), 720, 9, 0, w.re.data(), w.im.data(), w.mag.data(), tables.get());
  EXPECT_NEAR(w.mag[0], 100.0, 1e-9);
  EXPECT_EQ(w.mag[5], -1000.0);
  ComputeSpectrum(white.data(), 720, -3, 5000, w.re.data(), w.im.data(), w.mag.data(), nullptr);
  EXPECT_NEAR(w.mag[0], 1100.0, 1e-9);
  EXPECT_EQ(w.mag[5], 0.0);
}

TEST(ComputeSpectrum, CosinePeaksAtItsBin) {
  TablesPtr tables(CreateSpectrumTables());
  for (int bin : {10, 100, 351, 700}) {
    std::vector<int32_t> line(kFftPoints);
    for (int i = 0; i < kFftPoints; ++i)
      line[i] = static_cast<int32_t>(std::lround(128 + 100 * std::cos(2 * 3.141592653589793 * bin * i / kFftPoints)));
    Work w;
    ComputeSpectrum(line.data(), kFftPoints, WindowBlackman, 110, w.re.data(), w.im.data(), w.mag.data(),
                    tables.get());
    int best = 4;  // past the main lobe of the line's mean
    for (int k = 4; k < kSpectrumBins; ++k)
      if (w.mag[k] > w.mag[best]) best = k;
    EXPECT_EQ(best, bin);
  }
}

TEST(Spectrum, SensitivityAndGridDivisions) {
  EXPECT_EQ(SpectrumGridRows(20), 10);
  EXPECT_EQ(SpectrumGridRows(10), 5);
  EXPECT_EQ(SpectrumGridRows(25), 5);
  EXPECT_EQ(SpectrumGridRows(50), 10);
  EXPECT_EQ(SpectrumGridRows(55), 5);
  EXPECT_EQ(SpectrumGridRows(60), 6);
  EXPECT_EQ(SpectrumGridRows(110), 11);
  EXPECT_EQ(ClampSensitivity(0), 10);
  EXPECT_EQ(ClampSensitivity(-40), 10);
  EXPECT_EQ(ClampSensitivity(111), 110);
  EXPECT_EQ(ClampSensitivity(73), 73);
}

namespace {
constexpr uint32_t kBg = 0x000040, kGrid = 0x005C00;

struct SpectrumPage {
  std::vector<std::vector<int32_t>> lines = std::vector<std::vector<int32_t>>(ChannelCount, std::vector<int32_t>(720));
  int32_t* channels[ChannelCount];
  Work w;
  TablesPtr tables{CreateSpectrumTables()};
  PlotCanvas canvas{352, 41};  // column = bin; with S = 40 a row is 1 dB
  SpectrumPage() {
    for (int c = 0; c < ChannelCount; ++c) channels[c] = lines[c].data();
  }
  void Render(const AnalysisSettings& s) {
    RenderSpectrum(s, 720, channels, w.re.data(), w.im.data(), w.mag.data(), tables.get(), canvas);
  }
};

AnalysisSettings SpectrumSettings(int style) {
  AnalysisSettings s{};
  s.RColor = 1, s.FFTSensitivity = 40, s.WindowFunction = WindowNone, s.FFTDiagMode = style;
  return s;
}
}  // namespace

TEST(RenderSpectrum, FillBarsMergeAndTopPixelsArePlain) {
  SpectrumPage page;
  for (auto& v : page.lines[ChannelR]) v = 255;  // bin 0 at 0 dB (top row), the rest at -110 dB
  page.Render(SpectrumSettings(Fill));
  const PlotCanvas& c = page.canvas;
  const uint32_t red = 0xF00000;
  EXPECT_EQ(c.PixelAt(0, 0), red);           // the point itself, plain
  EXPECT_EQ(c.PixelAt(0, 20), red | kGrid);  // bar over the first grid column
  EXPECT_EQ(c.PixelAt(5, 40), red | kGrid);  // a bin below the canvas still covers the bottom row
  EXPECT_EQ(c.PixelAt(5, 39), kBg);
  EXPECT_EQ(c.PixelAt(13, 39), kGrid);       // 27 columns: every 13th pixel
  EXPECT_EQ(c.PixelAt(5, 5), kGrid);         // 40 dB / 5 dB = 8 divisions: every 5th row
  EXPECT_EQ(c.PixelAt(5, 4), kBg);
}

TEST(RenderSpectrum, ChannelsInOrderWithTheirColours) {
  SpectrumPage page;
  AnalysisSettings s = SpectrumSettings(Fill);
  s.ColorMode = 1, s.RColor = 0, s.YColor = 1, s.UColor = 1, s.VColor = 0, s.FFTSensitivity = 110;
  page.Render(s);  // all-zero lines: every bin at -110 dB, the bottom row with S = 110
  EXPECT_EQ(page.canvas.PixelAt(7, 40), 0x0000F8u);  // U drawn after Y; top pixels are plain
  EXPECT_EQ(page.canvas.PixelAt(7, 39), kBg);
  s.UColor = 0;
  page.Render(s);
  EXPECT_EQ(page.canvas.PixelAt(7, 40), 0xE0E0E0u);
}

TEST(RenderSpectrum, PointsAndStylesOutOfRange) {
  SpectrumPage page;
  for (auto& v : page.lines[ChannelR]) v = 255;
  page.Render(SpectrumSettings(Points));
  int red = 0;
  for (int y = 0; y < 41; ++y)
    for (int x = 0; x < 352; ++x) red += (page.canvas.PixelAt(x, y) & 0xFF0000) != 0;
  EXPECT_EQ(red, 1);  // only bin 0 is on the canvas
  EXPECT_EQ(page.canvas.PixelAt(0, 0), 0xF00000u);
  for (int style : {-1, 3, 1000}) {
    page.Render(SpectrumSettings(style));
    EXPECT_EQ(page.canvas.PixelAt(0, 0), kGrid) << style;
    EXPECT_NEAR(page.w.mag[0], 400.0, 1e-9);  // still computed
  }
}

// The spectrum page against the computation it replaced, kept here as the reference: the same
// pixels and dB within 1e-9 on bundled signals, bar lines and random lines, at every window,
// sensitivity and style; and every vector path alike.
namespace {

constexpr int kWidth = 720;
constexpr double kRoundedPi = 3.14159265359;  // as the transform and the windows define it

// The previous computation: the line stretched and weighted, the complex transform of
// ReferenceFft, square root, library log10. Bin k's level in dB, or -infinity for an empty bin.
std::vector<double> ReferenceDecibels(const int32_t* samples, int n, int window) {
  const int m = kFftPoints;
  std::vector<double> re(m, 0.0), im(m, 0.0);
  if (n < 2) {
    std::fill(re.begin(), re.end(), n == 1 ? samples[0] : 0.0);
  } else {
    const double step = 1.0 / (m - 1);
    for (int i = 0; i <= m - 2; ++i) {
      const double f = i * step * (n - 1);
      const int k = static_cast<int>(f);
      re[i] = samples[k] + (static_cast<double>(samples[k + 1]) - samples[k]) * (f - k);
    }
    re[m - 1] = samples[n - 1];
  }
  for (int i = 0; i < m; ++i) {
    const double th = i * (2 * kRoundedPi / m);
    if (window == 1) re[i] *= 0.54 - 0.46 * std::cos(th);
    if (window == 2) re[i] *= 0.5 - 0.5 * std::cos(th);
    if (window == 3) re[i] *= 0.42 - 0.5 * std::cos(th) + 0.08 * std::cos(i * (4 * kRoundedPi / m));
  }
  ReferenceFft(re.data(), im.data(), m);
  std::vector<double> db(kSpectrumBins);
  for (int k = 0; k < kSpectrumBins; ++k) {
    const double mag = std::sqrt(im[k] * im[k] + re[k] * re[k]);
    db[k] = mag != 0 ? 20 * std::log10(mag / (2048.0 * 255)) : -INFINITY;
  }
  return db;
}

// The page's series for sensitivity s: (dB + s) * 10, empty bins at -110 dB.
std::vector<double> SeriesAt(const std::vector<double>& db, int s) {
  std::vector<double> v(db.size());
  for (size_t k = 0; k < db.size(); ++k) v[k] = std::isinf(db[k]) ? (s - 110) * 10.0 : (db[k] + s) * 10;
  return v;
}

// Levels within 1e-9 dB in every bin, quiet ones too (their round-off noise shows on the page
// through the interpolation between bins); empty bins empty.
void ExpectSameDecibels(const std::vector<double>& want, const double* got, int s, const char* what) {
  for (int k = 0; k < kSpectrumBins; ++k) {
    if (std::isinf(want[k]))
      ASSERT_EQ(got[k], (s - 110) * 10.0) << what << " bin " << k;
    else
      ASSERT_NEAR(got[k] / 10 - s, want[k], 1e-9) << what << " bin " << k;
  }
}

// A set of six channel lines, as the plug-in samples them.
struct Lines {
  std::vector<std::vector<int32_t>> ch = std::vector<std::vector<int32_t>>(ChannelCount);
  int n = kWidth;
  explicit Lines(int width = kWidth) : n(width) {
    for (auto& c : ch) c.assign(std::max(width, 1), 0);
  }
  std::array<int32_t*, ChannelCount> Ptrs() const {
    std::array<int32_t*, ChannelCount> p;
    for (int c = 0; c < ChannelCount; ++c) p[c] = const_cast<int32_t*>(ch[c].data());
    return p;
  }
};

Lines FromFrame(TestSignal signal, int format, double noise, int line) {
  std::vector<uint8_t> frame(FrameBytes(kWidth, 576, format));
  FillTestSignal(signal, frame.data(), kWidth, 576, format, noise, 7);
  Lines l;
  const auto p = l.Ptrs();
  auto sample = format == 0 ? SampleLineYuy2 : SampleLineBgr24;
  sample(frame.data(), kWidth, 576, line, p[0], p[1], p[2], p[3], p[4], p[5]);
  return l;
}

// A line of R'G'B' segments (full range), with Y U V as BT.601 gives them; sharp edges like the
// colour-bar test clips.
Lines FromSegments(const std::vector<std::array<int, 4>>& segments /* end x, r, g, b */) {
  Lines l;
  size_t s = 0;
  for (int x = 0; x < kWidth; ++x) {
    while (x >= segments[s][0]) ++s;
    const int r = segments[s][1], g = segments[s][2], b = segments[s][3];
    l.ch[ChannelR][x] = r, l.ch[ChannelG][x] = g, l.ch[ChannelB][x] = b;
    l.ch[ChannelY][x] = (66 * r + 129 * g + 25 * b + 128) / 256 + 16;
    l.ch[ChannelU][x] = (-38 * r - 74 * g + 112 * b + 128) / 256 + 128;
    l.ch[ChannelV][x] = (112 * r - 94 * g - 18 * b + 128) / 256 + 128;
  }
  return l;
}

std::vector<Lines> BarLines() {
  std::vector<Lines> out;
  const int w = kWidth / 7;
  // The three rows of the SMPTE bars: 75 % bars, the castellations, -I / white / +Q / PLUGE.
  out.push_back(FromSegments({{w, 191, 191, 191}, {2 * w, 191, 191, 0}, {3 * w, 0, 191, 191}, {4 * w, 0, 191, 0},
                              {5 * w, 191, 0, 191}, {6 * w, 191, 0, 0}, {kWidth, 0, 0, 191}}));
  out.push_back(FromSegments({{w, 0, 0, 191}, {2 * w, 19, 19, 19}, {3 * w, 191, 0, 191}, {4 * w, 19, 19, 19},
                              {5 * w, 0, 191, 191}, {6 * w, 19, 19, 19}, {kWidth, 191, 191, 191}}));
  const int q = kWidth * 5 / 28;
  out.push_back(FromSegments({{q, 0, 33, 76}, {2 * q, 255, 255, 255}, {3 * q, 50, 0, 106}, {5 * w, 19, 19, 19},
                              {5 * w + w / 3, 9, 9, 9}, {5 * w + 2 * w / 3, 19, 19, 19}, {6 * w, 29, 29, 29},
                              {kWidth, 19, 19, 19}}));
  // A test pattern's line: a grey ramp beside saturated blocks and a fine black/white grating.
  Lines mixed;
  for (int x = 0; x < kWidth; ++x) {
    const int ramp = x * 255 / (kWidth - 1);
    const bool grating = x >= 500 && x < 620;
    for (int c = 0; c < ChannelCount; ++c)
      mixed.ch[c][x] = grating ? ((x / (1 + c % 3)) % 2) * 255 : x < 400 ? (ramp + 60 * c) % 256 : 255 * ((x / 25 + c) % 2);
  }
  out.push_back(std::move(mixed));
  return out;
}

struct Page {
  TablesPtr tables;
  std::vector<double> re = std::vector<double>(kFftPoints), im = std::vector<double>(kFftPoints),
                      mag = std::vector<double>(kFftPoints);
  PlotCanvas canvas{640, 346};
  explicit Page(SpectrumPath path) : tables(CreateSpectrumTables(path)) {}
  void Render(const AnalysisSettings& s, const Lines& l) {
    RenderSpectrum(s, l.n, l.Ptrs().data(), re.data(), im.data(), mag.data(), tables.get(),
                   canvas);
  }
};

// The page as it was drawn from the reference's series.
void RenderReference(const AnalysisSettings& st, const std::vector<std::vector<double>>& db, PlotCanvas& canvas) {
  const int s = ClampSensitivity(st.FFTSensitivity);
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(27, SpectrumGridRows(s), kPageGridColor);
  for (int ch = FirstChannel(st); ch < FirstChannel(st) + 3; ++ch) {
    if (!ChannelShown(st, ch) || st.FFTDiagMode < Outline || st.FFTDiagMode > Points) continue;
    const std::vector<double> v = SeriesAt(db[ch], s);
    canvas.PlotSeries(v.data(), kSpectrumDrawnBins, kAnalyserTraceColor[ch], kRopMergePen, st.FFTDiagMode, 1, 10.0 * s);
  }
  canvas.Present();
}

AnalysisSettings Settings(int colorMode, int window, int sensitivity, int style) {
  AnalysisSettings s{};
  s.ColorMode = colorMode, s.WindowFunction = window, s.FFTSensitivity = sensitivity, s.FFTDiagMode = style;
  s.RColor = s.GColor = s.BColor = s.YColor = s.UColor = s.VColor = 1;
  return s;
}

const int kWindows[] = {0, 1, 2, 3, 7};
std::vector<int> Sensitivities() {
  std::vector<int> v = {-5, 0, 9, 111, 400};
  for (int s = 10; s <= 110; ++s) v.push_back(s);
  return v;
}

// Renders one line set both ways and compares the pixels and the last channel's levels.
void ExpectSamePage(Page& page, PlotCanvas& reference, const Lines& l, const std::vector<std::vector<double>>& db,
                    const AnalysisSettings& st, const char* what) {
  page.Render(st, l);
  RenderReference(st, db, reference);
  const int s = ClampSensitivity(st.FFTSensitivity);
  ExpectSameDecibels(db[FirstChannel(st) + 2], page.mag.data(), s, what);
  const size_t count = static_cast<size_t>(640) * 346;
  ASSERT_EQ(0, std::memcmp(page.canvas.Pixels(), reference.Pixels(), count * sizeof(uint32_t)))
      << what << " window " << st.WindowFunction << " sensitivity " << st.FFTSensitivity << " style "
      << st.FFTDiagMode << " colour mode " << st.ColorMode;
}

// The reference levels of the three channels a colour mode shows.
std::vector<std::vector<double>> References(const Lines& l, int colorMode, int window) {
  std::vector<std::vector<double>> db(ChannelCount);
  const int first = colorMode == 1 ? ChannelY : ChannelR;
  for (int c = first; c < first + 3; ++c) db[c] = ReferenceDecibels(l.ch[c].data(), l.n, window);
  return db;
}

}  // namespace

// Every window, sensitivity and style on the bundled signals (both pixel formats, clean and noisy)
// and on the bar lines.
TEST(SpectrumCorpus, SignalsAndBarsDrawTheSamePixels) {
#if defined(__SANITIZE_THREAD__)
  // One thread, nothing for the race detector: the plain and address-sanitized runs hold it.
  GTEST_SKIP() << "single-threaded corpus: run in the other builds";
#endif
  std::vector<std::pair<Lines, const char*>> corpus;
  for (int sig = 0; sig < kTestSignalCount; ++sig)
    for (int format : {0, 1})
      for (double noise : {0.0, 3.0})
        corpus.emplace_back(FromFrame(static_cast<TestSignal>(sig), format, noise, 300),
                            TestSignalName(static_cast<TestSignal>(sig)));
  for (Lines& l : BarLines()) corpus.emplace_back(std::move(l), "bars");
  Page page(BestSpectrumPath());
  PlotCanvas reference(640, 346);
  for (size_t i = 0; i < corpus.size(); ++i) {
    const Lines& l = corpus[i].first;
    const int colorMode = static_cast<int>(i % 2);
    for (int window : kWindows) {
      const auto db = References(l, colorMode, window);
      for (int s : Sensitivities())
        for (int style = 0; style < 3; ++style)
          ExpectSamePage(page, reference, l, db, Settings(colorMode, window, s, style), corpus[i].second);
    }
  }
}

// 10,000 random line sets, mostly 720 samples but any length from 0 to 2048; window,
// sensitivity and style take turns so that every combination comes up many times.
TEST(SpectrumCorpus, RandomLinesDrawTheSamePixels) {
#if defined(__SANITIZE_THREAD__)
  // One thread, nothing for the race detector: the plain and address-sanitized runs hold it.
  GTEST_SKIP() << "single-threaded corpus: run in the other builds";
#endif
  std::mt19937 gen(2024);
  const std::vector<int> sens = Sensitivities();
  Page page(BestSpectrumPath());
  PlotCanvas reference(640, 346);
  for (int i = 0; i < 10000; ++i) {
    const int n = i % 4 ? kWidth : static_cast<int>(gen() % (kFftPoints + 1));
    Lines l(n);
    const int amplitude = 1 + static_cast<int>(gen() % 256);
    for (auto& c : l.ch)
      for (auto& v : c) v = static_cast<int32_t>(gen() % amplitude);
    const AnalysisSettings st = Settings(i % 2, kWindows[i % 5], sens[(i / 5) % sens.size()], i % 3);
    ExpectSamePage(page, reference, l, References(l, st.ColorMode, st.WindowFunction), st, "random");
  }
}

// Each path the machine has, forced: the same bits in every bin, so the same pixels.
TEST(SpectrumPaths, EveryPathGivesTheSameBits) {
  std::vector<SpectrumPath> paths = {SpectrumPath::Scalar, SpectrumPath::Sse2};
  if (BestSpectrumPath() == SpectrumPath::Avx) paths.push_back(SpectrumPath::Avx);
  std::printf("[   INFO   ] comparing %s\n", paths.size() == 3 ? "scalar, SSE2 and AVX" : "scalar and SSE2 (no AVX here)");
  for (SpectrumPath p : paths) {
    TablesPtr t(CreateSpectrumTables(p));
    ASSERT_TRUE(t);
    EXPECT_EQ(TablesPath(*t), p);
  }
  std::mt19937 gen(77);
  std::vector<Lines> corpus = BarLines();
  for (int i = 0; i < 40; ++i) {
    Lines l(i < 4 ? i : kWidth + i);  // lengths 0..3 take the constant and two-point branches
    for (auto& c : l.ch)
      for (auto& v : c) v = static_cast<int32_t>(gen() % 256);
    corpus.push_back(std::move(l));
  }
  Page first(paths[0]);
  for (size_t p = 1; p < paths.size(); ++p) {
    Page other(paths[p]);
    for (const Lines& l : corpus)
      for (int window : kWindows)
        for (int style = 0; style < 3; ++style) {
          const AnalysisSettings st = Settings(style % 2, window, 40 + style, style);
          first.Render(st, l);
          other.Render(st, l);
          ASSERT_EQ(0, std::memcmp(first.mag.data(), other.mag.data(), sizeof(double) * kSpectrumBins))
              << "path " << static_cast<int>(paths[p]) << " window " << window;
          ASSERT_EQ(0, std::memcmp(first.re.data(), other.re.data(), sizeof(double) * kSpectrumBins));
          ASSERT_EQ(0, std::memcmp(first.im.data(), other.im.data(), sizeof(double) * kSpectrumBins));
          ASSERT_EQ(0, std::memcmp(first.canvas.Pixels(), other.canvas.Pixels(), sizeof(uint32_t) * 640 * 346));
        }
  }
}
