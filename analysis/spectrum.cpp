// One channel's spectrum: the line resampled to 2048 points and windowed, the real line's
// transform (fft_real.h), and the bins in dB; the whole once per path, at its vector width.
#include "analysis/spectrum.h"

#include <algorithm>
#include <cstring>

#include "analysis/fft_real.h"
#include "analysis/simd_lanes.h"
#include "analysis/spectrum_tables_layout.h"

namespace {

using namespace dsp;

constexpr double kFullScale = 1.914828431372549e-06;  // 1 / (2048 * 255)

// The line stretched to 2048 points and weighted, in re (ResampleLine's arithmetic, then the
// window's product), one point at a time: for lines of fewer than two samples, and on the
// shared tables, which keep no positions. Those are the scalar path's: the vector paths always
// run on tables of their own, and take ResampleWindowAt. Not inlined: kept out of the paths'
// functions, whose registers the hot loops need (eight vector registers on the 32-bit target).
__attribute__((noinline)) void ResampleWindow(const int32_t* samples, int n, const double* w, double* re) {
  if (n < 2) {
    const double v = n == 1 ? samples[0] : 0.0;
    for (int i = 0; i < kFftPoints; ++i) re[i] = v * w[i];
    return;
  }
  const double step = 1.0 / (kFftPoints - 1);
  for (int i = 0; i <= kFftPoints - 2; ++i) {
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
// ResampleWindowAt four points at a time. Each pair of neighbouring samples is read as two int32
// and converted at once.
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
    ResampleWindow(samples, n, t.window[window], re);
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

}  // namespace

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
    for (int i = 0; i <= m - 2; ++i) {
      const double f = i * step * (n - 1);
      const int k = static_cast<int>(f);
      re[i] = samples[k] + (static_cast<double>(samples[k + 1]) - samples[k]) * (f - k);
    }
    for (int i = 0; i <= m - 2; ++i) im[i] = 0.0;
  }
  re[m - 1] = samples[n - 1];
  im[m - 1] = 0.0;
}

int ClampSensitivity(int sensitivity) { return std::clamp(sensitivity, 10, 110); }

void ComputeSpectrum(const int32_t* samples, int n, int windowFunction, int sensitivity, double* re, double* im,
                     double* magnitude, const SpectrumTables* tables) {
  const int s = ClampSensitivity(sensitivity);
  const SpectrumTables& t = tables ? *tables : SharedScalarTables();
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
