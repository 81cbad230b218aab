#include "ui/scope_ranges.h"

#include "analysis/waveform.h"
#include "ui/number_text.h"

ScopeValues EffectiveScopeValues(int32_t whiteLevel, int32_t blackLevel, int32_t startCount, int32_t stopCount) {
  ScopeValues v;
  ClampReferenceLevels(whiteLevel, blackLevel, &v.white, &v.black);
  ClampMeasuringInterval(startCount, stopCount, &v.start, &v.stop);
  return v;
}

ScopeRanges ScopeSpinRanges(const ScopeValues& values) {
  const ScopeValues v = EffectiveScopeValues(values.white, values.black, values.start, values.stop);
  ScopeRanges r;
  r.white = {v.black, 255};
  r.black = {0, v.white};
  r.start = {0, v.stop};
  r.stop = {v.start, 1000};
  return r;
}

std::string FormatLevel(int level) { return std::to_string(level); }

// Every text is at least three characters ("0.0"), so the width 3 never pads.
std::string FormatPercent(int count) { return FormatTenths(count); }
