#include "cli/results/judge.h"

#include <algorithm>

namespace {

// A frame lasts as the frames of the timeline are apart on average; one frame alone, nothing.
double FrameStep(const Timeline& t) {
  if (t.frames.size() < 2) return 0.0;
  const TimelineFrame &first = t.frames.front(), &last = t.frames.back();
  return last.index > first.index ? (last.seconds - first.seconds) / static_cast<double>(last.index - first.index) : 0.0;
}

// The frames below the threshold, in segments joined across the flag gap: each with its worst
// value, and the noise powers of its frames summed into `power` (one entry per segment).
std::vector<Segment> FlaggedSpans(const Timeline& t, const Thresholds& limits, std::vector<std::pair<double, int64_t>>& power) {
  std::vector<Segment> segments;
  const std::vector<int> judged = JudgedChannels(t);
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
    if (!segments.empty() && (inSegment || f.seconds - segments.back().end < limits.flagGap)) {
      Segment& s = segments.back();
      s.lastFrame = f.index, s.end = f.seconds;
      if (low < s.worst) s.worst = low, s.channel = channel;
    } else {
      segments.push_back(Segment{f.index, f.index, f.seconds, f.seconds, low, channel});
      power.emplace_back(0.0, 0);
    }
    power.back().first += std::pow(10.0, -low / 10.0), ++power.back().second;
    inSegment = true;
  }
  return segments;
}

}  // namespace

Verdict Judge(const Timeline& t, const Thresholds& limits) {
  Verdict v;
  v.tooManyDropped = limits.maxDropped >= 0 && t.framesDropped > limits.maxDropped;
  v.tooManyDamaged = limits.maxDamaged >= 0 && t.framesDamaged > limits.maxDamaged;
  v.failed = !t.error.empty();
  v.incomplete = !t.complete;
  if (!std::isnan(limits.minSnr)) {
    std::vector<std::pair<double, int64_t>> power;
    std::vector<Segment> spans = FlaggedSpans(t, limits, power);
    const double step = FrameStep(t);
    for (size_t i = 0; i < spans.size(); ++i) {
      Segment& s = spans[i];
      s.duration = s.end - s.start + step;
      s.mean = power[i].first > 0.0 ? -10.0 * std::log10(power[i].first / static_cast<double>(power[i].second)) : INFINITY;
      // A short burst below the threshold is no fault where the user asks for a longer one.
      if (s.duration + 1e-6 >= limits.minDuration) v.segments.push_back(s);
    }
  }
  v.flagged = v.tooManyDropped || v.tooManyDamaged || !v.segments.empty();
  return v;
}

const char* VerdictName(const Verdict& v) {
  return v.incomplete ? "incomplete" : v.failed ? "failed" : v.flagged ? "flag" : "pass";
}
