// Whether the measuring interval of a line holds only noise, or picture too: an SNR measured
// on picture content measures the picture, and a tape judged on it is judged wrongly.
#pragma once
#include <cstdint>
#include <vector>

// Watches the interval frame by frame and tells whether the line was quiet.
class QuietLineCheck {
 public:
  // One frame's three channels, samples [first, last] of each (inclusive, within the line).
  void Add(const int32_t* const samples[3], int first, int last);
  // False when most frames carried picture; true with no frame seen.
  bool Quiet() const { return busyFrames_ * 2 <= frames_ || frames_ == 0; }
  // The median over the frames of each frame's largest spread-to-noise ratio.
  double TypicalRatio() const;

 private:
  int64_t frames_ = 0, busyFrames_ = 0;
  std::vector<int32_t> previous_[3];
  std::vector<double> ratios_;  // a bounded sample of the frames' ratios
};

// The spread of the samples against their noise (see the .cpp); `previous` may be empty.
double SpreadToNoise(const int32_t* samples, int count, const std::vector<int32_t>& previous);
