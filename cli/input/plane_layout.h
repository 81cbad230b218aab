// How a frame's bytes lie in memory: the analysis's own frames (YUY2 top-down, BGR24
// bottom-up, as the plug-in is handed them) and the decoder's planes that a window shows as
// they are. Every copy or conversion asks these rather than knowing the layouts itself.
#pragma once
#include <cstdint>

// The decoder's own planes of a frame, in a layout a window shows as it is (SDL's IYUV, NV12
// and YUY2), so that a picture needs no conversion of the whole frame.
struct FramePlanes {
  enum Layout { None, Iyuv, Nv12, Yuy2 };
  Layout layout = None;
  const uint8_t* data[3] = {};
  int pitch[3] = {};
};

// Planes a layout has: YUY2 one (packed), NV12 two (Y, interleaved UV), IYUV three; None none.
int PlaneCount(FramePlanes::Layout layout);
// Rows of plane `plane` in a frame of `height` rows: the chroma planes have half, rounded up.
int PlaneRows(FramePlanes::Layout layout, int plane, int height);

// Where row `y` of the picture (counted from its top) lies in a frame of the analysis's
// layout: BGR24 frames are bottom-up.
int StoredRow(int pixelFormat, int height, int y);
// Bytes of one row of such a frame.
int FrameRowBytes(int pixelFormat, int width);
