// The oscilloscope page's four spins: the values they show and the ranges that keep black not
// above white and start not after stop.
#pragma once
#include <cstdint>
#include <string>

struct SpinRange {
  int32_t lower;
  int32_t upper;
};

// Levels 0..255, counts in tenths of a percent of the line 0..1000.
struct ScopeValues {
  int32_t white;
  int32_t black;
  int32_t start;
  int32_t stop;
};

struct ScopeRanges {
  SpinRange white;  // black .. 255
  SpinRange black;  // 0 .. white
  SpinRange start;  // 0 .. stop
  SpinRange stop;   // start .. 1000
};

// The values as the waveform analysis uses them: out-of-range values clamped, an inverted pair
// (black above white, start after stop) resolved the same way. The page shows these; a stored
// setting keeps its value until the user moves its spin.
ScopeValues EffectiveScopeValues(int32_t whiteLevel, int32_t blackLevel, int32_t startCount, int32_t stopCount);

// The four spin ranges for the given values (made effective first, so every position the page
// sets lies inside its range). Call again after every change of a partner value.
ScopeRanges ScopeSpinRanges(const ScopeValues& values);

// Field texts: "%d" of a level; "%3.1f" of count x 0.1 (percent of the line).
std::string FormatLevel(int level);
std::string FormatPercent(int count);
