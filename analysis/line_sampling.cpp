#include "analysis/line_sampling.h"

#include <emmintrin.h>

#include <cstddef>

namespace {

inline size_t RowOffsetYuy2(int width, int line) { return static_cast<size_t>(line) * width * 2; }
inline size_t RowOffsetBgr24(int width, int height, int line) {
  return static_cast<size_t>(height - 1 - line) * width * 3;  // bottom-up
}

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Constant multiplier for _mm_madd_epi16 on 32-bit lanes whose values fit in 16 bits:
// the high halves of the constant are zero, so each lane is value * c exactly.
inline __m128i Coef(int c) { return _mm_set1_epi32(static_cast<uint16_t>(c)); }
inline __m128i Mul(__m128i lanes, __m128i coef) { return _mm_madd_epi16(lanes, coef); }

// Clamps 32-bit lanes of two vectors to 0..255 and returns them as 32-bit lanes again.
inline void Clamp255x2(__m128i a, __m128i b, __m128i* outA, __m128i* outB) {
  const __m128i zero = _mm_setzero_si128();
  __m128i packed = _mm_packs_epi32(a, b);  // values stay well inside int16
  packed = _mm_min_epi16(_mm_max_epi16(packed, zero), _mm_set1_epi16(255));
  *outA = _mm_unpacklo_epi16(packed, zero);
  *outB = _mm_unpackhi_epi16(packed, zero);
}

inline void Store(int32_t* dst, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v); }

// One pixel pair of YUY2, the unit of work for the tail.
inline void SampleYuy2Pair(const uint8_t* p, int32_t* r, int32_t* g, int32_t* b, int32_t* y, int32_t* u,
                           int32_t* v) {
  const int y0 = p[0], uu = p[1], y1 = p[2], vv = p[3];
  const int cu = uu - 128, cv = vv - 128;
  const int dB = (454 * cu) >> 8;
  const int dG = ((-86 * cu) >> 8) + ((-183 * cv) >> 8);
  const int dR = (359 * cv) >> 8;
  y[0] = y0, y[1] = y1;
  u[0] = u[1] = uu;
  v[0] = v[1] = vv;
  r[0] = Clamp255(y0 + dR), r[1] = Clamp255(y1 + dR);
  g[0] = Clamp255(y0 + dG), g[1] = Clamp255(y1 + dG);
  b[0] = Clamp255(y0 + dB), b[1] = Clamp255(y1 + dB);
}

inline void SampleBgr24Pair(const uint8_t* p, int32_t* r, int32_t* g, int32_t* b, int32_t* y, int32_t* u,
                            int32_t* v) {
  const int b0 = p[0], g0 = p[1], r0 = p[2], b1 = p[3], g1 = p[4], r1 = p[5];
  r[0] = r0, r[1] = r1;
  g[0] = g0, g[1] = g1;
  b[0] = b0, b[1] = b1;
  y[0] = (77 * r0 + 150 * g0 + 29 * b0) >> 8;
  y[1] = (77 * r1 + 150 * g1 + 29 * b1) >> 8;
  const int bm = (b0 + b1) >> 1, gm = (g0 + g1) >> 1, rm = (r0 + r1) >> 1;
  u[0] = u[1] = ((128 * bm - 85 * gm - 43 * rm) >> 8) + 128;
  v[0] = v[1] = ((128 * rm - 107 * gm - 21 * bm) >> 8) + 128;
}

}  // namespace

void SampleLineYuy2(const uint8_t* pixels, int width, int /*height*/, int line, int32_t* r, int32_t* g,
                    int32_t* b, int32_t* y, int32_t* u, int32_t* v) {
  const uint8_t* row = pixels + RowOffsetYuy2(width, line);
  const int pairs = width / 2;
  const __m128i zero = _mm_setzero_si128();
  const __m128i lowHalf = _mm_set1_epi32(0xFFFF);
  const __m128i c128 = _mm_set1_epi32(128);
  int k = 0;
  // Four pairs (16 bytes, eight pixels) per step.
  for (; k + 4 <= pairs; k += 4) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * k));
    const __m128i halves[2] = {_mm_unpacklo_epi8(in, zero), _mm_unpackhi_epi8(in, zero)};
    for (int h = 0; h < 2; ++h) {
      // 32-bit lanes hold (Y | chroma << 16): Y0|U, Y1|V, Y2|U', Y3|V'.
      const __m128i luma = _mm_and_si128(halves[h], lowHalf);
      const __m128i chroma = _mm_srli_epi32(halves[h], 16);  // U, V, U', V'
      const __m128i uRaw = _mm_shuffle_epi32(chroma, _MM_SHUFFLE(2, 2, 0, 0));
      const __m128i vRaw = _mm_shuffle_epi32(chroma, _MM_SHUFFLE(3, 3, 1, 1));
      const __m128i cu = _mm_sub_epi32(uRaw, c128);
      const __m128i cv = _mm_sub_epi32(vRaw, c128);
      // madd reads the low 16 bits of each lane as signed and multiplies the high half by 0.
      const __m128i dB = _mm_srai_epi32(Mul(cu, Coef(454)), 8);
      const __m128i dG = _mm_add_epi32(_mm_srai_epi32(Mul(cu, Coef(-86)), 8), _mm_srai_epi32(Mul(cv, Coef(-183)), 8));
      const __m128i dR = _mm_srai_epi32(Mul(cv, Coef(359)), 8);
      __m128i rr, gg, bb, unused;
      Clamp255x2(_mm_add_epi32(luma, dR), _mm_add_epi32(luma, dG), &rr, &gg);
      Clamp255x2(_mm_add_epi32(luma, dB), zero, &bb, &unused);
      const int at = 2 * k + 4 * h;
      Store(y + at, luma);
      Store(u + at, uRaw);
      Store(v + at, vRaw);
      Store(r + at, rr);
      Store(g + at, gg);
      Store(b + at, bb);
    }
  }
  for (; k < pairs; ++k) {
    const int at = 2 * k;
    SampleYuy2Pair(row + 4 * k, r + at, g + at, b + at, y + at, u + at, v + at);
  }
}

