#include "cli/results/judge.h"

Verdict Judge(const Timeline& t, const Thresholds& limits) {
  Verdict v;
  v.tooManyDropped = limits.maxDropped >= 0 && t.framesDropped > limits.maxDropped;
  v.tooManyDamaged = limits.maxDamaged >= 0 && t.framesDamaged > limits.maxDamaged;
  v.failed = !t.error.empty();
  v.incomplete = !t.complete;
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
  v.flagged = v.tooManyDropped || v.tooManyDamaged || !v.segments.empty();
  return v;
}

const char* VerdictName(const Verdict& v) {
  return v.incomplete ? "incomplete" : v.failed ? "failed" : v.flagged ? "flag" : "pass";
}
