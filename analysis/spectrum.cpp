#include "analysis/spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "analysis/page_style.h"
#include "plot/plot_canvas.h"

#if defined(__x86_64__) && !defined(_WIN32)
// The transform runs four lanes wide where the processor has AVX. Not on Windows: 32-byte
// vectors spilled to a stack that the compiler only keeps 16-byte aligned there would fault.
#define LINEVIEW_FFT_AVX 1
#endif

namespace {

// The rounded pi the transform and the windows are defined with.
constexpr double kPi = 3.14159265359;
constexpr double kWindowStep = 0.0030679615757714844;   // 2 * kPi / 2048
constexpr double kWindowStep2 = 0.006135923151542969;   // twice that
constexpr double kFullScale = 1.914828431372549e-06;    // 1 / (2048 * 255)

// log10 of a positive finite x, within a few units in the last place. The C library's log10 is
// most of the spectrum's time on the 32-bit Windows runtime; this is plain arithmetic, the same on
// every platform, two values at a time where SSE2 is there. x = 2^e * f, f in [sqrt(1/2), sqrt(2));
// ln f = 2 atanh(s) with s = (f-1)/(f+1), |s| <= 0.1716: twelve terms of the series reach double
// precision.
constexpr double kLog10Of2 = 0.30102999566398119521;
constexpr double kTwoLog10OfE = 0.86858896380650365530;  // 2 / ln 10
constexpr double kSqrt2 = 1.4142135623730951;

template <typename T>
T AtanhSeries(T z) {
  return 1.0 + z * (1.0 / 3 + z * (1.0 / 5 + z * (1.0 / 7 + z * (1.0 / 9 + z * (1.0 / 11 +
         z * (1.0 / 13 + z * (1.0 / 15 + z * (1.0 / 17 + z * (1.0 / 19 + z * (1.0 / 21 +
         z * (1.0 / 23)))))))))));
}

// Positive, normal and finite (the scaled magnitudes nearly always are): the fast path applies.
bool Log10Ready(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const uint64_t biased = (bits >> 52) & 0x7FF;
  return (bits >> 63) == 0 && biased != 0 && biased != 0x7FF;
}

double Log10(double x) {
  if (!Log10Ready(x)) return std::log10(x);
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  int e = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
  bits = (bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull;
  double f;
  std::memcpy(&f, &bits, sizeof f);
  if (f > kSqrt2) {
    f *= 0.5;
    ++e;
  }
  const double s = (f - 1.0) / (f + 1.0);
  return e * kLog10Of2 + kTwoLog10OfE * s * AtanhSeries(s * s);
}

#ifdef __SSE2__
// Both scaled magnitudes take the fast path (kFullScale keeps a nonzero magnitude normal).
bool Log10PairReady(double a, double b) { return Log10Ready(a * kFullScale) && Log10Ready(b * kFullScale); }

// The same arithmetic as Log10, two lanes at once, for values Log10Ready accepts.
__m128d Log10Pair(__m128d x) {
  const __m128i bits = _mm_castpd_si128(x);
  // The biased exponent as a double: placed in the low mantissa bits of 2^52, then 2^52 taken off.
  const __m128i biased = _mm_srli_epi64(bits, 52);
  const __m128d two52 = _mm_set1_pd(4503599627370496.0);
  __m128d e = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(biased, _mm_castpd_si128(two52))), two52);
  e = _mm_sub_pd(e, _mm_set1_pd(1023.0));
  const __m128i mantissa = _mm_set1_epi64x(0x000FFFFFFFFFFFFFll);
  __m128d f = _mm_castsi128_pd(_mm_or_si128(_mm_and_si128(bits, mantissa), _mm_set1_epi64x(0x3FF0000000000000ll)));
  const __m128d big = _mm_cmpgt_pd(f, _mm_set1_pd(kSqrt2));
  f = _mm_or_pd(_mm_and_pd(big, _mm_mul_pd(f, _mm_set1_pd(0.5))), _mm_andnot_pd(big, f));
  e = _mm_add_pd(e, _mm_and_pd(big, _mm_set1_pd(1.0)));
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d s = _mm_div_pd(_mm_sub_pd(f, one), _mm_add_pd(f, one));
  const __m128d series = AtanhSeries(_mm_mul_pd(s, s));
  return _mm_add_pd(_mm_mul_pd(e, _mm_set1_pd(kLog10Of2)),
                    _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(kTwoLog10OfE), s), series));
}
#endif

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
  bool useAvx;
  int16_t reversed7[128];  // 7-bit reversal, for the fused last stages
};

