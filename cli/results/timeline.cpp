#include "cli/results/timeline.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "analysis/page_style.h"
#include "cli/run/headless_window.h"
#include "plugin/analysis_state.h"

namespace {

// Candidates for the typical frame: enough to find one near the median, little memory however
// long the input (64 lines of 3 channels).
constexpr size_t kMaxCandidates = 64;

}  // namespace

double Stored(double v, int decimals) {
  if (!std::isfinite(v)) return v;
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  return std::strtod(b, nullptr);
}

std::vector<int> JudgedChannels(const AnalysisSettings& s) {
  std::vector<int> shown;
  for (int c = 0; c < 3; ++c) {
    if (ChannelShown(s, FirstChannel(s) + c)) shown.push_back(c);
  }
  if (shown.empty()) shown = {0, 1, 2};
  return shown;
}

double LowestSnr(const TimelineFrame& f, const std::vector<int>& channels) {
  double low = INFINITY;
  for (int c : channels) low = std::min(low, f.snr[c]);
  return low;
}

Verdict Judge(const Timeline& t, const Thresholds& limits) {
  Verdict v;
  v.tooManyDropped = limits.maxDropped >= 0 && t.framesDropped > limits.maxDropped;
  if (!std::isnan(limits.minSnr)) {
    const std::vector<int> judged = JudgedChannels(t.settings);
    bool inSegment = false;  // the frame before was flagged
    for (const TimelineFrame& f : t.frames) {
      int channel = judged.front();
      for (int c : judged) {
        if (f.snr[c] < f.snr[channel]) channel = c;
      }
      const double low = f.snr[channel];
      if (!(low < limits.minSnr)) {
        inSegment = false;
        continue;
      }
      // Frames in a row always join; spans apart join when the gap between them is short.
      if (!v.segments.empty() && (inSegment || f.seconds - v.segments.back().end < limits.flagGap)) {
        Segment& s = v.segments.back();
        s.lastFrame = f.index, s.end = f.seconds;
        if (low < s.worst) s.worst = low, s.channel = channel;
      } else {
        v.segments.push_back(Segment{f.index, f.index, f.seconds, f.seconds, low, channel});
      }
      inSegment = true;
    }
  }
  v.flagged = v.tooManyDropped || !v.segments.empty();
  return v;
}

void TimelineRecorder::Add(const TimelineFrame& frame, const int32_t* const samples[3], int width) {
  if (judged_.empty()) judged_ = JudgedChannels(t_->settings);
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
  if (judged_.empty()) judged_ = JudgedChannels(t_->settings);
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

Picture SamplesPage(const Timeline& t, const LineSamples& samples, int page, TextPainter* text) {
  AnalysisState st;
  st.liveSettings = t.settings;
  st.liveSettings.TVLine = 0;
  const int width = static_cast<int>(samples.channel[0].size());
  ConfigureState(st, FrameFormat{std::max(width, 1), 1, 0, 0});
  PlotCanvas canvas(kCanvasWidth, kCanvasHeight);
  canvas.plotRect = kPagePlotRect;
  if (st.BuffersReady()) {
    const int first = FirstChannel(t.settings);
    for (int c = 0; c < 3; ++c) {
      const std::vector<int32_t>& v = samples.channel[c];
      std::copy(v.begin(), v.begin() + std::min<size_t>(v.size(), width), st.channels[first + c]);
    }
    st.width = width;  // an empty line stays empty, though its buffers hold one sample
    RenderPage(st, t.settings, page, canvas);
  }
  ReleaseStateBuffers(st);
  return ComposePage(page, canvas, t.settings, text, kPageWidth, kPageHeight);
}

std::string Clock(double seconds, bool fraction) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  seconds = std::min(seconds, 1e9);  // beyond any recording: keeps the conversions below defined
  const int64_t hundredths = static_cast<int64_t>(std::llround(seconds * 100));
  const int64_t whole = fraction ? hundredths / 100 : static_cast<int64_t>(seconds);
  char b[48];
  int n = std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                        static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
  if (fraction) std::snprintf(b + n, sizeof b - n, ".%02lld", static_cast<long long>(hundredths % 100));
  return b;
}
