// The transform of a real line of 2048 points, on top of the complex transform's stages (as
// kissfft's kiss_fftr on kiss_fft): operation for operation the one of Fft and Fft2048 where
// their results can be nonzero, for bins 0..1023. Decimation in frequency keeps the first half
// of each block real (sums of real points) and makes the second half complex (differences times
// twiddles): the real half goes on the same way, the complex half through a complex transform of
// its own. Products with an imaginary part that is exactly zero and sums with such a part are
// left out; they would change no bit of a nonzero value (x - 0 * w == x). Of the last stage only
// the sums are formed: the differences land on bins 1024..2047.
// Inline, not a file of its own: it runs inside each path's spectrum function (spectrum.cpp),
// compiled for that path's vector width, with one dispatch per spectrum.
#pragma once
#include "analysis/fft_kernels.h"
#include "analysis/simd_lanes.h"
#include "analysis/spectrum_tables_layout.h"

namespace dsp {

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

// Bins 0..1023 of the real line in re[0..2047], in order into binRe/binIm (re and im are worked
// in). Bin k is at position rev11(k), always even for k < 1024. V is the path's lane type, Narrow
// the one for stages too short for V.
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

}  // namespace dsp