SpectrumTables* CreateSpectrumTables(bool allowWideVectors) {
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
#ifdef LINEVIEW_FFT_AVX
  t->useAvx = allowWideVectors && __builtin_cpu_supports("avx");
#else
  (void)allowWideVectors;
  t->useAvx = false;
#endif
  for (int g = 0; g < 128; ++g) {
    int r = 0;
    for (int b = 0; b < 7; ++b) r |= ((g >> b) & 1) << (6 - b);
    t->reversed7[g] = static_cast<int16_t>(r);
  }
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
    // The difference is taken in double: exact for any two samples, so no int overflow.
    const double step = 1.0 / (m - 1);
    int i = 0;
#ifdef __SSE2__
    // Two points at a time, each lane doing the scalar loop's operations in its order.
    const __m128d vstep = _mm_set1_pd(step), span = _mm_set1_pd(n - 1);
    for (; i + 1 <= m - 2; i += 2) {
      const __m128d f = _mm_mul_pd(_mm_mul_pd(_mm_set_pd(i + 1, i), vstep), span);
      const __m128i k = _mm_cvttpd_epi32(f);
      const int k0 = _mm_cvtsi128_si32(k), k1 = _mm_cvtsi128_si32(_mm_srli_si128(k, 4));
      const __m128d a = _mm_set_pd(samples[k1], samples[k0]);
      const __m128d b = _mm_set_pd(samples[k1 + 1], samples[k0 + 1]);
      _mm_storeu_pd(re + i, _mm_add_pd(a, _mm_mul_pd(_mm_sub_pd(b, a), _mm_sub_pd(f, _mm_cvtepi32_pd(k)))));
    }
#endif
    for (; i <= m - 2; ++i) {
      const double f = i * step * (n - 1);
      const int k = static_cast<int>(f);
      re[i] = samples[k] + (static_cast<double>(samples[k + 1]) - samples[k]) * (f - k);
    }
    for (i = 0; i <= m - 2; ++i) im[i] = 0.0;
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

// The transform's butterflies on vectors of doubles (GCC/Clang vector extensions). Every
// operation is the one of the scalar loop, in the same order and without fused multiply-add,
// so the results are bit-identical to it. Loads and stores go through memcpy because the
// work buffers are only guaranteed 8-byte alignment.
typedef double V2 __attribute__((vector_size(16)));  // SSE2, on every target
#ifdef LINEVIEW_FFT_AVX
typedef double V4 __attribute__((vector_size(32)));
#endif

#define LV_INLINE inline __attribute__((always_inline))

template <class V>
LV_INLINE void Load(V& v, const double* p) {
  std::memcpy(&v, p, sizeof v);
}
template <class V>
LV_INLINE void Store(double* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// a' = a + b, b' = (a - b) * w.
template <class V>
LV_INLINE void Butterfly(V& ar, V& ai, V& br, V& bi, const V& wr, const V& wi) {
  const V dr = ar - br;
  const V di = ai - bi;
  ar = ar + br;
  ai = ai + bi;
  br = dr * wr - di * wi;
  bi = dr * wi + di * wr;
}

// Two consecutive stages (half-spans h and h/2) in one pass over the data: each group of
// four points only meets itself in both stages. Needs h/2 >= the vector's lane count.
template <class V>
LV_INLINE void DoubleStage(double* re, double* im, int h, const SpectrumTables& t) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  const int q = h / 2;
  const double* w1r = t.twiddleRe + (kFftPoints - 2 * h);
  const double* w1i = t.twiddleIm + (kFftPoints - 2 * h);
  const double* w2r = t.twiddleRe + (kFftPoints - h);
  const double* w2i = t.twiddleIm + (kFftPoints - h);
  for (int base = 0; base < kFftPoints; base += 2 * h) {
    double* r = re + base;
    double* m = im + base;
    for (int j = 0; j < q; j += lanes) {
      V r0, i0, r1, i1, r2, i2, r3, i3, ar, ai, br, bi, wr, wi;
      Load(r0, r + j), Load(i0, m + j);
      Load(r1, r + j + q), Load(i1, m + j + q);
      Load(r2, r + j + h), Load(i2, m + j + h);
      Load(r3, r + j + h + q), Load(i3, m + j + h + q);
      Load(ar, w1r + j), Load(ai, w1i + j);
      Load(br, w1r + j + q), Load(bi, w1i + j + q);
      Load(wr, w2r + j), Load(wi, w2i + j);
      Butterfly(r0, i0, r2, i2, ar, ai);
      Butterfly(r1, i1, r3, i3, br, bi);
      Butterfly(r0, i0, r1, i1, wr, wi);
      Butterfly(r2, i2, r3, i3, wr, wi);
      Store(r + j, r0), Store(m + j, i0);
      Store(r + j + q, r1), Store(m + j + q, i1);
      Store(r + j + h, r2), Store(m + j + h, i2);
      Store(r + j + h + q, r3), Store(m + j + h + q, i3);
    }
  }
}

// One stage of half-span h >= the vector's lane count.
template <class V>
LV_INLINE void SingleStage(double* re, double* im, int h, const SpectrumTables& t) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  const double* wr = t.twiddleRe + (kFftPoints - 2 * h);
  const double* wi = t.twiddleIm + (kFftPoints - 2 * h);
  for (int base = 0; base < kFftPoints; base += 2 * h) {
    for (int j = 0; j < h; j += lanes) {
      V ar, ai, br, bi, cr, ci;
      Load(ar, re + base + j), Load(ai, im + base + j);
      Load(br, re + base + j + h), Load(bi, im + base + j + h);
      Load(cr, wr + j), Load(ci, wi + j);
      Butterfly(ar, ai, br, bi, cr, ci);
      Store(re + base + j, ar), Store(im + base + j, ai);
      Store(re + base + j + h, br), Store(im + base + j + h, bi);
    }
  }
}