void SampleLineBgr24(const uint8_t* pixels, int width, int height, int line, int32_t* r, int32_t* g, int32_t* b,
                     int32_t* y, int32_t* u, int32_t* v) {
  const uint8_t* row = pixels + RowOffsetBgr24(width, height, line);
  const int pairs = width / 2;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  const __m128i threeBytes = _mm_set1_epi32(0xFFFFFF);
  const __m128i byteMask = _mm_set1_epi32(0xFF);
  int k = 0;
  // Two pairs (four pixels, 12 bytes) per step; the 16-byte load must stay inside the row.
  for (; k + 2 <= pairs && static_cast<size_t>(6 * k) + 16 <= rowBytes; k += 2) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 6 * k));
    // One pixel per 32-bit lane: B | G << 8 | R << 16.
    const __m128i p01 = _mm_unpacklo_epi32(_mm_and_si128(in, threeBytes),
                                           _mm_and_si128(_mm_srli_si128(in, 3), threeBytes));
    const __m128i p23 = _mm_unpacklo_epi32(_mm_and_si128(_mm_srli_si128(in, 6), threeBytes),
                                           _mm_and_si128(_mm_srli_si128(in, 9), threeBytes));
    const __m128i px = _mm_unpacklo_epi64(p01, p23);
    const __m128i bb = _mm_and_si128(px, byteMask);
    const __m128i gg = _mm_and_si128(_mm_srli_epi32(px, 8), byteMask);
    const __m128i rr = _mm_srli_epi32(px, 16);
    const __m128i yy =
        _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(Mul(rr, Coef(77)), Mul(gg, Coef(150))), Mul(bb, Coef(29))), 8);
    // Pair averages, the same value in both lanes of a pair.
    const auto pairMean = [](__m128i c) {
      return _mm_srli_epi32(_mm_add_epi32(c, _mm_shuffle_epi32(c, _MM_SHUFFLE(2, 3, 0, 1))), 1);
    };
    const __m128i bm = pairMean(bb), gm = pairMean(gg), rm = pairMean(rr);
    const __m128i c128 = _mm_set1_epi32(128);
    const __m128i uu = _mm_add_epi32(
        _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(Mul(bm, Coef(128)), Mul(gm, Coef(-85))), Mul(rm, Coef(-43))), 8),
        c128);
    const __m128i vv = _mm_add_epi32(
        _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(Mul(rm, Coef(128)), Mul(gm, Coef(-107))), Mul(bm, Coef(-21))), 8),
        c128);
    const int at = 2 * k;
    Store(r + at, rr);
    Store(g + at, gg);
    Store(b + at, bb);
    Store(y + at, yy);
    Store(u + at, uu);
    Store(v + at, vv);
  }
  for (; k < pairs; ++k) {
    const int at = 2 * k;
    SampleBgr24Pair(row + 6 * k, r + at, g + at, b + at, y + at, u + at, v + at);
  }
}

MarkOffsets OffsetsOf(int32_t color) {
  const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  return {(77 * r + 150 * g + 29 * b) >> 8, (128 * b - 85 * g - 43 * r) >> 8, (128 * r - 107 * g - 21 * b) >> 8};
}

void MarkLineYuy2(uint8_t* pixels, int width, int /*height*/, int line, int32_t color) {
  uint8_t* row = pixels + RowOffsetYuy2(width, line);
  const MarkOffsets o = OffsetsOf(color);
  // Byte order of a group: Y0 U Y1 V Y2 U' Y3 V'.
  const __m128i add = _mm_setr_epi16(o.dY, o.dU, o.dY, o.dV, o.dY, o.dU, o.dY, o.dV);
  const __m128i zero = _mm_setzero_si128();
  const int groups = width / 4;
  int k = 0;
  for (; k + 2 <= groups; k += 2) {  // two groups of four pixels per step
    __m128i* at = reinterpret_cast<__m128i*>(row + 8 * k);
    const __m128i in = _mm_loadu_si128(at);
    const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(in, zero), add);
    const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(in, zero), add);
    _mm_storeu_si128(at, _mm_packus_epi16(lo, hi));  // saturation is the clamp to 0..255
  }
  for (; k < groups; ++k) {
    __m128i* at = reinterpret_cast<__m128i*>(row + 8 * k);
    const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(at), zero), add);
    _mm_storel_epi64(at, _mm_packus_epi16(sum, sum));
  }
}

void MarkLineBgr24(uint8_t* pixels, int width, int height, int line, int32_t color) {
  uint8_t* row = pixels + RowOffsetBgr24(width, height, line);
  const uint8_t bgr[3] = {static_cast<uint8_t>(color >> 16), static_cast<uint8_t>(color >> 8),
                          static_cast<uint8_t>(color)};
  // Sixteen pixels are 48 bytes: three stores of one repeating pattern.
  alignas(16) uint8_t pattern[48];
  for (int i = 0; i < 48; ++i) pattern[i] = bgr[i % 3];
  const __m128i p0 = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern));
  const __m128i p1 = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 16));
  const __m128i p2 = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 32));
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    uint8_t* at = row + 3 * static_cast<size_t>(x);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), p0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16), p1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 32), p2);
  }
  for (; x < width; ++x) {
    uint8_t* at = row + 3 * static_cast<size_t>(x);
    at[0] = bgr[0], at[1] = bgr[1], at[2] = bgr[2];
  }
}
