#include "cli/results/comparison.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kHalfWindow = 0.25;  // seconds either side of a pair that its smoothed delta spans

// One channel's spans beyond the margin, as index ranges into the pairs.
struct Span {
  size_t first = 0, last = 0;
  int sign = 0;
};

// A channel's deltas, each the mean over the pairs within a quarter second of it (in A's time):
// the frame-to-frame scatter of a measurement on noise must not make spans of single frames.
std::vector<double> Smoothed(const Timeline& a, const Timeline& b, const Alignment& al, int channel) {
  const size_t n = al.pairs.size();
  std::vector<double> sums(n + 1, 0.0), counts(n + 1, 0.0), out(n, NAN);
  for (size_t k = 0; k < n; ++k) {
    const double d = PairDelta(a, b, al.pairs[k], channel);
    sums[k + 1] = sums[k] + (std::isfinite(d) ? d : 0.0), counts[k + 1] = counts[k] + (std::isfinite(d) ? 1 : 0);
  }
  auto at = [&](size_t k) { return a.frames[al.pairs[k].a].seconds; };
  for (size_t k = 0, lo = 0, hi = 0; k < n; ++k) {
    while (at(lo) < at(k) - kHalfWindow) ++lo;
    while (hi < n && at(hi) <= at(k) + kHalfWindow) ++hi;
    if (counts[hi] > counts[lo]) out[k] = (sums[hi] - sums[lo]) / (counts[hi] - counts[lo]);
  }
  return out;
}

// Spans where the channel furthest from B = A stays beyond the margin on one side, joined
// across the channels as flagged segments are.
std::vector<Span> SpansOf(const Timeline& a, const Timeline& b, const Alignment& al, const std::vector<int>& channels,
                          double minDelta, double flagGap) {
  std::vector<std::vector<double>> smooth;
  for (int ch : channels) smooth.push_back(Smoothed(a, b, al, ch));
  std::vector<Span> spans;
  bool previous = false;  // the pair before was beyond the margin on the same side
  for (size_t k = 0; k < al.pairs.size(); ++k) {
    size_t far = 0;
    for (size_t c = 1; c < channels.size(); ++c) {
      if (std::fabs(smooth[c][k]) > std::fabs(smooth[far][k]) || std::isnan(smooth[far][k])) far = c;
    }
    const int sign = smooth[far][k] > minDelta ? 1 : smooth[far][k] < -minDelta ? -1 : 0;
    // A span starts and ends at a pair that is beyond the margin itself.
    const double d = PairDelta(a, b, al.pairs[k], channels[far]);
    if (sign == 0 || !(d * sign > minDelta)) {
      if (sign == 0) previous = false;
      continue;
    }
    const double time = a.frames[al.pairs[k].a].seconds;
    if (!spans.empty() && spans.back().sign == sign &&
        (previous || time - a.frames[al.pairs[spans.back().last].a].seconds < flagGap)) {
      spans.back().last = k;
    } else {
      spans.push_back(Span{k, k, sign});
    }
    previous = true;
  }
  return spans;
}

// A span's figures on one channel.
DeltaSegment SegmentOf(const Timeline& a, const Timeline& b, const Alignment& al, int channel, const Span& s) {
  DeltaSegment g;
  g.channel = channel;
  g.worse = s.sign < 0 ? 'B' : 'A';
  g.firstFrame = a.frames[al.pairs[s.first].a].index, g.lastFrame = a.frames[al.pairs[s.last].a].index;
  g.start = a.frames[al.pairs[s.first].a].seconds, g.end = a.frames[al.pairs[s.last].a].seconds;
  double sum = 0;
  int64_t n = 0;
  for (size_t k = s.first; k <= s.last; ++k) {
    const double d = PairDelta(a, b, al.pairs[k], channel);
    if (!std::isfinite(d)) continue;
    sum += d, ++n;
    if (d * s.sign > g.worstDelta * s.sign) g.worstDelta = d;
  }
  g.meanDelta = n > 0 ? sum / n : 0.0;
  return g;
}

}  // namespace

double PairDelta(const Timeline& a, const Timeline& b, const AlignedPair& p, int channel) {
  const double va = a.frames[p.a].snr[channel], vb = b.frames[p.b].snr[channel];
  return std::isfinite(va) && std::isfinite(vb) ? vb - va : NAN;
}

Comparison Compare(const Timeline& a, const Timeline& b, const Alignment& al, double minDelta, double flagGap) {
  Comparison c;
  c.channels = JudgedChannels(a);
  for (int ch = 0; ch < 3; ++ch) {
    ChannelMeans& m = c.means[ch];
    for (const AlignedPair& p : al.pairs) {
      const double va = a.frames[p.a].snr[ch], vb = b.frames[p.b].snr[ch];
      if (!std::isfinite(va) || !std::isfinite(vb)) continue;
      m.a += va, m.b += vb, ++m.pairs;
    }
    if (m.pairs > 0) m.a /= m.pairs, m.b /= m.pairs, m.delta = m.b - m.a;
  }
  for (int ch : c.channels) c.betterBy += c.means[ch].delta / c.channels.size();
  for (const Span& s : SpansOf(a, b, al, c.channels, minDelta, flagGap)) {
    // Named by the channel whose mean lies furthest out on the span's side.
    DeltaSegment best;
    for (int ch : c.channels) {
      const DeltaSegment g = SegmentOf(a, b, al, ch, s);
      if (ch == c.channels.front() || g.meanDelta * s.sign > best.meanDelta * s.sign) best = g;
    }
    c.segments.push_back(best);
  }
  c.better = c.betterBy >= 0.1 ? 'B' : c.betterBy <= -0.1 ? 'A' : 0;
  return c;
}
