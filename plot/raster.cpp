#include "plot/raster.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace gdi {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  // A negative divisor flips both signs, in 32 bits as the platform does (so a divisor of
  // INT_MIN stays negative).
  if (c < 0) {
    a = static_cast<int>(0u - static_cast<unsigned>(a));
    c = static_cast<int>(0u - static_cast<unsigned>(c));
  }
  const int64_t product = static_cast<int64_t>(a) * b;
  // Round half away from zero: add half the divisor when the operands' signs agree.
  const bool positive = (a < 0) == (b < 0);
  const int64_t result = positive ? (product + c / 2) / c : (product - c / 2) / c;
  if (result > 2147483647 || result < -2147483647) return -1;
  return static_cast<int>(result);
}

Pen MakePen(uint32_t p, int rasterOp) {
  const uint32_t all = 0xFFFFFFFFu;
  switch (rasterOp) {
    case 1: return {0, 0};             // black
    case 2: return {~p, ~p};           // not (D or P)
    case 3: return {~p, 0};            // D and not P
    case 4: return {0, ~p};            // not P
    case 5: return {p, p};             // P and not D
    case 6: return {all, all};         // not D
    case 7: return {all, p};           // D xor P
    case 8: return {p, all};           // not (D and P)
    case 9: return {p, 0};             // D and P
    case 10: return {all, ~p};         // not (D xor P)
    case 11: return {all, 0};          // D
    case 12: return {p, ~p};           // D or not P
    case 14: return {~p, all};         // P or not D
    case 15: return {~p, p};           // D or P
    case 16: return {0, all};          // white
    default: return {0, p};            // 13 and anything SetROP2 would refuse: copy-pen
  }
}

Mapping MakeMapping(int windowExtX, int windowExtY, int viewportExtX, int viewportExtY, int viewportOrgX,
                    int viewportOrgY) {
  // A zero extent is refused by the platform, which keeps the default extent 1.
  if (windowExtX == 0) windowExtX = 1;
  if (windowExtY == 0) windowExtY = 1;
  if (viewportExtX == 0) viewportExtX = 1;
  if (viewportExtY == 0) viewportExtY = 1;
  Mapping m;
  m.scaleX = static_cast<float>(static_cast<double>(viewportExtX) / windowExtX);
  m.scaleY = static_cast<float>(static_cast<double>(viewportExtY) / windowExtY);
  m.offsetX = static_cast<float>(viewportOrgX);
  m.offsetY = static_cast<float>(viewportOrgY);
  return m;
}

Mapping IdentityMapping() { return Mapping{1.0f, 1.0f, 0.0f, 0.0f}; }

namespace {

int ClampCoordinate(int64_t v) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, -kCoordinateLimit), kCoordinateLimit));
}

// Floor and ceiling of n / d for d > 0.
int64_t FloorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }
int64_t CeilDiv(int64_t n, int64_t d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

inline void Apply(uint32_t* px, Pen pen) { *px = (*px & pen.andMask) ^ pen.xorMask; }

// Copy-pen (the grids, the reference lines) ignores what is there: store without reading.
void Span(uint32_t* row, int from, int to, Pen pen) {
  if (pen.andMask == 0) {
    std::fill(row + from, row + to, pen.xorMask);
    return;
  }
  for (int x = from; x < to; ++x) row[x] = (row[x] & pen.andMask) ^ pen.xorMask;
}

void Column(uint32_t* px, ptrdiff_t stride, int count, Pen pen) {
  if (pen.andMask == 0) {
    for (; count > 0; --count, px += stride) *px = pen.xorMask;
    return;
  }
  for (; count > 0; --count, px += stride) Apply(px, pen);
}

// A line whose end points both lie on the surface: every pixel between them does too, so the
// clipping arithmetic (64-bit divisions, library calls on the 32-bit target) is not needed.
// Traces are hundreds of such short segments per frame.
void UnclippedLine(uint32_t* pixels, ptrdiff_t stride, int x0, int y0, int x1, int y1, Pen pen) {
  const int dx = x1 - x0, dy = y1 - y0;
  const int ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
  const bool xMajor = ax > ay;
  const int major = xMajor ? ax : ay;
  const int minor = xMajor ? ay : ax;
  const int minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
  const ptrdiff_t majorStep = xMajor ? (dx < 0 ? -1 : 1) : (dy < 0 ? -stride : stride);
  const ptrdiff_t minorStep = xMajor ? minorSign * stride : minorSign;
  const int bias = minorSign < 0 ? 1 : 0;
  int err = 2 * minor - major;
  uint32_t* px = pixels + y0 * stride + x0;
  // Without a branch: a trace's steep segments take the minor step at an unpredictable point.
  for (int n = major; n > 0; --n) {
    Apply(px, pen);
    const int step = -static_cast<int>(err + bias > 0);  // all ones when the minor axis steps
    px += majorStep + (minorStep & step);
    err += 2 * minor - (2 * major & step);
  }
}

}  // namespace

int MapAxisScaled(int logical, float scale, float offset) {
  const double device = static_cast<double>(logical) * scale + offset + 0.5;
  if (!(device > -kCoordinateLimit)) return -kCoordinateLimit;
  if (device >= kCoordinateLimit) return kCoordinateLimit;
  // floor() without the library call (SSE2 has no rounding instruction): truncate, then
  // step down where truncation went up.
  const int truncated = static_cast<int>(device);
  return truncated - (truncated > device ? 1 : 0);
}

