// What the three pages draw alike: background, grid, which channels of the colour space show.
#pragma once
#include <cstdint>

#include "records/analysis_settings.h"

constexpr uint32_t kPageBackground = 0x400000;  // COLORREF: dark blue
constexpr uint32_t kPageGridColor = 0x005C00;   // dark green

// Trace colours of the spectrum and levels pages, indexed by ChannelIndex.
constexpr uint32_t kAnalyserTraceColor[ChannelCount] = {0x0000F0, 0x00F000, 0xF00000,
                                                        0xE0E0E0, 0xF80000, 0x0000F8};

// The first of the three channels of the colour space: Y for ColorMode 1, R for anything else.
inline int FirstChannel(const AnalysisSettings& s) { return s.ColorMode == 1 ? ChannelY : ChannelR; }

// A channel's trace is drawn only when its show flag is exactly 1.
inline bool ChannelShown(const AnalysisSettings& s, int channel) {
  const int32_t flags[ChannelCount] = {s.RColor, s.GColor, s.BColor, s.YColor, s.UColor, s.VColor};
  return flags[channel] == 1;
}
