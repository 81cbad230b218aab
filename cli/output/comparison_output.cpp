#include "cli/output/comparison_output.h"

#include <cmath>
#include <cstdio>

#include "cli/output/json.h"

namespace {

std::string Value(double v) {
  if (!std::isfinite(v)) return "";
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

// A gap named by the frame it concerns: the lacking capture's counterpart in the other one,
// a repeat in its own.
std::string GapJson(const Timeline& a, const Timeline& b, const FrameGap& g) {
  const bool inA = (g.input == 'A') == (g.kind == FrameGap::Repeated);
  const int64_t frame = inA ? a.frames[g.position].index : b.frames[g.position].index;
  return std::string("{\"input\": \"") + g.input + "\", \"kind\": \"" +
         (g.kind == FrameGap::Missing ? "missing" : "repeated") + "\", \"" + (inA ? "a_frame" : "b_frame") +
         "\": " + std::to_string(frame) + ", \"frames\": " + std::to_string(g.frames) + "}";
}

std::string UnmatchedJson(const Alignment& al) {
  std::string j;
  const struct {
    char input;
    const char* where;
    int64_t frames;
  } spans[] = {{'A', "start", al.aLead}, {'B', "start", al.bLead}, {'A', "end", al.aTail}, {'B', "end", al.bTail}};
  for (const auto& s : spans) {
    if (s.frames == 0) continue;
    j += std::string(j.empty() ? "" : ", ") + "{\"input\": \"" + s.input + "\", \"where\": \"" + s.where +
         "\", \"frames\": " + std::to_string(s.frames) + "}";
  }
  return "[" + j + "]";
}

std::string SegmentsJson(const Comparison& c, const char* const* names) {
  std::string j;
  for (const DeltaSegment& g : c.segments) {
    j += std::string(j.empty() ? "\n" : ",\n") + "    {\"start\": " + JsonNumber(g.start) + ", \"end\": " +
         JsonNumber(g.end) + ", \"first_frame\": " + std::to_string(g.firstFrame) + ", \"last_frame\": " +
         std::to_string(g.lastFrame) + ", \"mean_delta\": " + JsonNumber(g.meanDelta) + ", \"worst_delta\": " +
         JsonNumber(g.worstDelta) + ", \"channel\": " + JsonString(names[g.channel]) + ", \"worse\": \"" + g.worse +
         "\"}";
  }
  return "[" + j + (j.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string ComparisonCsvHeader(const char* const* n, int channels) {
  std::string h = "a_frame,b_frame,time";
  for (int c = 0; c < channels; ++c) h += std::string(",") + n[c] + "_a," + n[c] + "_b," + n[c] + "_delta";
  return h + "\n";
}

std::string ComparisonCsvRow(const Timeline& a, const Timeline& b, const AlignedPair& p) {
  char head[96];
  std::snprintf(head, sizeof head, "%lld,%lld,%.3f", static_cast<long long>(a.frames[p.a].index),
                static_cast<long long>(b.frames[p.b].index), a.frames[p.a].seconds);
  std::string row = head;
  for (int c = 0; c < a.method.Channels(); ++c) {
    row += "," + Value(a.frames[p.a].snr[c]) + "," + Value(b.frames[p.b].snr[c]) + "," + Value(PairDelta(a, b, p, c));
  }
  return row + "\n";
}

std::string VerdictText(const Comparison& c, const char* const* names) {
  char b[96];
  if (c.better == 0) std::snprintf(b, sizeof b, "neither is better on average (%+.2f dB)", c.betterBy);
  else std::snprintf(b, sizeof b, "%c is better by %.2f dB on average", c.better, std::fabs(c.betterBy));
  std::string text = b, where;
  for (const DeltaSegment& g : c.segments) {
    if (c.better != 0 && g.worse != c.better) continue;  // where the other one is better
    std::snprintf(b, sizeof b, "%s%c better %.3f-%.3f s (%s, %+.2f dB)", where.empty() ? "" : ", ",
                  g.worse == 'A' ? 'B' : 'A', g.start, g.end, names[g.channel], g.meanDelta);
    where += b;
  }
  return where.empty() ? text : text + (c.better != 0 ? "; the other is better: " : "; ") + where;
}

std::string ComparisonJson(const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c) {
  const char* const* names = a.channelNames;
  std::string j = "{\n  \"a\": " + JsonString(a.input) + ",\n  \"b\": " + JsonString(b.input) + ",\n";
  const AlignedPair first = al.pairs.empty() ? AlignedPair{} : al.pairs.front();
  const double seconds = al.pairs.empty() ? 0.0 : a.frames[first.a].seconds - b.frames[first.b].seconds;
  j += "  \"offset_frames\": " + std::to_string(al.offset) + ",\n  \"offset_seconds\": " + JsonNumber(seconds) +
       ",\n  \"correlation\": " + JsonNumber(al.correlation) + ",\n  \"gaps\": [";
  for (size_t i = 0; i < al.gaps.size(); ++i) j += (i == 0 ? "" : ", ") + GapJson(a, b, al.gaps[i]);
  j += "],\n  \"unmatched\": " + UnmatchedJson(al) + ",\n  \"aligned_frames\": " + std::to_string(al.pairs.size()) +
       ",\n  \"channels\": {";
  for (size_t i = 0; i < c.channels.size(); ++i) {
    const ChannelMeans& m = c.means[c.channels[i]];
    j += std::string(i == 0 ? "" : ",") + "\n    " + JsonString(names[c.channels[i]]) + ": {\"mean_a\": " +
         JsonNumber(m.a) + ", \"mean_b\": " + JsonNumber(m.b) + ", \"mean_delta\": " + JsonNumber(m.delta) + "}";
  }
  j += "\n  },\n  \"segments\": " + SegmentsJson(c, names) + ",\n  \"verdict\": {\"better\": " +
       (c.better == 0 ? std::string("null") : "\"" + std::string(1, c.better) + "\"") +
       ", \"by\": " + JsonNumber(std::fabs(c.betterBy)) + ", \"text\": " + JsonString(VerdictText(c, names)) + "}\n}\n";
  return j;
}
