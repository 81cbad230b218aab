#include "analysis/spectrum.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "analysis/page_style.h"
#include "plot/plot_canvas.h"

#if defined(__x86_64__) || defined(__i386__)
// Four lanes wide where the processor and the operating system allow AVX. On Windows the
// compiler keeps the stack only 16-byte aligned, so 32-byte spills there must not use aligned
// moves: the build assembles this file with -muse-unaligned-vector-move.
#define LINEVIEW_FFT_AVX 1
#include <cpuid.h>
#include <immintrin.h>
// Helpers taking or returning 32-byte vectors must all be always_inline: inlined into the AVX
// functions, the calling convention the warning is about never applies (a real call from AVX
// code into a function compiled without AVX would pass the vectors wrongly).
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace {

// The rounded pi the transform and the windows are defined with.
constexpr double kPi = 3.14159265359;
constexpr double kWindowStep = 0.0030679615757714844;   // 2 * kPi / 2048
constexpr double kWindowStep2 = 0.006135923151542969;   // twice that
constexpr double kFullScale = 1.914828431372549e-06;    // 1 / (2048 * 255)

// log10 of a positive finite x, within 1e-14. The C library's log10 is most of the spectrum's
// time on the 32-bit Windows runtime; this is plain arithmetic, the same on every platform, in
// vectors where they are there. x = 2^e * f, f in [sqrt(1/2), sqrt(2)); ln f = 2 atanh(s) with
// s = (f-1)/(f+1), |s| <= 0.1716: eight terms of the series leave less than s^17 / 17 < 5e-15
// (1e-13 dB on the page, which needs 1e-9).
constexpr double kLog10Of2 = 0.30102999566398119521;
constexpr double kTwoLog10OfE = 0.86858896380650365530;  // 2 / ln 10
constexpr double kSqrt2 = 1.4142135623730951;

template <typename T>
inline __attribute__((always_inline)) T AtanhSeries(T z) {
  return 1.0 + z * (1.0 / 3 + z * (1.0 / 5 + z * (1.0 / 7 + z * (1.0 / 9 + z * (1.0 / 11 +
         z * (1.0 / 13 + z * (1.0 / 15)))))));
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


// The same arithmetic as Log10 on every lane of a vector (GCC/Clang vector extensions), for
// values Log10Ready accepts.
typedef double V2 __attribute__((vector_size(16)));  // SSE2, on every target
typedef long long I2 __attribute__((vector_size(16)));
#ifdef LINEVIEW_FFT_AVX
typedef double V4 __attribute__((vector_size(32)));
typedef long long I4 __attribute__((vector_size(32)));
#endif

template <class V, class I>
inline __attribute__((always_inline)) V Log10Lanes(V x) {
  const I bits = reinterpret_cast<I>(x);
  // The biased exponent as a double: placed in the low mantissa bits of 2^52, then 2^52 taken off.
  const V two52 = V{} + 4503599627370496.0;
  V e = reinterpret_cast<V>((bits >> 52) | reinterpret_cast<I>(two52)) - two52;
  e = e - 1023.0;
  V f = reinterpret_cast<V>((bits & 0x000FFFFFFFFFFFFFll) | 0x3FF0000000000000ll);
  const I big = f > (V{} + kSqrt2);
  f = reinterpret_cast<V>((reinterpret_cast<I>(f * 0.5) & big) | (reinterpret_cast<I>(f) & ~big));
  e = e + reinterpret_cast<V>(big & reinterpret_cast<I>(V{} + 1.0));
  const V s = (f - 1.0) / (f + 1.0);
  return e * kLog10Of2 + kTwoLog10OfE * s * AtanhSeries(s * s);
}

template <class V>
struct Lanes;
template <>
struct Lanes<double> {
  static constexpr int count = 1;
  static double Log10(double x) { return ::Log10(x); }
};
template <>
struct Lanes<V2> {
  static constexpr int count = 2;
  static V2 Log10(V2 x) { return Log10Lanes<V2, I2>(x); }
};
#ifdef LINEVIEW_FFT_AVX
template <>
struct Lanes<V4> {
  static constexpr int count = 4;
  static inline __attribute__((always_inline)) V4 Log10(V4 x) { return Log10Lanes<V4, I4>(x); }
};
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

constexpr int kHalfPoints = kFftPoints / 2;  // the complex transform of a real line

int ReverseBits(int v, int bits) {
  int r = 0;
  for (int b = 0; b < bits; ++b) r |= ((v >> b) & 1) << (bits - 1 - b);
  return r;
}

// AVX needs the processor's support and the operating system's: XGETBV tells whether it saves
// the YMM registers' upper halves on a task switch (XCR0 bits 1 and 2).
bool AvxUsable() {
#ifdef LINEVIEW_FFT_AVX
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const unsigned osxsave = 1u << 27, avx = 1u << 28;
  if ((c & osxsave) == 0 || (c & avx) == 0) return false;
  unsigned lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (lo & 6u) == 6u;
#else
  return false;
#endif
}

}  // namespace

struct SpectrumTables {
  // Stage with half-span h keeps its h twiddles at offset kFftPoints - 2h.
  alignas(64) double twiddleRe[kFftPoints];
  alignas(64) double twiddleIm[kFftPoints];
  alignas(64) double window[4][kFftPoints];  // index by WindowFunctionCode; [0] all ones
  uint16_t swapA[kFftPoints / 2];
  uint16_t swapB[kFftPoints / 2];
  int swapCount;
  SpectrumPath path;
  int16_t reversed7[128];  // 7-bit reversal, for the fused last stages
  uint16_t reversed10[kHalfPoints];  // 10-bit reversal: where the real line's bins sit
  // Where each of the points 0..2046 falls on a line of `resampleWidth` samples (ResampleLine's
  // arithmetic: sample, and the fraction towards the next), worked out for the first line of a
  // width and kept for the next ones. The tables belong to one frame path, as its buffers do.
  mutable int resampleWidth;
  mutable int32_t resampleAt[kFftPoints];
  alignas(64) mutable double resampleFrac[kFftPoints];
};

SpectrumPath BestSpectrumPath() {
  static const SpectrumPath best = AvxUsable() ? SpectrumPath::Avx : SpectrumPath::Sse2;
  return best;
}

SpectrumPath TablesPath(const SpectrumTables& tables) { return tables.path; }

SpectrumTables* CreateSpectrumTables(bool allowWideVectors) {
  return CreateSpectrumTables(allowWideVectors ? BestSpectrumPath() : SpectrumPath::Sse2);
}

namespace {

void FillTables(SpectrumTables* t, SpectrumPath path) {
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
  t->path = path == SpectrumPath::Avx && BestSpectrumPath() != SpectrumPath::Avx ? SpectrumPath::Sse2 : path;
  t->resampleWidth = 0;
  for (int g = 0; g < 128; ++g) t->reversed7[g] = static_cast<int16_t>(ReverseBits(g, 7));
  for (int i = 0; i < kHalfPoints; ++i) t->reversed10[i] = static_cast<uint16_t>(ReverseBits(i, 10));
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
}

}  // namespace

SpectrumTables* CreateSpectrumTables(SpectrumPath path) {
  SpectrumTables* t = new (std::nothrow) SpectrumTables;
  if (t) FillTables(t, path);
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

// The transform's butterflies on vectors of doubles, or on plain doubles for the scalar path.
// Every operation is the one of the scalar loop, in the same order and without fused
// multiply-add, so all paths give the same bits. Loads and stores go through memcpy because the
// work buffers are only guaranteed 8-byte alignment.
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

// Two consecutive stages (half-spans h and h/2) of an n-point transform in one pass over the
// data: each group of four points only meets itself in both stages. Needs h/2 >= the lane count.
template <class V>
LV_INLINE void DoubleStage(double* re, double* im, int n, int h, const SpectrumTables& t) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  const int q = h / 2;
  const double* w1r = t.twiddleRe + (kFftPoints - 2 * h);
  const double* w1i = t.twiddleIm + (kFftPoints - 2 * h);
  const double* w2r = t.twiddleRe + (kFftPoints - h);
  const double* w2i = t.twiddleIm + (kFftPoints - h);
  for (int base = 0; base < n; base += 2 * h) {
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

// One stage of half-span h >= the lane count.
template <class V>
LV_INLINE void SingleStage(double* re, double* im, int n, int h, const SpectrumTables& t) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  const double* wr = t.twiddleRe + (kFftPoints - 2 * h);
  const double* wi = t.twiddleIm + (kFftPoints - 2 * h);
  for (int base = 0; base < n; base += 2 * h) {
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
// the bit reversal, in place.
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
template <class V>
LV_INLINE void Fft2048Pairs(double* re, double* im, const SpectrumTables& t) {
  for (int h = kFftPoints / 2; h >= 4; h /= 4) DoubleStage<V>(re, im, kFftPoints, h, t);
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

// The last two stages (half-spans 2 and 1) of an n-point transform fused with the bit reversal,
// out of place. Point t of the group of four at 4g lands at rev(g) + (n / 4) * rev2(t); for
// g < n / 16 the groups g, g + n/8, g + n/16, g + 3n/16 land on four consecutive positions
// starting at 4 * rev(g) (reversal of log2(n) - 4 bits), so with one of those groups per lane
// every store is a whole vector.
template <int n>
LV_INLINE void LastStagesReordered(const double* re, const double* im, double* outRe, double* outIm,
                                   const int16_t* reversed, const SpectrumTables& t) {
  const V4 w0r = V4{} + t.twiddleRe[kFftPoints - 4], w0i = V4{} + t.twiddleIm[kFftPoints - 4];
  const V4 w1r = V4{} + t.twiddleRe[kFftPoints - 3], w1i = V4{} + t.twiddleIm[kFftPoints - 3];
  const V4 ur = V4{} + t.twiddleRe[kFftPoints - 2], ui = V4{} + t.twiddleIm[kFftPoints - 2];
  for (int g = 0; g < n / 16; ++g) {
    V4 r0, r1, r2, r3, i0, i1, i2, i3;
    Load(r0, re + 4 * g), Load(r1, re + 4 * (g + n / 8)), Load(r2, re + 4 * (g + n / 16));
    Load(r3, re + 4 * (g + 3 * n / 16));
    Load(i0, im + 4 * g), Load(i1, im + 4 * (g + n / 8)), Load(i2, im + 4 * (g + n / 16));
    Load(i3, im + 4 * (g + 3 * n / 16));
    Transpose(r0, r1, r2, r3);
    Transpose(i0, i1, i2, i3);
    Butterfly(r0, i0, r2, i2, w0r, w0i);
    Butterfly(r1, i1, r3, i3, w1r, w1i);
    Butterfly(r0, i0, r1, i1, ur, ui);
    Butterfly(r2, i2, r3, i3, ur, ui);
    const int base = 4 * reversed[g];
    Store(outRe + base, r0), Store(outRe + base + n / 2, r1), Store(outRe + base + n / 4, r2);
    Store(outRe + base + 3 * n / 4, r3);
    Store(outIm + base, i0), Store(outIm + base + n / 2, i1), Store(outIm + base + n / 4, i2);
    Store(outIm + base + 3 * n / 4, i3);
  }
}

__attribute__((target("avx"))) void Fft2048Avx(double* re, double* im, const SpectrumTables& t) {
  for (int h = kFftPoints / 2; h >= 16; h /= 4) DoubleStage<V4>(re, im, kFftPoints, h, t);
  SingleStage<V4>(re, im, kFftPoints, 4, t);
  alignas(32) double outRe[kFftPoints], outIm[kFftPoints];
  LastStagesReordered<kFftPoints>(re, im, outRe, outIm, t.reversed7, t);
  std::memcpy(re, outRe, sizeof outRe);
  std::memcpy(im, outIm, sizeof outIm);
}
#endif

__attribute__((noinline)) void Fft2048Scalar(double* re, double* im, const SpectrumTables& t) {
  Fft2048Pairs<double>(re, im, t);
}
__attribute__((noinline)) void Fft2048Sse2(double* re, double* im, const SpectrumTables& t) {
  Fft2048Pairs<V2>(re, im, t);
}

// The transform of a real line, operation for operation the one of Fft and Fft2048 where their
// results can be nonzero, for bins 0..1023. Decimation in frequency keeps the first half of each
// block real (sums of real points) and makes the second half complex (differences times
// twiddles): the real half goes on the same way, the complex half through a complex transform of
// its own. Products with an imaginary part that is exactly zero and sums with such a part are
// left out; they would change no bit of a nonzero value (x - 0 * w == x). Of the last stage only
// the sums are formed: the differences land on bins 1024..2047.
template <class V>
LV_INLINE void RealStage(double* re, double* im, int h, const SpectrumTables& t) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  const double* wr = t.twiddleRe + (kFftPoints - 2 * h);
  const double* wi = t.twiddleIm + (kFftPoints - 2 * h);
  for (int j = 0; j < h; j += lanes) {
    V a, b, cr, ci;
    Load(a, re + j), Load(b, re + j + h), Load(cr, wr + j), Load(ci, wi + j);
    const V d = a - b;
    Store(re + j, a + b);
    Store(re + j + h, d * cr), Store(im + j + h, d * ci);
  }
}

// Complex transform of the m points at position `base` of re/im, stages m/2 .. 2 in full; of the
// last only the sums, each stored straight at its bin in binRe/binIm: position 2q is bin rev10(q).
template <class V, class Narrow>
LV_INLINE void ComplexBlock(double* re, double* im, int base, int m, double* binRe, double* binIm,
                            const SpectrumTables& t) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  constexpr int narrow = sizeof(Narrow) / sizeof(double);
  double* r = re + base;
  double* i = im + base;
  int h = m / 2;
  for (; h >= 8 && h / 2 >= lanes; h /= 4) DoubleStage<V>(r, i, m, h, t);
  for (; h >= 4 && h >= narrow; h /= 2) SingleStage<Narrow>(r, i, m, h, t);
  for (; h >= 4; h /= 2) SingleStage<double>(r, i, m, h, t);
  if (m == 2) {
    binRe[t.reversed10[base / 2]] = r[0] + r[1];
    binIm[t.reversed10[base / 2]] = i[0] + i[1];
    return;
  }
  // Stage 2 and the sums of stage 1 on each group of four points, kept in registers.
  const double w0r = t.twiddleRe[kFftPoints - 4], w0i = t.twiddleIm[kFftPoints - 4];
  const double w1r = t.twiddleRe[kFftPoints - 3], w1i = t.twiddleIm[kFftPoints - 3];
  for (int p = 0; p < m; p += 4) {
    double r0 = r[p], r1 = r[p + 1], r2 = r[p + 2], r3 = r[p + 3];
    double i0 = i[p], i1 = i[p + 1], i2 = i[p + 2], i3 = i[p + 3];
    Butterfly(r0, i0, r2, i2, w0r, w0i);
    Butterfly(r1, i1, r3, i3, w1r, w1i);
    const int k0 = t.reversed10[(base + p) / 2], k2 = t.reversed10[(base + p) / 2 + 1];
    binRe[k0] = r0 + r1, binIm[k0] = i0 + i1;
    binRe[k2] = r2 + r3, binIm[k2] = i2 + i3;
  }
}

// Bins 0..1023 of the real line in re[0..2047], in order into binRe/binIm. Bin k is at position
// rev11(k), always even for k < 1024.
template <class V, class Narrow>
LV_INLINE void RealTransform(double* re, double* im, double* binRe, double* binIm, const SpectrumTables& t) {
  constexpr int lanes = sizeof(V) / sizeof(double);
  for (int h = kFftPoints / 2; h >= 1; h /= 2) {
    if (h >= lanes)
      RealStage<V>(re, im, h, t);
    else
      RealStage<double>(re, im, h, t);
    if (h >= 2) ComplexBlock<V, Narrow>(re, im, h, h, binRe, binIm, t);
  }
  binRe[0] = re[0];
  binIm[0] = 0.0;
}

// The line stretched to 2048 points and weighted, in re (ResampleLine's arithmetic, then the
// window's product).
template <class V>
LV_INLINE void ResampleWindow(const int32_t* samples, int n, const double* w, double* re) {
  if (n < 2) {
    const double v = n == 1 ? samples[0] : 0.0;
    for (int i = 0; i < kFftPoints; ++i) re[i] = v * w[i];
    return;
  }
  const double step = 1.0 / (kFftPoints - 1);
  int i = 0;
#ifdef __SSE2__
  if constexpr (Lanes<V>::count > 1) {
    // Two points at a time, each lane doing the scalar loop's operations in its order.
    const __m128d vstep = _mm_set1_pd(step), span = _mm_set1_pd(n - 1);
    for (; i + 1 <= kFftPoints - 2; i += 2) {
      const __m128d f = _mm_mul_pd(_mm_mul_pd(_mm_set_pd(i + 1, i), vstep), span);
      const __m128i k = _mm_cvttpd_epi32(f);
      const int k0 = _mm_cvtsi128_si32(k), k1 = _mm_cvtsi128_si32(_mm_srli_si128(k, 4));
      const __m128d a = _mm_set_pd(samples[k1], samples[k0]);
      const __m128d b = _mm_set_pd(samples[k1 + 1], samples[k0 + 1]);
      const __m128d v = _mm_add_pd(a, _mm_mul_pd(_mm_sub_pd(b, a), _mm_sub_pd(f, _mm_cvtepi32_pd(k))));
      _mm_storeu_pd(re + i, _mm_mul_pd(v, _mm_loadu_pd(w + i)));
    }
  }
#endif
  for (; i <= kFftPoints - 2; ++i) {
    const double f = i * step * (n - 1);
    const int k = static_cast<int>(f);
    re[i] = (samples[k] + (static_cast<double>(samples[k + 1]) - samples[k]) * (f - k)) * w[i];
  }
  re[kFftPoints - 1] = samples[n - 1] * w[kFftPoints - 1];
}

// The positions ResampleWindow works out, once per line width: f, its whole part and the
// fraction, by the same operations.
void PreparePositions(const SpectrumTables& t, int n) {
  const double step = 1.0 / (kFftPoints - 1);
  for (int i = 0; i <= kFftPoints - 2; ++i) {
    const double f = i * step * (n - 1);
    const int k = static_cast<int>(f);
    t.resampleAt[i] = k;
    t.resampleFrac[i] = f - k;
  }
  t.resampleWidth = n;
}

// ResampleWindow from the kept positions: the same products and sums, without finding them.
template <class V>
LV_INLINE void ResampleWindowAt(const int32_t* samples, int n, const SpectrumTables& t, const double* w, double* re) {
  const int32_t* at = t.resampleAt;
  const double* frac = t.resampleFrac;
  int i = 0;
#ifdef __SSE2__
  if constexpr (Lanes<V>::count > 1) {
    for (; i + 1 <= kFftPoints - 2; i += 2) {
      const __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[i]));
      const __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[i + 1]));
      const __m128d x = _mm_cvtepi32_pd(p0), y = _mm_cvtepi32_pd(p1);  // (a, b) of each point
      const __m128d a = _mm_unpacklo_pd(x, y), b = _mm_unpackhi_pd(x, y);
      const __m128d v = _mm_add_pd(a, _mm_mul_pd(_mm_sub_pd(b, a), _mm_loadu_pd(frac + i)));
      _mm_storeu_pd(re + i, _mm_mul_pd(v, _mm_loadu_pd(w + i)));
    }
  }
