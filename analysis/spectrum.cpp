#include "analysis/spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "plot/plot_canvas.h"

namespace {

// The rounded pi the transform and the windows are defined with.
constexpr double kPi = 3.14159265359;
constexpr double kWindowStep = 0.0030679615757714844;   // 2 * kPi / 2048
constexpr double kWindowStep2 = 0.006135923151542969;   // twice that
constexpr double kFullScale = 1.914828431372549e-06;    // 1 / (2048 * 255)
constexpr int kStages = 11;                             // log2(2048)

constexpr uint32_t kBackground = 0x400000;
constexpr uint32_t kGridColor = 0x005C00;
constexpr uint32_t kTraceColor[ChannelCount] = {0x0000F0, 0x00F000, 0xF00000, 0xE0E0E0, 0xF80000, 0x0000F8};

double WindowWeight(int window, int i) {
  const double theta = i * kWindowStep;
  switch (window) {
    case WindowHamming:
      return 0.54 - 0.46 * std::cos(theta);
    case WindowHanning:
      return 0.5 - 0.5 * std::cos(theta);
    case WindowBlackman:
      return 0.42 - 0.5 * std::cos(theta) + 0.08 * std::cos(i * kWindowStep2);
    default:
      return 1.0;
  }
}

bool IsPowerOfTwo(int n) { return n >= 1 && (n & (n - 1)) == 0; }

}  // namespace

struct SpectrumTables {
  // Stage with half-span h keeps its h twiddles at offset kFftPoints - 2h.
  alignas(64) double twiddleRe[kFftPoints];
  alignas(64) double twiddleIm[kFftPoints];
  alignas(64) double window[4][kFftPoints];  // index by WindowFunctionCode; [0] unused
  uint16_t swapA[kFftPoints / 2];
  uint16_t swapB[kFftPoints / 2];
  int swapCount;
};

SpectrumTables* CreateSpectrumTables() {
  SpectrumTables* t = new (std::nothrow) SpectrumTables;
  if (!t) return nullptr;
  // The twiddles come out of the rotation recurrence exactly as the per-call transform makes them.
  for (int half = kFftPoints / 2; half >= 1; half /= 2) {
    const double theta = kPi / half;
    const double cs = std::cos(theta);
    const double sn = -1 * std::sin(theta);
    double wr = 1.0, wi = 0.0;
    double* tr = t->twiddleRe + (kFftPoints - 2 * half);
    double* ti = t->twiddleIm + (kFftPoints - 2 * half);
    for (int j = 0; j < half; ++j) {
      tr[j] = wr;
      ti[j] = wi;
      const double nr = cs * wr - sn * wi;
      wi = cs * wi + sn * wr;
      wr = nr;
    }
  }
  t->twiddleRe[kFftPoints - 1] = t->twiddleIm[kFftPoints - 1] = 0.0;
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < kFftPoints; ++i) t->window[w][i] = WindowWeight(w, i);
  t->swapCount = 0;
  for (int i = 0, j = 0; i < kFftPoints - 1; ++i) {
    if (i > j) {
      t->swapA[t->swapCount] = static_cast<uint16_t>(i);
      t->swapB[t->swapCount] = static_cast<uint16_t>(j);
      ++t->swapCount;
    }
    int k = kFftPoints / 2;
    while (j >= k) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
  return t;
}

void DestroySpectrumTables(SpectrumTables* tables) { delete tables; }

void ResampleLine(const int32_t* samples, int n, double* re, double* im, int m) {
  if (m < 1) return;
  if (n < 2) {
    // Nothing to interpolate between (and no second sample to read).
    const double v = n == 1 ? samples[0] : 0.0;
    for (int i = 0; i < m; ++i) {
      re[i] = v;
      im[i] = 0.0;
    }
    return;
  }
  if (m >= 2) {
    const double step = 1.0 / (m - 1);
    for (int i = 0; i <= m - 2; ++i) {
      const double f = i * step * (n - 1);
      const int k = static_cast<int>(f);
      re[i] = samples[k] + (samples[k + 1] - samples[k]) * (f - k);
      im[i] = 0.0;
    }
  }
  re[m - 1] = samples[n - 1];
  im[m - 1] = 0.0;
}