void FillRect(Surface s, int left, int top, int right, int bottom, uint32_t pixel) {
  if (!s.pixels) return;
  // An inverted rectangle covers the mirrored pixels: (right, left] rather than [right, left).
  if (left > right) {
    const int was = left;
    left = right + 1;
    right = was + 1;
  }
  if (top > bottom) {
    const int was = top;
    top = bottom + 1;
    bottom = was + 1;
  }
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, s.width);
  bottom = std::min(bottom, s.height);
  if (left >= right) return;
  for (int y = top; y < bottom; ++y) {
    uint32_t* row = s.pixels + static_cast<size_t>(y) * s.width;
    std::fill(row + left, row + right, pixel);
  }
}

void SetPixel(Surface s, int x, int y, uint32_t pixel) {
  if (!s.pixels || x < 0 || y < 0 || x >= s.width || y >= s.height) return;
  s.pixels[static_cast<size_t>(y) * s.width + x] = pixel;
}

void Line(Surface s, int x0, int y0, int x1, int y1, Pen pen) {
  if (!s.pixels || s.width <= 0 || s.height <= 0) return;
  x0 = ClampCoordinate(x0);
  y0 = ClampCoordinate(y0);
  x1 = ClampCoordinate(x1);
  y1 = ClampCoordinate(y1);
  if (x0 == x1 && y0 == y1) return;
  const ptrdiff_t stride = s.width;

  if (y0 == y1) {  // start drawn, end left out, whichever the direction
    if (y0 < 0 || y0 >= s.height) return;
    int from = x0 < x1 ? x0 : x1 + 1;
    int to = x0 < x1 ? x1 : x0 + 1;
    from = std::max(from, 0);
    to = std::min(to, s.width);
    if (from < to) Span(s.pixels + y0 * stride, from, to, pen);
    return;
  }
  if (x0 == x1) {
    if (x0 < 0 || x0 >= s.width) return;
    int from = y0 < y1 ? y0 : y1 + 1;
    int to = y0 < y1 ? y1 : y0 + 1;
    from = std::max(from, 0);
    to = std::min(to, s.height);
    if (from < to) Column(s.pixels + from * stride + x0, stride, to - from, pen);
    return;
  }

  if (std::min(x0, x1) >= 0 && std::max(x0, x1) < s.width && std::min(y0, y1) >= 0 && std::max(y0, y1) < s.height) {
    UnclippedLine(s.pixels, stride, x0, y0, x1, y1, pen);
    return;
  }

  // Bresenham along the major axis (x only when |dx| > |dy|). The minor offset after i major
  // steps is floor((2*i*m + M - 1 + bias) / (2*M)); clipping solves it for the range of i
  // whose pixels are inside, so the inside pixels are exactly those of the unclipped line.
  const int64_t dx = static_cast<int64_t>(x1) - x0;
  const int64_t dy = static_cast<int64_t>(y1) - y0;
  const bool xMajor = std::llabs(dx) > std::llabs(dy);
  const int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
  const int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
  const int majorSign = (xMajor ? dx : dy) > 0 ? 1 : -1;
  const int minorSign = (xMajor ? dy : dx) > 0 ? 1 : -1;
  const int64_t major0 = xMajor ? x0 : y0;
  const int64_t minor0 = xMajor ? y0 : x0;
  const int64_t majorSize = xMajor ? s.width : s.height;
  const int64_t minorSize = xMajor ? s.height : s.width;
  const int64_t bias = minorSign < 0 ? 1 : 0;

  int64_t iLo = majorSign > 0 ? -major0 : major0 - (majorSize - 1);
  int64_t iHi = majorSign > 0 ? majorSize - 1 - major0 : major0;
  iLo = std::max<int64_t>(iLo, 0);
  iHi = std::min<int64_t>(iHi, major - 1);
  int64_t sLo = minorSign > 0 ? -minor0 : minor0 - (minorSize - 1);
  const int64_t sHi = minorSign > 0 ? minorSize - 1 - minor0 : minor0;
  if (sHi < 0) return;
  sLo = std::max<int64_t>(sLo, 0);
  iLo = std::max(iLo, CeilDiv(2 * major * sLo - major + 1 - bias, 2 * minor));
  iHi = std::min(iHi, FloorDiv(2 * major * (sHi + 1) - major - bias, 2 * minor));
  if (iLo > iHi) return;

  const int64_t steps = FloorDiv(2 * iLo * minor + major - 1 + bias, 2 * major);
  int64_t err = 2 * minor - major + 2 * minor * iLo - 2 * major * steps;
  const int64_t majorAt = major0 + majorSign * iLo;
  const int64_t minorAt = minor0 + minorSign * steps;
  const int64_t x = xMajor ? majorAt : minorAt;
  const int64_t y = xMajor ? minorAt : majorAt;
  const ptrdiff_t majorStep = xMajor ? majorSign : majorSign * stride;
  const ptrdiff_t minorStep = xMajor ? minorSign * stride : minorSign;
  const int64_t stepAdd = 2 * minor - 2 * major;
  const int64_t straightAdd = 2 * minor;
  // Indexes, not pointers: the position after the last pixel may lie outside the surface.
  ptrdiff_t index = static_cast<ptrdiff_t>(y) * stride + static_cast<ptrdiff_t>(x);
  for (int64_t n = iHi - iLo + 1; n > 0; --n) {
    Apply(s.pixels + index, pen);
    if (err + bias > 0) {
      index += minorStep;
      err += stepAdd;
    } else {
      err += straightAdd;
    }
    index += majorStep;
  }
}

void Polyline(Surface s, const Point* points, int count, Pen pen) {
  if (!points) return;
  for (int i = 0; i + 1 < count; ++i) Line(s, points[i].x, points[i].y, points[i + 1].x, points[i + 1].y, pen);
}

}  // namespace gdi