// The last stage (half-span 1, twiddle exactly 1 + 0i, still applied as a full product) and
// the bit reversal.
void LastStageAndReorder(double* re, double* im, const SpectrumTables& t) {
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

// Stages 1024/512, 256/128, 64/32, 16/8, 4/2 in pairs, then the last one alone.
void Fft2048Sse2(double* re, double* im, const SpectrumTables& t) {
  for (int h = kFftPoints / 2; h >= 4; h /= 4) DoubleStage<V2>(re, im, h, t);
  LastStageAndReorder(re, im, t);
}

#ifdef LINEVIEW_FFT_AVX
// 4 x 4 transpose: afterwards lane k of x_t is what was element t of x_k. Kept in named
// registers: arrays of vectors end up on the stack and stall on store forwarding.
LV_INLINE void Transpose(V4& x0, V4& x1, V4& x2, V4& x3) {
  const V4 t0 = __builtin_shufflevector(x0, x1, 0, 4, 2, 6);
  const V4 t1 = __builtin_shufflevector(x0, x1, 1, 5, 3, 7);
  const V4 t2 = __builtin_shufflevector(x2, x3, 0, 4, 2, 6);
  const V4 t3 = __builtin_shufflevector(x2, x3, 1, 5, 3, 7);
  x0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  x2 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  x1 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  x3 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// The last two stages (half-spans 2 and 1) fused with the bit reversal, out of place. Point t
// of the group of four at 4g lands at rev9(g) + 512 * rev2(t); for g < 128 the groups g,
// g+256, g+128, g+384 land on four consecutive positions starting at rev9(g) = 4 * rev7(g),
// so with one of those groups per lane every store is a whole vector.
__attribute__((target("avx"))) void LastStagesReordered(double* re, double* im, const SpectrumTables& t) {
  alignas(32) double outRe[kFftPoints], outIm[kFftPoints];
  const V4 w0r = V4{} + t.twiddleRe[kFftPoints - 4], w0i = V4{} + t.twiddleIm[kFftPoints - 4];
  const V4 w1r = V4{} + t.twiddleRe[kFftPoints - 3], w1i = V4{} + t.twiddleIm[kFftPoints - 3];
  const V4 ur = V4{} + t.twiddleRe[kFftPoints - 2], ui = V4{} + t.twiddleIm[kFftPoints - 2];
  for (int g = 0; g < 128; ++g) {
    V4 r0, r1, r2, r3, i0, i1, i2, i3;
    Load(r0, re + 4 * g), Load(r1, re + 4 * (g + 256)), Load(r2, re + 4 * (g + 128)), Load(r3, re + 4 * (g + 384));
    Load(i0, im + 4 * g), Load(i1, im + 4 * (g + 256)), Load(i2, im + 4 * (g + 128)), Load(i3, im + 4 * (g + 384));
    Transpose(r0, r1, r2, r3);
    Transpose(i0, i1, i2, i3);
    Butterfly(r0, i0, r2, i2, w0r, w0i);
    Butterfly(r1, i1, r3, i3, w1r, w1i);
    Butterfly(r0, i0, r1, i1, ur, ui);
    Butterfly(r2, i2, r3, i3, ur, ui);
    const int base = 4 * t.reversed7[g];
    Store(outRe + base, r0), Store(outRe + base + 1024, r1), Store(outRe + base + 512, r2);
    Store(outRe + base + 1536, r3);
    Store(outIm + base, i0), Store(outIm + base + 1024, i1), Store(outIm + base + 512, i2);
    Store(outIm + base + 1536, i3);
  }
  std::memcpy(re, outRe, sizeof outRe);
  std::memcpy(im, outIm, sizeof outIm);
}

__attribute__((target("avx"))) void Fft2048Avx(double* re, double* im, const SpectrumTables& t) {
  for (int h = kFftPoints / 2; h >= 16; h /= 4) DoubleStage<V4>(re, im, h, t);
  SingleStage<V4>(re, im, 4, t);
  LastStagesReordered(re, im, t);
}
#endif

}  // namespace

void Fft2048(double* re, double* im, const SpectrumTables& t) {
#ifdef LINEVIEW_FFT_AVX
  if (t.useAvx) return Fft2048Avx(re, im, t);
#endif
  Fft2048Sse2(re, im, t);
}

int ClampSensitivity(int sensitivity) { return std::clamp(sensitivity, 10, 110); }

int SpectrumGridStep(int s) {
  if (s <= 20) return 2;
  if (s <= 50) return 5;
  return 10;
}

int SpectrumGridRows(int s) { return s / SpectrumGridStep(s); }

void ComputeSpectrum(const int32_t* samples, int n, int windowFunction, int sensitivity, double* re, double* im,
                     double* magnitude, const SpectrumTables* tables) {
  const int s = ClampSensitivity(sensitivity);
  ResampleLine(samples, n, re, im, kFftPoints);
  if (windowFunction >= WindowHamming && windowFunction <= WindowBlackman) {
    if (tables) {
      const double* w = tables->window[windowFunction];
      for (int i = 0; i < kFftPoints; i += 2) {
        V2 a, b;
        Load(a, re + i), Load(b, w + i);
        Store(re + i, a * b);
      }
    } else {
      for (int i = 0; i < kFftPoints; ++i) re[i] *= WindowWeight(windowFunction, i);
    }
  }
  if (tables)
    Fft2048(re, im, *tables);
  else
    Fft(re, im, kFftPoints, 1);
  const double empty = (s - 110) * 10.0;
  // Magnitudes two at a time (the square root is exactly rounded either way), then the dB scale.
  int k = 0;
#ifdef __SSE2__
  for (; k + 2 <= kSpectrumBins; k += 2) {
    const __m128d r = _mm_loadu_pd(re + k), i = _mm_loadu_pd(im + k);
    _mm_storeu_pd(magnitude + k, _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(i, i), _mm_mul_pd(r, r))));
  }
