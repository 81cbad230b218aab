// Two captures' values side by side once they are lined up: per aligned pair B's value minus
// A's for each channel of the run's measurement, the spans where one stays better, and which
// is better overall.
#pragma once
#include <cstdint>
#include <vector>

#include "cli/results/alignment.h"
#include "cli/results/timeline.h"

struct DeltaSegment {
  int64_t firstFrame = 0, lastFrame = 0;  // A's frame numbers
  double start = 0.0, end = 0.0;          // A's times
  double meanDelta = 0.0;                 // B - A over every aligned pair from first to last
  double worstDelta = 0.0;                // the delta furthest from 0 in it
  int channel = 0;
  char worse = 'B';  // the capture with the lower values in it
};

struct ChannelMeans {
  double a = 0.0, b = 0.0, delta = 0.0;  // over the aligned pairs where both values are finite
  int64_t pairs = 0;
};

struct Comparison {
  std::vector<int> channels;  // those compared: the channels the run's settings show
  ChannelMeans means[3];
  std::vector<DeltaSegment> segments;  // by start, then channel
  char better = 0;       // 'A', 'B', or 0 where neither is better on average by 0.1 dB
  double betterBy = 0.0;  // the mean delta over the compared channels, dB (B - A)
};

// `minDelta` marks pairs where |B - A| exceeds it; spans of one sign closer than `flagGap`
// seconds (in A's time) join.
Comparison Compare(const Timeline& a, const Timeline& b, const Alignment& alignment, double minDelta, double flagGap);
// B - A of one channel of one pair; NaN where either value is not finite.
double PairDelta(const Timeline& a, const Timeline& b, const AlignedPair& p, int channel);
