#include "cli/input/plane_layout.h"

#include "plugin/host_contract.h"

int PlaneCount(FramePlanes::Layout layout) {
  switch (layout) {
    case FramePlanes::Yuy2:
      return 1;
    case FramePlanes::Nv12:
      return 2;
    case FramePlanes::Iyuv:
      return 3;
    case FramePlanes::None:
      break;
  }
  return 0;
}

int PlaneRows(FramePlanes::Layout layout, int plane, int height) {
  if (plane < 0 || plane >= PlaneCount(layout)) return 0;
  return plane == 0 ? height : (height + 1) / 2;
}

int StoredRow(int pixelFormat, int height, int y) { return pixelFormat == PixelFormatBgr24 ? height - 1 - y : y; }

int FrameRowBytes(int pixelFormat, int width) { return width * (pixelFormat == PixelFormatBgr24 ? 3 : 2); }
