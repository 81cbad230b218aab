// The complex transform: Fft computes everything per call (the reference the others match bit
// for bit), Fft2048 runs from the tables on the path they name.
#include "analysis/fft.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "analysis/fft_kernels.h"
#include "analysis/simd_lanes.h"
#include "analysis/spectrum_tables_layout.h"

namespace {

using namespace dsp;

bool IsPowerOfTwo(int n) { return n >= 1 && (n & (n - 1)) == 0; }

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

}  // namespace

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
