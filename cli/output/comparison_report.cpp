#include "cli/output/comparison_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/common/clock.h"
#include "cli/output/comparison_output.h"
#include "cli/output/markup.h"
#include "cli/output/report_overview.h"
#include "cli/output/samples_page.h"

namespace {

// Both plots share the time axis: A's time, over the same 1000 columns as the report's plot.
constexpr int kLeft = 56, kColumns = 1000, kTop = 12, kValuesHeight = 240, kDeltaHeight = 130;
constexpr int kWidth = kLeft + kColumns + 44;
constexpr size_t kListedSegments = 200;

const char* kStyle = R"(body{font:14px/1.4 sans-serif;color:#202020;background:#fff;margin:16px 24px;max-width:1180px}
h1{font-size:22px;margin:0 0 12px}h2{font-size:18px;margin:22px 0 6px}
table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:3px 7px}th{background:#f0f0f0}
td.n{text-align:right;font-variant-numeric:tabular-nums}p.verdict{font-size:16px;font-weight:bold}
svg.plot{display:block;max-width:100%;height:auto}svg.plot text{font:12px sans-serif;fill:#202020}
.legend span{display:inline-block;margin-right:18px}
.swatch{display:inline-block;width:22px;height:3px;margin-right:5px;vertical-align:middle}
.frames{display:grid;grid-template-columns:repeat(2,minmax(0,1fr));gap:12px 16px}figure{margin:0}
figcaption{font-size:13px;margin-top:2px}img{display:block;width:100%;height:auto;border:1px solid #ccc}
)";

std::string Time(double seconds) { return Clock(seconds, true); }

std::string Hex(uint32_t rgb) {
  char b[8];
  std::snprintf(b, sizeof b, "#%06x", rgb & 0xFFFFFF);
  return b;
}

// A number cell a program can read back: the exact value beside the one shown.
std::string Cell(const std::string& key, double v) {
  return "<td class=\"n\" data-key=\"" + EscapeMarkup(key) + "\" data-value=\"" + ReportExact(v) + "\">" + ReportShown(v) +
         "</td>";
}
std::string Cell(const std::string& key, int64_t v) {
  return "<td class=\"n\" data-key=\"" + EscapeMarkup(key) + "\" data-value=\"" + std::to_string(v) + "\">" +
         std::to_string(v) + "</td>";
}
std::string TextCell(const std::string& key, const std::string& v) {
  return "<td data-key=\"" + EscapeMarkup(key) + "\" data-value=\"" + EscapeMarkup(v) + "\">" + EscapeMarkup(v) + "</td>";
}

// The time axis (A's) and the two value axes: the values' fixed, the delta's symmetric.
struct Axes {
  double start = 0.0, span = 1.0;
  double low = 10.0, high = 70.0, delta = 2.0;
  int Column(double seconds) const {
    return std::clamp(static_cast<int>((seconds - start) / span * kColumns), 0, kColumns - 1);
  }
  double X(double seconds) const { return kLeft + Column(seconds) + 0.5; }
  double Y(double db) const { return kTop + (high - std::clamp(db, low, high)) / (high - low) * kValuesHeight; }
  double DeltaY(double db) const {
    return kTop + (delta - std::clamp(db, -delta, delta)) / (2 * delta) * kDeltaHeight;
  }
};

Axes MakeAxes(const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c, const ReportOptions& o) {
  Axes x;
  if (!a.frames.empty()) {
    x.start = a.frames.front().seconds;
    x.span = std::max(1e-3, a.frames.back().seconds - x.start);
  }
  if (std::isfinite(o.snrLow) && std::isfinite(o.snrHigh) && o.snrLow < o.snrHigh) x.low = o.snrLow, x.high = o.snrHigh;
  double worst = 1.0;
  for (const AlignedPair& p : al.pairs) {
    for (int ch : c.channels) {
      const double d = PairDelta(a, b, p, ch);
      if (std::isfinite(d)) worst = std::max(worst, std::fabs(d));
    }
  }
  x.delta = std::min(60.0, std::ceil(worst));  // whole dB, so the ticks fall on round values
  return x;
}

// One trace per column: the mean of the values that fall in it, the lowest and the highest.
struct ColumnValues {
  double sum = 0.0, low = INFINITY, high = -INFINITY;
  int count = 0;
  bool breakBefore = false;  // a pair with no value lies between this column and the one before
};

// A line through the columns' means, broken where a pair has no value, with each column's
// spread as a short vertical stroke.
template <typename ValueOf, typename YOf>
std::string TracePath(const Alignment& al, const Axes& x, const Timeline& a, ValueOf value, YOf y) {
  std::vector<ColumnValues> cols(kColumns);
  bool broken = true;
  for (const AlignedPair& p : al.pairs) {
    const double v = value(p);
    if (!std::isfinite(v)) {
      broken = true;
      continue;
    }
    ColumnValues& c = cols[x.Column(a.frames[p.a].seconds)];
    if (c.count == 0) c.breakBefore = broken;
    broken = false;
    c.sum += v, c.low = std::min(c.low, v), c.high = std::max(c.high, v), ++c.count;
  }
  std::string d;
  char b[64];
  for (int i = 0; i < kColumns; ++i) {
    if (cols[i].count == 0) continue;
    std::snprintf(b, sizeof b, "%c%d %.1f", cols[i].breakBefore ? 'M' : 'L', kLeft + i, y(cols[i].sum / cols[i].count));
    d += b;
    if (cols[i].high - cols[i].low > 0.05) {
      std::snprintf(b, sizeof b, "M%d %.1fV%.1fM%d %.1f", kLeft + i, y(cols[i].high), y(cols[i].low), kLeft + i,
                    y(cols[i].sum / cols[i].count));
      d += b;
    }
  }
  return d;
}

// A's time of a gap: where the lacking or repeating capture's frame falls among the pairs.
double GapTime(const Timeline& a, const Alignment& al, const FrameGap& g) {
  const bool inA = (g.input == 'A') == (g.kind == FrameGap::Repeated);
  if (inA) return a.frames[std::clamp<int64_t>(g.position, 0, int64_t(a.frames.size()) - 1)].seconds;
  for (const AlignedPair& p : al.pairs) {
    if (p.b >= g.position) return a.frames[p.a].seconds;
  }
  return al.pairs.empty() ? 0.0 : a.frames[al.pairs.back().a].seconds;
}

std::string GapText(const Timeline& a, const Timeline& b, const FrameGap& g) {
  const bool inA = (g.input == 'A') == (g.kind == FrameGap::Repeated);
  const int64_t frame = inA ? a.frames[g.position].index : b.frames[g.position].index;
  return std::string(1, g.input) + (g.kind == FrameGap::Missing ? " lacks " : " repeats ") + std::to_string(g.frames) +
         (g.frames == 1 ? " frame" : " frames") + " at " + (inA ? "A's" : "B's") + " frame " + std::to_string(frame);
}

// The segments shaded and the gaps marked, behind the traces of a plot `height` high.
std::string Marks(const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c, const Axes& x,
                  int height) {
  std::string h = "<g class=\"segments\" fill=\"#ffd6d0\">";
  for (const DeltaSegment& s : c.segments) {
    const int left = x.Column(s.start), right = x.Column(s.end);
    h += "<rect x=\"" + std::to_string(kLeft + left) + "\" y=\"" + std::to_string(kTop) + "\" width=\"" +
         std::to_string(right - left + 1) + "\" height=\"" + std::to_string(height) + "\"><title>" +
         EscapeMarkup(std::string(1, s.worse) + " worse " + Time(s.start) + "–" + Time(s.end) + ", " +
                      ReportShown(s.meanDelta) + " dB (" + a.channelNames[s.channel % 3] + ")") +
         "</title></rect>";
  }
  h += "</g>\n<g class=\"gaps\" stroke=\"#6a1b9a\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\">";
  for (const FrameGap& g : al.gaps) {
    h += "<path d=\"M" + ReportFormat("%.1f", x.X(GapTime(a, al, g))) + " " + std::to_string(kTop) + "v" +
         std::to_string(height) + "\"><title>" + EscapeMarkup(GapText(a, b, g)) + "</title></path>";
  }
  return h + "</g>\n";
}

// The frame, the horizontal ticks and their labels of a plot `height` high.
std::string Frame(const Axes& x, int height, double top, double bottom, double step, const char* unit) {
  std::string grid, labels;
  for (double v = bottom; v <= top + 1e-9; v += step) {
    const double y = kTop + (top - v) / (top - bottom) * height;
    grid += "M" + std::to_string(kLeft) + " " + ReportFormat("%.1f", y) + "h" + std::to_string(kColumns);
    labels += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + ReportFormat("%.1f", y + 4) +
              "\" text-anchor=\"end\">" + ReportFormat(bottom < 0 ? "%+g" : "%g", v) + "</text>";
  }
  double tickStep = 0.1;
  for (double step : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1800.0, 3600.0}) {
    tickStep = step;
    if (step / x.span * kColumns >= 110) break;
  }
  while (tickStep / x.span * kColumns < 110) tickStep *= 2;
  for (double t = std::ceil(x.start / tickStep) * tickStep; t <= x.start + x.span + 1e-9; t += tickStep) {
    const double px = kLeft + (t - x.start) / x.span * kColumns;
    grid += "M" + ReportFormat("%.1f", px) + " " + std::to_string(kTop) + "v" + std::to_string(height);
    labels += "<text x=\"" + ReportFormat("%.1f", px) + "\" y=\"" + std::to_string(kTop + height + 16) +
              "\" text-anchor=\"middle\">" + EscapeMarkup(Time(t)) + "</text>";
  }
  return "<path class=\"grid\" d=\"" + grid + "\" stroke=\"#e0e0e0\" fill=\"none\"/>\n" + labels +
         "<text x=\"6\" y=\"" + std::to_string(kTop + height / 2 + 4) + "\">" + unit + "</text>\n<rect x=\"" +
         std::to_string(kLeft) + "\" y=\"" + std::to_string(kTop) + "\" width=\"" + std::to_string(kColumns) +
         "\" height=\"" + std::to_string(height) + "\" fill=\"none\" stroke=\"#808080\"/>\n";
}

std::string SvgOpen(int height, const std::string& label) {
  const int total = kTop + height + 26;
  return "<svg class=\"plot\" viewBox=\"0 0 " + std::to_string(kWidth) + " " + std::to_string(total) + "\" width=\"" +
         std::to_string(kWidth) + "\" height=\"" + std::to_string(total) + "\" role=\"img\" aria-label=\"" +
         EscapeMarkup(label) + "\">\n";
}

std::string TraceElement(const char* cls, const std::string& channel, uint32_t color, const char* dash,
                         const std::string& d) {
  return "<path class=\"" + std::string(cls) + "\" data-channel=\"" + EscapeMarkup(channel) + "\" stroke=\"" + Hex(color) +
         "\" stroke-width=\"1.3\"" + dash + " fill=\"none\" d=\"" + d + "\"/>\n";
}

void Plots(std::string& h, const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c,
           const Axes& x) {
  h += "<h2>Both captures over A's time</h2>\n" + SvgOpen(kValuesHeight, "SNR of A and B over A's time");
  h += Marks(a, b, al, c, x, kValuesHeight) + Frame(x, kValuesHeight, x.high, x.low, (x.high - x.low) / 6, "dB");
  for (int ch : c.channels) {
    const uint32_t color = ChannelColor(a.settings, ch);
    auto y = [&](double v) { return x.Y(v); };
    h += TraceElement("a", a.channelNames[ch], color, "",
                      TracePath(al, x, a, [&](const AlignedPair& p) { return a.frames[p.a].snr[ch]; }, y));
    h += TraceElement("b", a.channelNames[ch], color, " stroke-dasharray=\"5 3\" stroke-opacity=\"0.8\"",
                      TracePath(al, x, a, [&](const AlignedPair& p) { return b.frames[p.b].snr[ch]; }, y));
  }
  h += "</svg>\n<h2>B − A</h2>\n" + SvgOpen(kDeltaHeight, "B minus A over A's time");
  h += Marks(a, b, al, c, x, kDeltaHeight) + Frame(x, kDeltaHeight, x.delta, -x.delta, x.delta / 2, "dB");
  for (int ch : c.channels) {
    auto y = [&](double v) { return x.DeltaY(v); };
    h += TraceElement("delta", a.channelNames[ch], ChannelColor(a.settings, ch), "",
                      TracePath(al, x, a, [&](const AlignedPair& p) { return PairDelta(a, b, p, ch); }, y));
  }
  h += "</svg>\n<p class=\"legend\">";
  for (int ch : c.channels) {
    const std::string color = Hex(ChannelColor(a.settings, ch)), name = EscapeMarkup(a.channelNames[ch]);
    h += "<span><i class=\"swatch\" style=\"background:" + color + "\"></i>" + name + " A, and B − A</span><span>"
         "<i class=\"swatch\" style=\"border-top:3px dashed " + color + ";height:0\"></i>" + name + " B</span>";
  }
  h += "<span><i class=\"swatch\" style=\"background:#ffd6d0;height:10px\"></i>segment</span><span><i class=\"swatch\" "
       "style=\"border-top:2px dashed #6a1b9a;height:0\"></i>gap</span></p>\n";
}

void Overview(std::string& h, const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c) {
  const double seconds = al.pairs.empty() ? 0.0 : a.frames[al.pairs.front().a].seconds - b.frames[al.pairs.front().b].seconds;
  h += "<p class=\"verdict\" data-key=\"verdict.better\" data-value=\"" + std::string(c.better ? std::string(1, c.better) : "none") +
       "\">" + EscapeMarkup(VerdictText(c, a.channelNames)) + "</p>\n<table class=\"overview\">";
  h += "<tr><th>A</th>" + TextCell("a", a.input) + "</tr><tr><th>B</th>" + TextCell("b", b.input) + "</tr>";
  h += "<tr><th>better by, dB</th>" + Cell("verdict.by", std::fabs(c.betterBy)) + "</tr>";
  h += "<tr><th>offset, frames</th>" + Cell("offset_frames", al.offset) + "</tr><tr><th>offset, s</th>" +
       Cell("offset_seconds", seconds) + "</tr><tr><th>correlation</th>" + Cell("correlation", al.correlation) + "</tr>";
  h += "<tr><th>aligned frames</th>" + Cell("aligned_frames", int64_t(al.pairs.size())) + "</tr><tr><th>gaps</th>" +
       Cell("gaps", int64_t(al.gaps.size())) + "</tr></table>\n";
  h += "<h2>Means over the aligned frames</h2>\n<table class=\"channels\"><tr><th>channel</th><th>A, dB</th><th>B, dB</th>"
       "<th>B − A, dB</th></tr>";
  for (int ch : c.channels) {
    const std::string n = a.channelNames[ch];
    h += "<tr><td>" + EscapeMarkup(n) + "</td>" + Cell(n + ".mean_a", c.means[ch].a) + Cell(n + ".mean_b", c.means[ch].b) +
         Cell(n + ".mean_delta", c.means[ch].delta) + "</tr>";
  }
  h += "</table>\n";
  if (!al.gaps.empty()) {
    h += "<ul class=\"gaps\">";
    for (const FrameGap& g : al.gaps) h += "<li>" + EscapeMarkup(GapText(a, b, g)) + " (" + Time(GapTime(a, al, g)) + ")</li>";
    h += "</ul>\n";
  }
}

void SegmentTable(std::string& h, const Timeline& a, const Comparison& c) {
  h += "<h2>Segments: " + std::to_string(c.segments.size()) + "</h2>\n";
  if (c.segments.empty()) {
    h += "<p>No span where one capture stays the worse.</p>\n";
    return;
  }
  h += "<table class=\"segments\"><tr><th>#</th><th>start, s</th><th>end, s</th><th>first frame</th><th>last frame</th>"
       "<th>mean B − A, dB</th><th>worst B − A, dB</th><th>channel</th><th>worse</th></tr>\n";
  for (size_t i = 0; i < c.segments.size() && i < kListedSegments; ++i) {
    const DeltaSegment& s = c.segments[i];
    h += "<tr data-segment=\"" + std::to_string(i) + "\"><td class=\"n\">" + std::to_string(i + 1) + "</td>" +
         Cell("start", s.start) + Cell("end", s.end) + Cell("first_frame", s.firstFrame) + Cell("last_frame", s.lastFrame) +
         Cell("mean_delta", s.meanDelta) + Cell("worst_delta", s.worstDelta) +
         TextCell("channel", a.channelNames[s.channel % 3]) + TextCell("worse", std::string(1, s.worse)) + "</tr>\n";
  }
  h += "</table>\n";
  if (c.segments.size() > kListedSegments) {
    h += "<p>… and " + std::to_string(c.segments.size() - kListedSegments) + " more, shaded in the plots.</p>\n";
  }
}

// The aligned pair with the delta furthest from 0 over the compared channels; null for none.
const AlignedPair* WorstPair(const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c) {
  const AlignedPair* worst = nullptr;
  double far = -1.0;
  for (const AlignedPair& p : al.pairs) {
    for (int ch : c.channels) {
      const double d = std::fabs(PairDelta(a, b, p, ch));
      if (std::isfinite(d) && d > far) far = d, worst = &p;
    }
  }
  return worst;
}

// The samples of `frame` where the run kept them; else its lowest-SNR frame's, and the
// caption says it is not the frame asked for.
std::string Figure(const Timeline& t, char name, int64_t frame, TextPainter* text) {
  const LineSamples* s = !t.worst.Empty() && t.worst.frame == frame     ? &t.worst
                         : !t.typical.Empty() && t.typical.frame == frame ? &t.typical
                                                                          : nullptr;
  std::string caption = std::string(1, name) + ", frame " + std::to_string(frame) + " (at the worst delta)";
  if (s == nullptr) {
    if (t.worst.Empty()) return "<figure><figcaption>" + std::string(1, name) + ": no frame's line kept</figcaption></figure>\n";
    s = &t.worst;
    caption = std::string(1, name) + ", frame " + std::to_string(s->frame) + " at " + Time(s->seconds) +
              ": its lowest-SNR frame, not frame " + std::to_string(frame) +
              " of the worst delta, whose line the run did not keep";
  } else {
    caption += " at " + Time(s->seconds);
  }
  std::string png;
  if (!EncodePng(SamplesPage(t, *s, ModeOscilloscope, text), &png)) return "";
  return "<figure><img alt=\"" + EscapeMarkup(caption) + "\" src=\"data:image/png;base64," + ReportBase64(png) +
         "\"><figcaption>" + EscapeMarkup(caption) + "</figcaption></figure>\n";
}

void Pictures(std::string& h, const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c,
              TextPainter* text) {
  const AlignedPair* p = WorstPair(a, b, al, c);
  if (p == nullptr) return;
  const int64_t fa = a.frames[p->a].index, fb = b.frames[p->b].index;
  h += "<h2>The line at the worst delta: A's frame " + std::to_string(fa) + ", B's frame " + std::to_string(fb) + " at " +
       Time(a.frames[p->a].seconds) + "</h2>\n<div class=\"frames\">\n" + Figure(a, 'A', fa, text) + Figure(b, 'B', fb, text) +
       "</div>\n";
}

}  // namespace

std::string ComparisonReportHtml(const Timeline& a, const Timeline& b, const Alignment& al, const Comparison& c,
                                 const ReportOptions& options, TextPainter* text) {
  std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>lineview comparison"
                  "</title>\n<style>\n";
  h += kStyle;
  h += "</style>\n</head>\n<body>\n<h1>lineview comparison: " + EscapeMarkup(ReportInputName(a)) + " (A) and " +
       EscapeMarkup(ReportInputName(b)) + " (B), " + EscapeMarkup(ReportLineText(a)) + "</h1>\n";
  Overview(h, a, b, al, c);
  Plots(h, a, b, al, c, MakeAxes(a, b, al, c, options));
  SegmentTable(h, a, c);
  Pictures(h, a, b, al, c, text);
  h += "</body>\n</html>\n";
  return h;
}
