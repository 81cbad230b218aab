// Turning one TV line into the six channel arrays, and painting the line marker into the frame.
// Integer fixed point, scale 1/256, floor division; pixel pairs (groups of four for the YUY2
// marker) are the only units of work, a smaller remainder is left alone.
#pragma once
#include <cstdint>

// Code-0 frames (Y0 U Y1 V, top-down). `height` is not used.
void SampleLineYuy2(const uint8_t* pixels, int width, int height, int line, int32_t* r, int32_t* g, int32_t* b,
                    int32_t* y, int32_t* u, int32_t* v);
// Code-1 frames (B G R, bottom-up).
void SampleLineBgr24(const uint8_t* pixels, int width, int height, int line, int32_t* r, int32_t* g, int32_t* b,
                     int32_t* y, int32_t* u, int32_t* v);
// What the YUY2 marker adds to Y, U and V for `color` (R in bits 0-7, G 8-15, B 16-23).
struct MarkOffsets {
  int dY, dU, dV;
};
MarkOffsets OffsetsOf(int32_t color);
// Adds `color` to the line in the YUV domain, in whole groups of four pixels. `height` is not used.
void MarkLineYuy2(uint8_t* pixels, int width, int height, int line, int32_t color);
// Overwrites the line with `color`.
void MarkLineBgr24(uint8_t* pixels, int width, int height, int line, int32_t color);