#endif
  for (; k < kSpectrumBins; ++k) magnitude[k] = std::sqrt(im[k] * im[k] + re[k] * re[k]);
  k = 0;
#ifdef __SSE2__
  for (; k + 2 <= kSpectrumBins; k += 2) {
    if (!Log10PairReady(magnitude[k], magnitude[k + 1])) break;
    const __m128d db = Log10Pair(_mm_mul_pd(_mm_loadu_pd(magnitude + k), _mm_set1_pd(kFullScale)));
    _mm_storeu_pd(magnitude + k, _mm_mul_pd(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(20.0), db), _mm_set1_pd(s)),
                                            _mm_set1_pd(10.0)));
  }
#endif
  for (; k < kSpectrumBins; ++k) {
    const double m = magnitude[k];
    magnitude[k] = m != 0 ? (20 * Log10(m * kFullScale) + s) * 10 : empty;
  }
}

void RenderSpectrum(const AnalysisSettings& st, int n, int32_t* const channels[ChannelCount], double* re,
                    double* im, double* magnitude, const SpectrumTables* tables, PlotCanvas& canvas) {
  const int s = ClampSensitivity(st.FFTSensitivity);
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(27, SpectrumGridRows(s), kPageGridColor);
  // Styles outside 0..2 draw nothing; the spectrum is still computed so the buffers stay current.
  const bool drawable = st.FFTDiagMode >= Outline && st.FFTDiagMode <= Points;
  for (int ch = FirstChannel(st); ch < FirstChannel(st) + 3; ++ch) {
    if (!ChannelShown(st, ch)) continue;
    ComputeSpectrum(channels[ch], n, st.WindowFunction, s, re, im, magnitude, tables);
    if (drawable)
      canvas.PlotSeries(magnitude, kSpectrumDrawnBins, kAnalyserTraceColor[ch], kRopMergePen, st.FFTDiagMode, 1,
                        10.0 * s);
  }
  canvas.Present();
}
