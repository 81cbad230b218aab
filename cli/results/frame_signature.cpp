#include "cli/results/frame_signature.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// A sample scaled to 8 bits.
inline int SampleAt(const SampleComponent& c, int x, int y) {
  const uint8_t* p = c.data + static_cast<std::ptrdiff_t>(y) * c.pitch + static_cast<std::ptrdiff_t>(x) * c.step;
  unsigned v = p[0];
  if (c.bytes == 2) {
    uint16_t w;
    std::memcpy(&w, p, 2);
    v = w;
  }
  v = (v >> c.shift) & ((1u << c.depth) - 1u);
  return c.depth > 8 ? static_cast<int>(v >> (c.depth - 8)) : static_cast<int>(v << (8 - c.depth));
}

bool Usable(const SampleComponent& c) {
  return c.data != nullptr && c.pitch > 0 && c.step > 0 && (c.bytes == 1 || c.bytes == 2) && c.depth >= 1 &&
         c.depth <= 16 && c.shift >= 0 && c.shift + c.depth <= 8 * c.bytes;
}

}  // namespace

FrameSignature SignatureOf(const SampleComponent* components, int count, int width, int height) {
  FrameSignature s;
  if ((count != 1 && count != 3) || width < kSignatureColumns || height < kSignatureRows) return s;
  for (int i = 0; i < count; ++i) {
    if (!Usable(components[i])) return s;
  }
  // Every sample of a small picture; a large one is read on a sparser grid (block means move
  // little with it, and the comparison must cost next to nothing beside the decoding).
  const int sx = std::max(1, width / (kSignatureColumns * 32));
  const int sy = std::max(1, height / (kSignatureRows * 24));
  for (int by = 0; by < kSignatureRows; ++by) {
    const int y0 = by * height / kSignatureRows, y1 = (by + 1) * height / kSignatureRows;
    for (int bx = 0; bx < kSignatureColumns; ++bx) {
      const int x0 = bx * width / kSignatureColumns, x1 = (bx + 1) * width / kSignatureColumns;
      int64_t sum = 0, n = 0;
      for (int y = y0; y < y1; y += sy) {
        for (int x = x0; x < x1; x += sx, ++n) {
          // Red, green and blue weighted near the luma's own weights, in whole numbers.
          sum += count == 1 ? SampleAt(components[0], x, y) * 8
                            : SampleAt(components[0], x, y) * 2 + SampleAt(components[1], x, y) * 5 +
                                  SampleAt(components[2], x, y);
        }
      }
      s.block[by * kSignatureColumns + bx] = static_cast<uint8_t>(n > 0 ? (sum + 4 * n) / (8 * n) : 0);
    }
  }
  s.valid = true;
  return s;
}
