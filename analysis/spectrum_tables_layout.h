// What the spectrum's tables hold, for the files that build and read them (spectrum_tables.cpp,
// fft.cpp, spectrum.cpp); everyone else holds them by pointer (spectrum_tables.h).
#pragma once
#include <cstdint>

#include "analysis/spectrum_tables.h"

// The rounded pi the transform and the windows are defined with.
constexpr double kPi = 3.14159265359;
constexpr int kHalfPoints = kFftPoints / 2;  // the complex transform of a real line

struct SpectrumTables {
  // Stage with half-span h keeps its h twiddles at offset kFftPoints - 2h.
  alignas(64) double twiddleRe[kFftPoints];
  alignas(64) double twiddleIm[kFftPoints];
  alignas(64) double window[4][kFftPoints];  // index by WindowFunctionCode; [0] all ones
  uint16_t swapA[kFftPoints / 2];
  uint16_t swapB[kFftPoints / 2];
  int swapCount;
  SpectrumPath path;
  int16_t reversed7[128];  // 7-bit reversal, for the fused last stages
  uint16_t reversed10[kHalfPoints];  // 10-bit reversal: where the real line's bins sit
  // Where each of the points 0..2046 falls on a line of `resampleWidth` samples (ResampleLine's
  // arithmetic: sample, and the fraction towards the next), worked out for the first line of a
  // width and kept for the next ones. The tables belong to one frame path, as its buffers do.
  mutable int resampleWidth;
  mutable int32_t resampleAt[kFftPoints];
  alignas(64) mutable double resampleFrac[kFftPoints];
};

// For callers without tables of their own: the scalar path's, built on first use in static
// storage. Several threads may share them, so nothing may be kept in them (resampleWidth).
const SpectrumTables& SharedScalarTables();