int Fft(double* re, double* im, int n, int direction) {
  if (!IsPowerOfTwo(n)) return 0;
  for (int span = n; span >= 2; span /= 2) {
    const int half = span / 2;
    const double theta = kPi / half;
    const double cs = std::cos(theta);
    const double sn = -direction * std::sin(theta);
    double wr = 1.0, wi = 0.0;
    for (int j = 0; j < half; ++j) {
      for (int i = j; i < n; i += span) {
        const double dr = re[i] - re[i + half];
        const double di = im[i] - im[i + half];
        re[i] = re[i] + re[i + half];
        im[i] = im[i] + im[i + half];
        re[i + half] = dr * wr - di * wi;
        im[i + half] = dr * wi + di * wr;
      }
      const double nr = cs * wr - sn * wi;
      wi = cs * wi + sn * wr;
      wr = nr;
    }
  }
  for (int i = 0, j = 0; i < n - 1; ++i) {
    if (i > j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
    int k = n / 2;
    while (j >= k) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
  return 0;
}

namespace {

// Two lanes of doubles: plain SSE2, available on both targets. Loads and stores go through
// memcpy because the work buffers are only guaranteed 8-byte alignment.
typedef double v2d __attribute__((vector_size(16)));

inline v2d Load(const double* p) {
  v2d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(double* p, v2d v) { std::memcpy(p, &v, sizeof v); }

// One butterfly of the transform, every operation in the order of the scalar loop so the
// results are bit-identical to it: a' = a + b, b' = (a - b) * w.
inline void Butterfly(v2d& ar, v2d& ai, v2d& br, v2d& bi, v2d wr, v2d wi) {
  const v2d dr = ar - br;
  const v2d di = ai - bi;
  ar = ar + br;
  ai = ai + bi;
  br = dr * wr - di * wi;
  bi = dr * wi + di * wr;
}

// Two consecutive stages (half-spans h and h/2, h >= 4) in one pass over the data: each
// group of four points only meets itself in both stages.
void DoubleStage(double* re, double* im, int h, const SpectrumTables& t) {
  const int q = h / 2;
  const double* w1r = t.twiddleRe + (kFftPoints - 2 * h);
  const double* w1i = t.twiddleIm + (kFftPoints - 2 * h);
  const double* w2r = t.twiddleRe + (kFftPoints - h);
  const double* w2i = t.twiddleIm + (kFftPoints - h);
  for (int base = 0; base < kFftPoints; base += 2 * h) {
    double* r = re + base;
    double* m = im + base;
    for (int j = 0; j < q; j += 2) {
      v2d r0 = Load(r + j), i0 = Load(m + j);
      v2d r1 = Load(r + j + q), i1 = Load(m + j + q);
      v2d r2 = Load(r + j + h), i2 = Load(m + j + h);
      v2d r3 = Load(r + j + h + q), i3 = Load(m + j + h + q);
      Butterfly(r0, i0, r2, i2, Load(w1r + j), Load(w1i + j));
      Butterfly(r1, i1, r3, i3, Load(w1r + j + q), Load(w1i + j + q));
      const v2d wr = Load(w2r + j), wi = Load(w2i + j);
      Butterfly(r0, i0, r1, i1, wr, wi);
      Butterfly(r2, i2, r3, i3, wr, wi);
      Store(r + j, r0), Store(m + j, i0);
      Store(r + j + q, r1), Store(m + j + q, i1);
      Store(r + j + h, r2), Store(m + j + h, i2);
      Store(r + j + h + q, r3), Store(m + j + h + q, i3);
    }
  }
}

}  // namespace

void Fft2048(double* re, double* im, const SpectrumTables& t) {
  // Stages 1024/512, 256/128, 64/32, 16/8, 4/2 in pairs, then the last one alone.
  for (int h = kFftPoints / 2; h >= 4; h /= 4) DoubleStage(re, im, h, t);
  // Half-span 1: its only twiddle is exactly 1 + 0i, still applied as a full product.
  const double wr = t.twiddleRe[kFftPoints - 2], wi = t.twiddleIm[kFftPoints - 2];
  for (int i = 0; i < kFftPoints; i += 2) {
    const double dr = re[i] - re[i + 1];
    const double di = im[i] - im[i + 1];
    re[i] = re[i] + re[i + 1];
    im[i] = im[i] + im[i + 1];
    re[i + 1] = dr * wr - di * wi;
    im[i + 1] = dr * wi + di * wr;
  }
  for (int s = 0; s < t.swapCount; ++s) {
    const int a = t.swapA[s], b = t.swapB[s];
    std::swap(re[a], re[b]);
    std::swap(im[a], im[b]);
  }
}

int ClampSensitivity(int sensitivity) { return std::clamp(sensitivity, 10, 110); }

int SpectrumGridRows(int s) {
  if (s <= 20) return s / 2;
  if (s <= 50) return s / 5;
  return s / 10;
}

void ComputeSpectrum(const int32_t* samples, int n, int windowFunction, int sensitivity, double* re, double* im,
                     double* magnitude, const SpectrumTables* tables) {
  const int s = ClampSensitivity(sensitivity);
  ResampleLine(samples, n, re, im, kFftPoints);
  if (windowFunction >= WindowHamming && windowFunction <= WindowBlackman) {
    if (tables) {
      const double* w = tables->window[windowFunction];
      for (int i = 0; i < kFftPoints; ++i) re[i] *= w[i];
    } else {
      for (int i = 0; i < kFftPoints; ++i) re[i] *= WindowWeight(windowFunction, i);
    }
  }
  if (tables)
    Fft2048(re, im, *tables);
  else
    Fft(re, im, kFftPoints, 1);
  const double empty = (s - 110) * 10.0;
  for (int k = 0; k < kSpectrumBins; ++k) {
    const double m = std::sqrt(im[k] * im[k] + re[k] * re[k]);
    magnitude[k] = m != 0 ? (20 * std::log10(m * kFullScale) + s) * 10 : empty;
  }
}

void RenderSpectrum(const AnalysisSettings& st, int n, int32_t* const channels[ChannelCount], double* re,
                    double* im, double* magnitude, const SpectrumTables* tables, PlotCanvas& canvas) {
  const int s = ClampSensitivity(st.FFTSensitivity);
  canvas.Clear(kBackground);
  canvas.DrawGrid(27, SpectrumGridRows(s), kGridColor);
  const int firstChannel = st.ColorMode == 1 ? ChannelY : ChannelR;
  const int32_t showFlags[ChannelCount] = {st.RColor, st.GColor, st.BColor, st.YColor, st.UColor, st.VColor};
  // Styles outside 0..2 draw nothing; the spectrum is still computed so the buffers stay current.
  const bool drawable = st.FFTDiagMode >= Outline && st.FFTDiagMode <= Points;
  for (int c = 0; c < 3; ++c) {
    const int ch = firstChannel + c;
    if (showFlags[ch] != 1) continue;
    ComputeSpectrum(channels[ch], n, st.WindowFunction, s, re, im, magnitude, tables);
    if (drawable)
      canvas.PlotSeries(magnitude, kSpectrumDrawnBins, kTraceColor[ch], kRopMergePen, st.FFTDiagMode, 1,
                        10.0 * s);
  }
  canvas.Present();
}
