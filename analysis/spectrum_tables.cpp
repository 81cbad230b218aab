// Building the spectrum's tables, and choosing the path: AVX where the processor and the
// operating system allow it.
#include "analysis/spectrum_tables.h"

#include <cmath>
#include <new>

#include "analysis/simd_lanes.h"  // whether the build has the AVX path
#include "analysis/spectrum_tables_layout.h"

#ifdef LINEVIEW_FFT_AVX
#include <cpuid.h>
#endif

namespace {

constexpr double kWindowStep = 0.0030679615757714844;   // 2 * kPi / 2048
constexpr double kWindowStep2 = 0.006135923151542969;   // twice that

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

// The twiddles come out of the rotation recurrence exactly as the per-call transform makes them.
void FillTwiddles(SpectrumTables* t) {
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
}

// The reversals and the bit-reversal swaps, the latter in the order the per-call transform
// makes them.
void FillReversals(SpectrumTables* t) {
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

void FillTables(SpectrumTables* t, SpectrumPath path) {
  FillTwiddles(t);
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < kFftPoints; ++i) t->window[w][i] = WindowWeight(w, i);
  t->path = path == SpectrumPath::Avx && BestSpectrumPath() != SpectrumPath::Avx ? SpectrumPath::Sse2 : path;
  t->resampleWidth = 0;
  FillReversals(t);
}

}  // namespace

SpectrumPath BestSpectrumPath() {
  static const SpectrumPath best = AvxUsable() ? SpectrumPath::Avx : SpectrumPath::Sse2;
  return best;
}

SpectrumPath TablesPath(const SpectrumTables& tables) { return tables.path; }

SpectrumTables* CreateSpectrumTables(bool allowWideVectors) {
  return CreateSpectrumTables(allowWideVectors ? BestSpectrumPath() : SpectrumPath::Sse2);
}

SpectrumTables* CreateSpectrumTables(SpectrumPath path) {
  SpectrumTables* t = new (std::nothrow) SpectrumTables;
  if (t) FillTables(t, path);
  return t;
}

void DestroySpectrumTables(SpectrumTables* tables) { delete tables; }

const SpectrumTables& SharedScalarTables() {
  static SpectrumTables tables;
  static const bool filled = (FillTables(&tables, SpectrumPath::Scalar), true);
  (void)filled;
  return tables;
}
