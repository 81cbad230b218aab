// Turns a host frame into top-down 32-bit BGRA pixels (alpha 0) for showing it in a window.
#pragma once
#include <cstdint>

// `out` holds width * height pixels. YUY2 is read as BT.601 studio range and expanded to full
// range; BGR24 rows are flipped from bottom-up. An unknown format or size writes nothing.
void FrameToBgra(const uint8_t* pixels, int width, int height, int pixelFormat, uint32_t* out);
