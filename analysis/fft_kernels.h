// The complex transform's stages on vectors of doubles, or on plain doubles for the scalar path:
// fft.cpp's whole transform and fft_real.h's real line share them. Every operation is the one of
// Fft's loop, in the same order and without fused multiply-add, so all paths give the same bits.
// always_inline: they are compiled into each path's function (see simd_lanes.h).
#pragma once
#include "analysis/simd_lanes.h"
#include "analysis/spectrum_tables_layout.h"

namespace dsp {

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

}  // namespace dsp
