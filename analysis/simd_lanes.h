// The lane arithmetic the spectrum's paths share (as kissfft's _kiss_fft_guts.h): vectors of
// doubles through the GCC/Clang vector extensions, two lanes (SSE2, on every target) and four
// (AVX, where the build can emit it), their loads and stores, and log10 on every lane.
// Everything taking or returning a vector is always_inline: it is compiled into each path's own
// function, the AVX ones included (a real call from AVX code into a function compiled without
// AVX would pass 32-byte vectors wrongly). For the spectrum's files only (namespace dsp).
#pragma once
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#if defined(__x86_64__) || defined(__i386__)
// Four lanes wide where the processor and the operating system allow AVX. On Windows the
// compiler keeps the stack only 16-byte aligned, so 32-byte spills there must not use aligned
// moves: the build assembles every file with AVX code (fft.cpp, spectrum.cpp) with
// -muse-unaligned-vector-move.
#define LINEVIEW_FFT_AVX 1
#include <immintrin.h>
// Inlined into the AVX functions, the calling convention the warning is about never applies.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#define LV_INLINE inline __attribute__((always_inline))

namespace dsp {

typedef double V2 __attribute__((vector_size(16)));  // SSE2, on every target
typedef long long I2 __attribute__((vector_size(16)));
#ifdef LINEVIEW_FFT_AVX
typedef double V4 __attribute__((vector_size(32)));
typedef long long I4 __attribute__((vector_size(32)));
#endif

// Loads and stores go through memcpy because the work buffers are only guaranteed 8-byte
// alignment. V is double for the scalar path.
template <class V>
LV_INLINE void Load(V& v, const double* p) {
  std::memcpy(&v, p, sizeof v);
}
template <class V>
LV_INLINE void Store(double* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// log10 of a positive finite x, within 1e-14. The C library's log10 is most of the spectrum's
// time on the 32-bit Windows runtime; this is plain arithmetic, the same on every platform, in
// vectors where they are there. x = 2^e * f, f in [sqrt(1/2), sqrt(2)); ln f = 2 atanh(s) with
// s = (f-1)/(f+1), |s| <= 0.1716: eight terms of the series leave less than s^17 / 17 < 5e-15
// (1e-13 dB on the page, which needs 1e-9).
constexpr double kLog10Of2 = 0.30102999566398119521;
constexpr double kTwoLog10OfE = 0.86858896380650365530;  // 2 / ln 10
constexpr double kSqrt2 = 1.4142135623730951;

template <typename T>
LV_INLINE T AtanhSeries(T z) {
  return 1.0 + z * (1.0 / 3 + z * (1.0 / 5 + z * (1.0 / 7 + z * (1.0 / 9 + z * (1.0 / 11 +
         z * (1.0 / 13 + z * (1.0 / 15)))))));
}

// Positive, normal and finite (the scaled magnitudes nearly always are): the fast path applies.
inline bool Log10Ready(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const uint64_t biased = (bits >> 52) & 0x7FF;
  return (bits >> 63) == 0 && biased != 0 && biased != 0x7FF;
}

inline double Log10(double x) {
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

// The same arithmetic as Log10 on every lane of a vector, for values Log10Ready accepts.
template <class V, class I>
LV_INLINE V Log10Lanes(V x) {
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

// A lane type's width and its log10.
template <class V>
struct Lanes;
template <>
struct Lanes<double> {
  static constexpr int count = 1;
  static double Log10(double x) { return dsp::Log10(x); }
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
  static LV_INLINE V4 Log10(V4 x) { return Log10Lanes<V4, I4>(x); }
};
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

}  // namespace dsp
