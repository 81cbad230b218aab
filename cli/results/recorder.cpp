#include "cli/results/recorder.h"

#include <algorithm>

namespace {

// Candidates for the typical frame: enough to find one near the median, little memory however
// long the input (64 lines of 3 channels).
constexpr size_t kMaxCandidates = 64;

}  // namespace

void TimelineRecorder::Add(const TimelineFrame& frame, const int32_t* const samples[3], int width) {
  if (judged_.empty()) judged_ = JudgedChannels(*t_);
  TimelineFrame f = frame;
  f.seconds = Stored(f.seconds, 6);
  for (int c = 0; c < 3; ++c) f.snr[c] = Stored(f.snr[c]), f.mean[c] = Stored(f.mean[c]);
  const size_t position = t_->frames.size();
  t_->frames.push_back(f);
  auto keep = [&](LineSamples& s) {
    s.frame = f.index;
    s.seconds = f.seconds;
    for (int c = 0; c < 3; ++c) s.channel[c].assign(samples[c], samples[c] + std::max(width, 0));
  };
  const double low = LowestSnr(f, judged_);
  if (low < worstValue_ || t_->worst.frame < 0) {
    worstValue_ = low;
    keep(t_->worst);
  }
  if (position % step_ == 0) {
    if (candidates_.size() == kMaxCandidates) {
      // Keep every other one: the rest stay evenly spread at twice the step. The first stays
      // where it is (moved onto itself it would be emptied).
      for (size_t i = 1; i < kMaxCandidates / 2; ++i) candidates_[i] = std::move(candidates_[2 * i]);
      candidates_.resize(kMaxCandidates / 2);
      step_ *= 2;  // the frame at hand lies on the new step too
    }
    candidates_.emplace_back();
    keep(candidates_.back());
  }
}

void TimelineRecorder::Finish() {
  if (t_->frames.empty() || candidates_.empty()) return;
  if (judged_.empty()) judged_ = JudgedChannels(*t_);
  std::vector<double> lows;
  lows.reserve(t_->frames.size());
  for (const TimelineFrame& f : t_->frames) lows.push_back(LowestSnr(f, judged_));
  std::nth_element(lows.begin(), lows.begin() + lows.size() / 2, lows.end());
  const double median = lows[lows.size() / 2];
  // A candidate's values: frames are kept in order, so its number finds it.
  auto lowOf = [&](const LineSamples& s) {
    auto it = std::lower_bound(t_->frames.begin(), t_->frames.end(), s.frame,
                               [](const TimelineFrame& f, int64_t index) { return f.index < index; });
    return it == t_->frames.end() ? INFINITY : LowestSnr(*it, judged_);
  };
  size_t best = 0;
  double bestDistance = INFINITY;
  for (size_t i = 0; i < candidates_.size(); ++i) {
    const double d = std::fabs(lowOf(candidates_[i]) - median);
    if (d < bestDistance) best = i, bestDistance = d;
  }
  t_->typical = std::move(candidates_[best]);
  candidates_.clear();
}