#endif
  for (; i <= kFftPoints - 2; ++i) {
    const int k = at[i];
    re[i] = (samples[k] + (static_cast<double>(samples[k + 1]) - samples[k]) * frac[i]) * w[i];
  }
  re[kFftPoints - 1] = samples[n - 1] * w[kFftPoints - 1];
}

#ifdef LINEVIEW_FFT_AVX
// ResampleWindow four points at a time. Each pair of neighbouring samples is read as two int32
// and converted at once.
__attribute__((target("avx"), noinline)) void ResampleWindowAvx(const int32_t* samples, int n, const double* w,
                                                               double* re) {
  if (n < 2) return ResampleWindow<double>(samples, n, w, re);
  const double step = 1.0 / (kFftPoints - 1);
  const __m256d vstep = _mm256_set1_pd(step), span = _mm256_set1_pd(n - 1);
  const __m256d order = _mm256_set_pd(3, 2, 1, 0);
  int i = 0;
  for (; i + 3 <= kFftPoints - 2; i += 4) {
    const __m256d f = _mm256_mul_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_set1_pd(i), order), vstep), span);
    const __m128i k = _mm256_cvttpd_epi32(f);
    alignas(16) int32_t at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), k);
    // Pairs (a, b) of points i and i+2, then of i+1 and i+3: unpacking gives a and b in order.
    const __m128i even = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[0])),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[2])));
    const __m128i odd = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[1])),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[3])));
    const __m256d x = _mm256_cvtepi32_pd(even), y = _mm256_cvtepi32_pd(odd);
    const __m256d a = _mm256_unpacklo_pd(x, y), b = _mm256_unpackhi_pd(x, y);
    const __m256d v = _mm256_add_pd(a, _mm256_mul_pd(_mm256_sub_pd(b, a), _mm256_sub_pd(f, _mm256_cvtepi32_pd(k))));
    _mm256_storeu_pd(re + i, _mm256_mul_pd(v, _mm256_loadu_pd(w + i)));
  }
  for (; i <= kFftPoints - 2; ++i) {
    const double f = i * step * (n - 1);
    const int k = static_cast<int>(f);
    re[i] = (samples[k] + (static_cast<double>(samples[k + 1]) - samples[k]) * (f - k)) * w[i];
  }
  re[kFftPoints - 1] = samples[n - 1] * w[kFftPoints - 1];
}

