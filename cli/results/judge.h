// The verdict on one analysed line: the thresholds a user sets, and the spans of frames that
// cross them.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

#include "cli/results/timeline.h"

struct Thresholds {
  double minSnr = NAN;          // --min-snr: a frame below it on a shown channel is flagged; NaN: none
  int64_t maxDropped = -1;      // --max-dropped: more lost frames flag the input; -1: none
  int64_t maxDamaged = -1;      // --max-damaged: more frames the decoder found damaged flag it; -1: none
  double flagGap = 1.0;         // --flag-gap: flagged spans closer than this (seconds) join
  double minDuration = 0.0;     // --min-duration: flagged segments shorter than this (seconds) are dropped
};

struct Segment {
  int64_t firstFrame = 0, lastFrame = 0;  // frame numbers of its first and last flagged frame
  double start = 0.0, end = 0.0;          // their times
  double worst = 0.0;                     // the lowest SNR in it
  int channel = 0;                        // the channel (0..2) of that lowest value
  double duration = 0.0;                  // from its first frame to the end of its last
  double mean = 0.0;                      // the power mean of its frames' lowest values
};

struct Verdict {
  bool flagged = false;
  bool tooManyDropped = false;
  bool tooManyDamaged = false;
  bool incomplete = false;  // the input was not analysed to its end
  bool failed = false;      // not analysed at all
  std::vector<Segment> segments;
};

Verdict Judge(const Timeline& t, const Thresholds& limits);
// "incomplete", "failed", "flag" or "pass": the first that holds. A run cut short is never a
// pass, whatever its frames showed.
const char* VerdictName(const Verdict& v);
