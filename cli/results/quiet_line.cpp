#include "cli/results/quiet_line.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A frame's interval is taken to carry picture when its spread is more than this many times
// its noise. White noise alone gives about 1; noise that the decoder's chroma interpolation
// has smoothed along the line, 1.5 to 2. Picture content (a ramp, edges, a pattern) gives tens.
constexpr double kBusyRatio = 4.0;
// Half a code value: below it, differences are rounding, not noise; a clean flat line is quiet.
constexpr double kNoiseFloor = 0.5;
constexpr size_t kKeptRatios = 4096;
// Neighbours along the line are compared this far apart: chroma subsampled 4:2:2, 4:2:0 or
// 4:1:1 reaches the analysis as runs of up to four equal (or interpolated) samples, whose
// differences would show almost no noise.
constexpr int kStride = 4;

// The noise of a set of differences of two samples that each carry it: the median absolute
// difference, scaled to a standard deviation (1.4826 for a normal distribution) and by 1/sqrt(2)
// for the two samples in each difference. The median ignores the few large differences at an
// edge in the picture or at a cut.
double NoiseOfDifferences(std::vector<double>& d) {
  if (d.empty()) return INFINITY;
  const size_t mid = d.size() / 2;
  std::nth_element(d.begin(), d.begin() + mid, d.end());
  return 1.4826 * d[mid] / std::sqrt(2.0);
}

}  // namespace

// The spread is the standard deviation of the interval's samples around their mean: what the
// SNR takes for noise. The noise is estimated twice, from near neighbours along the line and from
// the same samples in the frame before, and the lower estimate is kept: a still picture's
// detail raises the first only at its edges, motion raises only the second, while on a quiet
// line both give the noise. A spread far above that noise is picture, not noise.
double SpreadToNoise(const int32_t* samples, int count, const std::vector<int32_t>& previous) {
  if (count < 2 * kStride) return 0.0;
  double sum = 0.0, squares = 0.0;
  for (int i = 0; i < count; ++i) sum += samples[i], squares += double(samples[i]) * samples[i];
  const double mean = sum / count;
  const double spread = std::sqrt(std::max(squares / count - mean * mean, 0.0));
  std::vector<double> d;
  d.reserve(count);
  for (int i = kStride; i < count; ++i) d.push_back(std::fabs(double(samples[i]) - samples[i - kStride]));
  double noise = NoiseOfDifferences(d);
  if (static_cast<int>(previous.size()) == count) {
    d.clear();
    for (int i = 0; i < count; ++i) d.push_back(std::fabs(double(samples[i]) - previous[i]));
    noise = std::min(noise, NoiseOfDifferences(d));
  }
  return spread / std::max(noise, kNoiseFloor);
}

void QuietLineCheck::Add(const int32_t* const samples[3], int first, int last) {
  const int count = last - first + 1;
  if (count < 2 || first < 0) return;
  double ratio = 0.0;
  for (int c = 0; c < 3; ++c) {
    if (samples[c] == nullptr) continue;
    ratio = std::max(ratio, SpreadToNoise(samples[c] + first, count, previous_[c]));
    previous_[c].assign(samples[c] + first, samples[c] + first + count);
  }
  ++frames_;
  if (ratio > kBusyRatio) ++busyFrames_;
  if (ratios_.size() < kKeptRatios) ratios_.push_back(ratio);
}

double QuietLineCheck::TypicalRatio() const {
  if (ratios_.empty()) return 0.0;
  std::vector<double> r = ratios_;
  std::nth_element(r.begin(), r.begin() + r.size() / 2, r.end());
  return r[r.size() / 2];
}
