// Software raster that reproduces the platform GDI's pixels for the primitives the plots use:
// solid one-pixel lines, line raster operations, solid rectangle fills, single pixels, the
// anisotropic logical-to-device mapping and MulDiv. Portable: no platform headers.
//
// Everything lives in namespace gdi so that MulDiv does not clash with the Win32 function of
// the same name.
#pragma once
#include <cstdint>

namespace gdi {

// a * b / c with a 64-bit product, rounded to nearest with halves away from zero.
// A divisor of 0, or a result outside +-2147483647, gives -1.
int MulDiv(int a, int b, int c);

// COLORREF 0x00BBGGRR to the 32-bpp pixel 0x00RRGGBB.
constexpr uint32_t PixelFromColorref(uint32_t color) {
  return ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}

// What a line raster operation does to a pixel: D = (D & andMask) ^ xorMask.
struct Pen {
  uint32_t andMask;
  uint32_t xorMask;
};

// The pen for a pixel and a SetROP2 code (1..16). Other codes are rejected by SetROP2, which
// leaves the default copy-pen in force, so they give copy-pen here too.
Pen MakePen(uint32_t pixel, int rasterOp);

// A 32-bpp surface, rows top-down, stride = width.
struct Surface {
  uint32_t* pixels;
  int width;
  int height;
};

struct Point {
  int x;
  int y;
};

// Device coordinates are held within +-kCoordinateLimit (far beyond any canvas), so that line
// arithmetic cannot overflow whatever the input.
constexpr int kCoordinateLimit = 1 << 29;

// Anisotropic mapping with window origin 0: per axis the scale is held as a 32-bit float, as
// the platform does, and device = floor(logical * scale + offset + 0.5) in double.
struct Mapping {
  float scaleX;
  float scaleY;
  float offsetX;
  float offsetY;
};

Mapping MakeMapping(int windowExtX, int windowExtY, int viewportExtX, int viewportExtY, int viewportOrgX,
                    int viewportOrgY);
// MM_TEXT: device = logical.
Mapping IdentityMapping();

// One axis through the general formula.
int MapAxisScaled(int logical, float scale, float offset);

// With a scale of exactly +-1 the formula is plain integer arithmetic (the offset is an
// integer held exactly): the traces map hundreds of points per frame this way.
inline int MapAxis(int logical, float scale, float offset) {
  if (scale == 1.0f || scale == -1.0f) {
    const int64_t device = (scale > 0 ? int64_t{logical} : -int64_t{logical}) + static_cast<int64_t>(offset);
    return static_cast<int>(device < -kCoordinateLimit ? -kCoordinateLimit
                                                       : device > kCoordinateLimit ? kCoordinateLimit : device);
  }
  return MapAxisScaled(logical, scale, offset);
}
inline int MapX(const Mapping& mapping, int x) { return MapAxis(x, mapping.scaleX, mapping.offsetX); }
inline int MapY(const Mapping& mapping, int y) { return MapAxis(y, mapping.scaleY, mapping.offsetY); }
inline Point MapPoint(const Mapping& mapping, Point p) { return Point{MapX(mapping, p.x), MapY(mapping, p.y)}; }

// Solid fill of [left, right) x [top, bottom) with the pixel whatever the raster operation.
// Along an inverted axis the platform fills (right, left], the mirror image.
void FillRect(Surface surface, int left, int top, int right, int bottom, uint32_t pixel);

// One pixel with the plain colour (no raster operation). Outside the surface: nothing.
void SetPixel(Surface surface, int x, int y, uint32_t pixel);

// One-pixel solid line in device coordinates, start drawn, end left out, clipped to the surface.
void Line(Surface surface, int x0, int y0, int x1, int y1, Pen pen);

// Each segment drawn as Line, so inner vertices are drawn once and the final point never.
void Polyline(Surface surface, const Point* points, int count, Pen pen);

}  // namespace gdi