// ResampleWindowAt four points at a time.
__attribute__((target("avx"), noinline)) void ResampleWindowAtAvx(const int32_t* samples, int n,
                                                                 const SpectrumTables& t, const double* w,
                                                                 double* re) {
  const int32_t* at = t.resampleAt;
  int i = 0;
  for (; i + 3 <= kFftPoints - 2; i += 4) {
    const __m128i even = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[i])),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[i + 2])));
    const __m128i odd = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[i + 1])),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + at[i + 3])));
    const __m256d x = _mm256_cvtepi32_pd(even), y = _mm256_cvtepi32_pd(odd);
    const __m256d a = _mm256_unpacklo_pd(x, y), b = _mm256_unpackhi_pd(x, y);
    const __m256d v = _mm256_add_pd(a, _mm256_mul_pd(_mm256_sub_pd(b, a), _mm256_loadu_pd(t.resampleFrac + i)));
    _mm256_storeu_pd(re + i, _mm256_mul_pd(v, _mm256_loadu_pd(w + i)));
  }
  for (; i <= kFftPoints - 2; ++i) {
    const int k = at[i];
    re[i] = (samples[k] + (static_cast<double>(samples[k + 1]) - samples[k]) * t.resampleFrac[i]) * w[i];
  }
  re[kFftPoints - 1] = samples[n - 1] * w[kFftPoints - 1];
}
#endif

