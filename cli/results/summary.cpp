#include "cli/results/summary.h"
#include "cli/results/judge.h"

#include <algorithm>
#include <cmath>

void RunningStats::Add(double v) {
  ++count;
  if (!std::isnan(v)) powerSum += std::pow(10.0, -v / 10.0), ++powers;
  if (count == 1) {
    min = max = v;
  } else {
    min = std::min(min, v);
    max = std::max(max, v);
  }
  const double delta = v - mean;
  mean += delta / count;
  m2 += delta * (v - mean);
}

double RunningStats::StdDev() const { return count > 1 ? std::sqrt(m2 / count) : 0.0; }

double RunningStats::PowerMean() const {
  if (powers == 0) return NAN;
  return powerSum > 0.0 ? -10.0 * std::log10(powerSum / static_cast<double>(powers)) : INFINITY;
}

RunSummary SummaryOf(const Timeline& t, const Thresholds& limits) {
  RunSummary s;
  s.input = t.input;
  s.channelNames = t.channelNames;
  for (const TimelineFrame& f : t.frames) {
    for (int c = 0; c < t.method.Channels(); ++c) s.channels[c].Add(f.snr[c]);
  }
  s.framesAnalysed = static_cast<int64_t>(t.frames.size());
  s.framesDropped = t.framesDropped;
  s.framesDamaged = t.framesDamaged;
  s.line = t.line >= 0 ? t.line : t.settings.TVLine;
  s.field = t.field, s.tvLine = t.tvLine;
  s.settings = t.settings;
  s.method = t.method;
  s.dropped = t.dropped;
  s.error = t.error;
  s.verdict = Judge(t, limits);
  s.quietLine = t.quietLine;
  if (t.cut) s.cutAt = t.frames.empty() ? 0.0 : t.frames.back().seconds;
  return s;
}
