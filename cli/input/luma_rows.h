// Reading the luma of a decoded picture's rows as they are: any layout FFmpeg describes with a
// luma component, at its own bit depth.
#pragma once
#include <cstdint>
#include <vector>

#include "cli/input/frame_source.h"

struct AVFrame;

// The luma of `rows` (ascending, inside the frame) of `frame` into `store`; an empty LumaRows
// where the frame's layout has no luma plane (RGB, palettes, hardware frames).
LumaRows ReadLumaRows(const AVFrame& frame, const std::vector<int>& rows, std::vector<uint16_t>* store);