// Lanes whose value the fast logarithm does not take (zero, subnormal, infinite, NaN): nonzero.
LV_INLINE long long NotReady(double p) { return !(p >= DBL_MIN && p <= DBL_MAX); }
LV_INLINE I2 NotReady(V2 p) { return ~((p >= (V2{} + DBL_MIN)) & (p <= (V2{} + DBL_MAX))); }
LV_INLINE bool Any(long long m) { return m != 0; }
LV_INLINE bool Any(I2 m) { return (m[0] | m[1]) != 0; }
#ifdef LINEVIEW_FFT_AVX
LV_INLINE I4 NotReady(V4 p) { return ~((p >= (V4{} + DBL_MIN)) & (p <= (V4{} + DBL_MAX))); }
LV_INLINE bool Any(I4 m) { return (m[0] | m[1] | m[2] | m[3]) != 0; }
#endif

// (dB + s) * 10 of bins 0..1023 into out, the bins themselves copied to re/im on the way,
// from the squared magnitudes: 20 log10(m / full scale) is
// 10 log10(m^2 / full scale^2), with no square root.
template <class V>
LV_INLINE void DecibelSeries(const double* binRe, const double* binIm, int s, double* out, double* re, double* im) {
  constexpr int lanes = Lanes<V>::count;
  constexpr double scale2 = kFullScale * kFullScale;
  const double offset = s;
  decltype(NotReady(V{})) notReady{};
  for (int k = 0; k < kSpectrumBins; k += lanes) {
    V r, i;
    Load(r, binRe + k), Load(i, binIm + k);
    Store(re + k, r), Store(im + k, i);
    const V p = (i * i + r * r) * scale2;
    notReady |= NotReady(p);
    Store(out + k, (10.0 * Lanes<V>::Log10(p) + offset) * 10.0);
  }
  if (!Any(notReady)) return;
  // Rare (empty bins, mostly): those bins again, one at a time.
  const double empty = (s - 110) * 10.0;
  for (int k = 0; k < kSpectrumBins; ++k) {
    const double p = (im[k] * im[k] + re[k] * re[k]) * scale2;
    if (!Log10Ready(p)) out[k] = p != 0 ? (10.0 * Log10(p) + offset) * 10.0 : empty;
  }
}

