// A timeline built as the frames of a run come.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

#include "cli/results/timeline.h"

// Builds a timeline as the frames come, keeping the line's samples of the worst frame and of
// a bounded set of evenly spread candidates for the typical one.
class TimelineRecorder {
 public:
  explicit TimelineRecorder(Timeline* t) : t_(t) {}
  // `samples` holds the three channels of the colour space, `width` values each.
  void Add(const TimelineFrame& f, const int32_t* const samples[3], int width);
  // Chooses the typical frame; call once, after the last frame.
  void Finish();

 private:
  Timeline* t_;
  std::vector<int> judged_;
  double worstValue_ = INFINITY;
  std::vector<LineSamples> candidates_;
  int64_t step_ = 1;  // every step_-th frame is a candidate; doubles when they are too many
};
