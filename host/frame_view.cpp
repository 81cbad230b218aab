#include "host/frame_view.h"

#include "host/test_signals.h"
#include "plugin/host_contract.h"

namespace {

uint32_t Clamp255(int v) { return v < 0 ? 0u : v > 255 ? 255u : uint32_t(v); }

uint32_t Pack(uint32_t r, uint32_t g, uint32_t b) { return b | (g << 8) | (r << 16); }

// BT.601 studio range to full range R'G'B' (the usual 8-bit fixed-point matrix).
uint32_t StudioToBgra(int y, int u, int v) {
  const int c = 298 * (y - 16) + 128;
  const int d = u - 128;
  const int e = v - 128;
  return Pack(Clamp255((c + 409 * e) >> 8), Clamp255((c - 100 * d - 208 * e) >> 8), Clamp255((c + 516 * d) >> 8));
}

}  // namespace

void FrameToBgra(const uint8_t* pixels, int width, int height, int pixelFormat, uint32_t* out) {
  if (FrameBytes(width, height, pixelFormat) == 0) return;
  for (int r = 0; r < height; ++r) {
    uint32_t* dst = out + size_t(r) * size_t(width);
    if (pixelFormat == PixelFormatYuy2) {
      const uint8_t* row = pixels + size_t(r) * size_t(width) * 2;
      for (int x = 0; x + 1 < width; x += 2) {
        const uint8_t* p = row + size_t(x) * 2;
        dst[x] = StudioToBgra(p[0], p[1], p[3]);
        dst[x + 1] = StudioToBgra(p[2], p[1], p[3]);
      }
      // A last unpaired pixel has no V byte of its own: show it without colour.
      if (width % 2 != 0) dst[width - 1] = StudioToBgra(row[size_t(width) * 2 - 2], 128, 128);
    } else {
      const uint8_t* row = pixels + size_t(height - 1 - r) * size_t(width) * 3;
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = row + size_t(x) * 3;
        dst[x] = Pack(p[2], p[1], p[0]);
      }
    }
  }
}