template <class V, class Narrow>
LV_INLINE void ComputeSpectrumWith(const int32_t* samples, int n, int windowFunction, int s, double* re,
                                   double* im, double* magnitude, const SpectrumTables& t, bool keepPositions) {
  const int window = windowFunction >= WindowHamming && windowFunction <= WindowBlackman ? windowFunction : 0;
  if (keepPositions && n >= 2) {
    if (t.resampleWidth != n) PreparePositions(t, n);
#ifdef LINEVIEW_FFT_AVX
    if constexpr (Lanes<V>::count == 4)
      ResampleWindowAtAvx(samples, n, t, t.window[window], re);
    else
#endif
      ResampleWindowAt<V>(samples, n, t, t.window[window], re);
  } else {
#ifdef LINEVIEW_FFT_AVX
    if constexpr (Lanes<V>::count == 4)
      ResampleWindowAvx(samples, n, t.window[window], re);
    else
#endif
      ResampleWindow<V>(samples, n, t.window[window], re);
  }
  // The bins go to a buffer of their own (the transform's positions are still being read), and
  // on to re/im[0..1023] for the caller with the dB series.
  alignas(32) double binRe[kSpectrumBins], binIm[kSpectrumBins];
  RealTransform<V, Narrow>(re, im, binRe, binIm, t);
  DecibelSeries<V>(binRe, binIm, s, magnitude, re, im);
}

