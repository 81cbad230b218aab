// The spectrum page against the computation it replaced (the line as 2048 complex points through
// the rotation recurrence, square root, library log10), kept here as the reference: the same
// pixels and dB within 1e-9 on bundled signals, bar lines and random lines, at every window,
// sensitivity and style; and every vector path alike.
#include "analysis/line_sampling.h"
#include "analysis/page_style.h"
#include "analysis/spectrum.h"
#include "host/test_signals.h"
#include "plot/plot_canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

struct TablesDeleter {
  void operator()(SpectrumTables* t) const { DestroySpectrumTables(t); }
};
using TablesPtr = std::unique_ptr<SpectrumTables, TablesDeleter>;

constexpr int kWidth = 720;
constexpr double kRoundedPi = 3.14159265359;

// The previous computation, one operation after another. Bin k's level in dB, or -infinity for
// an empty bin.
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
  for (int span = m; span >= 2; span /= 2) {
    const int half = span / 2;
    const double cs = std::cos(kRoundedPi / half), sn = -std::sin(kRoundedPi / half);
    double wr = 1, wi = 0;
    for (int j = 0; j < half; ++j) {
      for (int i = j; i < m; i += span) {
        const double dr = re[i] - re[i + half], di = im[i] - im[i + half];
        re[i] += re[i + half];
        im[i] += im[i + half];
        re[i + half] = dr * wr - di * wi;
        im[i + half] = dr * wi + di * wr;
      }
      const double t = cs * wr - sn * wi;
      wi = cs * wi + sn * wr;
      wr = t;
    }
  }
  for (int i = 0, j = 0; i < m - 1; ++i) {
    if (i > j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
    int k = m / 2;
    while (j >= k) j -= k, k /= 2;
    j += k;
  }
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
