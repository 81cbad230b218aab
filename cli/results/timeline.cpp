#include "cli/results/timeline.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "analysis/page_style.h"

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

std::vector<int> JudgedChannels(const Timeline& t) {
  return t.method.Luma() ? std::vector<int>{0} : JudgedChannels(t.settings);
}

double LowestSnr(const TimelineFrame& f, const std::vector<int>& channels) {
  double low = INFINITY;
  for (int c : channels) low = std::min(low, f.snr[c]);
  return low;
}