__attribute__((noinline)) void ComputeScalar(const int32_t* samples, int n, int window, int s, double* re,
                                             double* im, double* magnitude, const SpectrumTables& t, bool keep) {
  ComputeSpectrumWith<double, double>(samples, n, window, s, re, im, magnitude, t, keep);
}
__attribute__((noinline)) void ComputeSse2(const int32_t* samples, int n, int window, int s, double* re,
                                           double* im, double* magnitude, const SpectrumTables& t, bool keep) {
  ComputeSpectrumWith<V2, V2>(samples, n, window, s, re, im, magnitude, t, keep);
}
#ifdef LINEVIEW_FFT_AVX
__attribute__((target("avx"), noinline)) void ComputeAvx(const int32_t* samples, int n, int window, int s,
                                                         double* re, double* im, double* magnitude,
                                                         const SpectrumTables& t, bool keep) {
  ComputeSpectrumWith<V4, V2>(samples, n, window, s, re, im, magnitude, t, keep);
}
#endif

// Without tables from the caller: the scalar path's, built on first use in static storage.
const SpectrumTables& OwnTables() {
  static SpectrumTables tables;
  static const bool filled = (FillTables(&tables, SpectrumPath::Scalar), true);
  (void)filled;
  return tables;
}

}  // namespace

void Fft2048(double* re, double* im, const SpectrumTables& t) {
  switch (t.path) {
#ifdef LINEVIEW_FFT_AVX
    case SpectrumPath::Avx:
      return Fft2048Avx(re, im, t);
#endif
    case SpectrumPath::Scalar:
      return Fft2048Scalar(re, im, t);
    default:
      return Fft2048Sse2(re, im, t);
  }
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
  const SpectrumTables& t = tables ? *tables : OwnTables();
  // The shared tables of callers without their own may be used by several threads: they keep nothing.
  const bool keep = tables != nullptr;
  switch (t.path) {
#ifdef LINEVIEW_FFT_AVX
    case SpectrumPath::Avx:
      return ComputeAvx(samples, n, windowFunction, s, re, im, magnitude, t, keep);
#endif
    case SpectrumPath::Scalar:
      return ComputeScalar(samples, n, windowFunction, s, re, im, magnitude, t, keep);
    default:
      return ComputeSse2(samples, n, windowFunction, s, re, im, magnitude, t, keep);
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
