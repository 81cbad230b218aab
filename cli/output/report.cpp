#include "cli/output/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/output/markup.h"
#include "cli/output/report_overview.h"
#include "cli/results/summary.h"
#include "cli/output/time_plot.h"
#include "cli/common/clock.h"
#include "cli/output/samples_page.h"
#include "cli/results/judge.h"
#include "cli/common/names.h"

namespace {

// The SVG plot: the same 1000 columns as the picture, in a box a page's width.
constexpr int kSvgLeft = 56, kSvgTop = 12, kSvgColumns = 1000, kSvgHeight = 280;
constexpr int kSvgWidth = kSvgLeft + kSvgColumns + 44, kSvgTotal = kSvgTop + kSvgHeight + 34;
// Past this, the list under a plot only counts: the shading still shows them all.
constexpr size_t kListedSegments = 200;

std::string Hex(uint32_t rgb) {
  char b[8];
  std::snprintf(b, sizeof b, "#%06x", rgb & 0xFFFFFF);
  return b;
}

std::string Time(double seconds) { return Clock(seconds, true); }

const char* kStyle = R"(body{font:14px/1.4 sans-serif;color:#202020;background:#fff;margin:16px 24px;max-width:1180px}
h1{font-size:22px;margin:0 0 12px}h2{font-size:18px;margin:22px 0 6px}
section{margin-top:22px;padding-top:8px;border-top:2px solid #ccc}summary{cursor:pointer}summary h2{display:inline;margin:0}
ol.attention li{margin:2px 0}
h3{font-size:15px;margin:14px 0 4px}
table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:3px 7px}th{background:#f0f0f0}
td.n{text-align:right;font-variant-numeric:tabular-nums}
.pass{color:#08660f;font-weight:bold}.flag{color:#b00000;font-weight:bold}
.failed{color:#6a1b9a;font-weight:bold}.incomplete{color:#a05a00;font-weight:bold}
svg.plot{display:block;max-width:100%;height:auto}
svg.plot text{font:12px sans-serif;fill:#202020}
.legend span{display:inline-block;margin-right:18px}
.swatch{display:inline-block;width:22px;height:10px;margin-right:5px;vertical-align:middle}
.frames{display:grid;grid-template-columns:repeat(2,minmax(0,1fr));gap:12px 16px}figure{margin:0}
figcaption{font-size:13px;margin-top:2px}img{display:block;width:100%;height:auto;border:1px solid #ccc}
table.settings th{text-align:left;font-weight:normal;background:#f7f7f7}
)";

// --- the SVG plot --------------------------------------------------------------------------------

struct SvgMap {
  const TimePlot& p;
  double X(double column) const { return kSvgLeft + column; }
  double Y(double db) const { return kSvgTop + (p.high - db) / (p.high - p.low) * kSvgHeight; }
};

void Point(std::string& d, char command, double x, double y) {
  char b[48];
  std::snprintf(b, sizeof b, "%c%.1f %.1f", command, x, y);
  d += b;
}

// One closed outline per run of columns with values: along the highs, back along the lows.
// `minHeight` keeps a steady trace visible.
std::string BandPath(const SvgMap& m, const ColumnTrace& trace, double minHeight) {
  std::string d;
  const int n = static_cast<int>(trace.size());
  for (int x = 0; x < n;) {
    if (!trace[x].any) {
      ++x;
      continue;
    }
    int end = x;
    while (end < n && trace[end].any) ++end;
    const bool single = end - x == 1;
    auto edges = [&](int i, double* top, double* bottom) {
      const double yHigh = m.Y(trace[i].high), yLow = m.Y(trace[i].low), mid = (yHigh + yLow) / 2;
      *top = std::min(yHigh, mid - minHeight / 2), *bottom = std::max(yLow, mid + minHeight / 2);
    };
    double top = 0, bottom = 0;
    for (int i = x; i < end; ++i) {
      edges(i, &top, &bottom);
      Point(d, i == x ? 'M' : 'L', m.X(single ? i : i + 0.5), top);
      if (single) Point(d, 'L', m.X(i + 1), top);
    }
    for (int i = end - 1; i >= x; --i) {
      edges(i, &top, &bottom);
      if (single) Point(d, 'L', m.X(i + 1), bottom);
      Point(d, 'L', m.X(single ? i : i + 0.5), bottom);
    }
    d += 'Z';
    x = end;
  }
  return d;
}

std::string SegmentText(const Timeline& t, const Segment& s) {
  return Time(s.start) + "–" + Time(s.end) + ", lowest " + ReportShown(s.worst) + " dB (" + t.channelNames[s.channel % 3] + ")";
}

void FlagShades(std::string& h, const Timeline& t, const TimePlot& p, const SvgMap& m) {
  // Each run of shaded columns is one rectangle, its tooltip the spans it covers.
  std::vector<int> runOf(p.columns, -1);
  std::vector<std::pair<int, int>> runs;
  for (int x = 0; x < p.columns; ++x) {
    if (!p.flagged[x]) continue;
    if (x == 0 || !p.flagged[x - 1]) runs.push_back({x, x});
    runs.back().second = x;
    runOf[x] = static_cast<int>(runs.size()) - 1;
  }
  std::vector<std::vector<const Segment*>> covered(runs.size());
  for (const Segment& s : p.verdict.segments) {
    const int run = runOf[std::min(ColumnOf(p, s.start), ColumnOf(p, s.end))];
    if (run >= 0) covered[run].push_back(&s);
  }
  h += "<g class=\"flags\" fill=\"" + Hex(kFlagShade) + "\">";
  for (size_t r = 0; r < runs.size(); ++r) {
    std::string title;
    const std::vector<const Segment*>& list = covered[r];
    if (list.size() == 1) {
      title = "flagged " + SegmentText(t, *list[0]);
    } else if (!list.empty()) {
      const Segment* worst = *std::min_element(list.begin(), list.end(),
                                               [](const Segment* a, const Segment* b) { return a->worst < b->worst; });
      Segment all = *worst;
      all.start = list.front()->start, all.end = list.back()->end;
      title = std::to_string(list.size()) + " flagged spans, " + SegmentText(t, all);
    }
    h += "<rect class=\"flag\" x=\"" + ReportFormat("%.0f", m.X(runs[r].first)) + "\" y=\"" + std::to_string(kSvgTop) +
         "\" width=\"" + std::to_string(runs[r].second - runs[r].first + 1) + "\" height=\"" +
         std::to_string(kSvgHeight) + "\"><title>" + EscapeMarkup(title) + "</title></rect>";
  }
  h += "</g>\n";
}

void SvgPlot(std::string& h, const Timeline& t, const TimePlot& p) {
  const SvgMap m{p};
  h += "<svg class=\"plot\" viewBox=\"0 0 " + std::to_string(kSvgWidth) + " " + std::to_string(kSvgTotal) +
       "\" width=\"" + std::to_string(kSvgWidth) + "\" height=\"" + std::to_string(kSvgTotal) +
       "\" role=\"img\" aria-label=\"SNR over time of " + EscapeMarkup(TimelineTitle(t)) + "\">\n";
  FlagShades(h, t, p, m);
  std::string grid, labels;
  const double bottom = kSvgTop + kSvgHeight;
  for (const Tick& k : DbTicks(p, 6)) {
    Point(grid, 'M', kSvgLeft, m.Y(k.value)), grid += "h" + std::to_string(kSvgColumns);
    labels += "<text x=\"" + std::to_string(kSvgLeft - 6) + "\" y=\"" + ReportFormat("%.1f", m.Y(k.value) + 4) +
              "\" text-anchor=\"end\">" + EscapeMarkup(k.label) + "</text>";
  }
  for (const Tick& k : TimeTicks(p, kSvgColumns, 90)) {
    const double x = m.X(ColumnOf(p, k.value));
    Point(grid, 'M', x, kSvgTop), grid += "V" + ReportFormat("%.0f", bottom);
    labels += "<text x=\"" + ReportFormat("%.1f", x) + "\" y=\"" + ReportFormat("%.0f", bottom + 17) +
              "\" text-anchor=\"middle\">" + EscapeMarkup(k.label) + "</text>";
  }
  h += "<path class=\"grid\" d=\"" + grid + "\" stroke=\"#e0e0e0\" fill=\"none\"/>\n";
  for (int c : p.channels) {
    h += "<path class=\"band\" data-channel=\"" + EscapeMarkup(t.channelNames[c]) + "\" fill=\"" +
         Hex(ChannelColor(t.settings, c)) + "\" fill-opacity=\"0.6\" d=\"" + BandPath(m, p.snr[c], 2.0) + "\"/>\n";
  }
  if (!std::isnan(p.threshold)) {
    std::string d;
    Point(d, 'M', kSvgLeft, m.Y(p.threshold));
    h += "<path class=\"threshold\" d=\"" + d + "h" + std::to_string(kSvgColumns) + "\" stroke=\"" + Hex(kThresholdColor) +
         "\" stroke-width=\"1.5\" stroke-dasharray=\"8 5\" fill=\"none\"><title>minimum " + ReportShown(p.threshold) +
         " dB</title></path>\n";
  }
  for (int c : p.channels) {
    const std::string color = Hex(ChannelColor(t.settings, c));
    h += "<path class=\"mean\" data-channel=\"" + EscapeMarkup(t.channelNames[c]) + "\" fill=\"" + color + "\" stroke=\"" + color +
         "\" stroke-width=\"1.2\" stroke-linejoin=\"round\" d=\"" + BandPath(m, p.mean[c], 0.5) + "\"/>\n";
  }
  h += "<rect x=\"" + std::to_string(kSvgLeft) + "\" y=\"" + std::to_string(kSvgTop) + "\" width=\"" +
       std::to_string(kSvgColumns) + "\" height=\"" + std::to_string(kSvgHeight) + "\" fill=\"none\" stroke=\"#808080\"/>\n";
  h += labels + "<text x=\"10\" y=\"" + std::to_string(kSvgTop + 10) + "\">dB</text>";
  if (t.frames.empty()) {
    h += "<text x=\"" + std::to_string(kSvgLeft + kSvgColumns / 2) + "\" y=\"" + std::to_string(kSvgTop + kSvgHeight / 2) +
         "\" text-anchor=\"middle\">no frames</text>";
  }
  h += "\n</svg>\n";
}

void Legend(std::string& h, const Timeline& t, const TimePlot& p) {
  h += "<p class=\"legend\">";
  for (int c : p.channels) {
    const std::string color = Hex(ChannelColor(t.settings, c)), name = EscapeMarkup(t.channelNames[c]);
    h += "<span><i class=\"swatch\" style=\"background:" + color + ";opacity:.6\"></i>" + name +
         " each frame</span><span><i class=\"swatch\" style=\"background:" + color + ";height:3px\"></i>" + name +
         (t.method.Luma() ? " 1-s power mean</span>" : " 50-frame mean</span>");
  }
  if (!std::isnan(p.threshold)) {
    h += "<span><i class=\"swatch\" style=\"border-top:2px dashed " + Hex(kThresholdColor) + ";height:0\"></i>minimum</span>";
  }
  h += "<span><i class=\"swatch\" style=\"background:" + Hex(kFlagShade) + "\"></i>flagged</span></p>\n";
}

void SegmentList(std::string& h, const Timeline& t, const Verdict& v, const Thresholds& limits) {
  if (v.tooManyDropped) {
    h += "<p class=\"flag\">" + std::to_string(t.framesDropped) + " frames dropped, more than the " +
         std::to_string(limits.maxDropped) + " allowed</p>\n";
  }
  if (v.tooManyDamaged) {
    h += "<p class=\"flag\">" + std::to_string(t.framesDamaged) + " frames damaged, more than the " +
         std::to_string(limits.maxDamaged) + " allowed</p>\n";
  }
  for (const DropRange& d : t.dropped) {
    h += "<p>" + std::to_string(d.frames) + (d.frames == 1 ? " frame" : " frames") + " missing at " + Time(d.at) + "</p>\n";
  }
  if (std::isnan(limits.minSnr)) return;
  if (v.segments.empty()) {
    h += "<p>No frame below " + ReportShown(limits.minSnr) + " dB.</p>\n";
    return;
  }
  h += "<h3>Flagged spans: " + std::to_string(v.segments.size()) + "</h3>\n<table class=\"segments\"><tr><th>#</th>"
       "<th>start</th><th>end</th><th>duration</th><th>frames</th><th>lowest, dB</th><th>mean, dB</th><th>channel</th></tr>\n";
  for (size_t i = 0; i < v.segments.size() && i < kListedSegments; ++i) {
    const Segment& s = v.segments[i];
    h += "<tr><td class=\"n\">" + std::to_string(i + 1) + "</td><td>" + Time(s.start) + "</td><td>" + Time(s.end) +
         "</td><td class=\"n\">" + ReportFormat("%.2f", s.duration) + " s</td><td class=\"n\">" + std::to_string(s.firstFrame) +
         "–" + std::to_string(s.lastFrame) + "</td><td class=\"n\">" + ReportShown(s.worst) + "</td><td class=\"n\">" +
         ReportShown(s.mean) + "</td><td>" + EscapeMarkup(t.channelNames[s.channel % 3]) + "</td></tr>\n";
  }
  h += "</table>\n";
  if (v.segments.size() > kListedSegments) {
    h += "<p>… and " + std::to_string(v.segments.size() - kListedSegments) + " more, shaded in the plot.</p>\n";
  }
}

void Pictures(std::string& h, const Timeline& t, TextPainter* text) {
  struct Kept {
    const LineSamples* samples;
    std::string what;
  };
  std::vector<Kept> kept;
  if (!t.worst.Empty()) kept.push_back({&t.worst, "lowest SNR"});
  if (!t.typical.Empty()) {
    if (!kept.empty() && t.typical.frame == t.worst.frame) {
      kept.back().what += ", also typical";
    } else {
      kept.push_back({&t.typical, "typical"});
    }
  }
  if (kept.empty()) return;
  const std::vector<int> pages = t.pages.empty() ? std::vector<int>{ModeOscilloscope} : t.pages;
  h += "<h3>Pages of kept frames</h3>\n<div class=\"frames\">\n";
  // Page by page, the kept frames side by side: the lowest beside the typical.
  for (int page : pages) {
    for (const Kept& k : kept) {
      std::string png;
      if (!EncodePng(SamplesPage(t, *k.samples, page, text), &png)) continue;
      const std::string caption = std::string(PageName(page)) + ", frame " + std::to_string(k.samples->frame) + " at " +
                                  Time(k.samples->seconds) + " (" + k.what + ")";
      h += "<figure><img alt=\"" + EscapeMarkup(caption) + "\" src=\"data:image/png;base64," + ReportBase64(png) + "\"><figcaption>" +
           EscapeMarkup(caption) + "</figcaption></figure>\n";
    }
  }
  h += "</div>\n";
}

// The method as a reader of a data sheet needs it: what was measured, in which band, against what.
std::string SnrMethodText(const SnrMethod& m) {
  if (!m.Luma()) return std::string(SnrMethodName(m.kind)) + ": the tool window's, per channel, 50-frame mean of dB";
  std::string text = std::string(SnrMethodName(m.kind)) + ": luminance noise " + ReportFormat("%g", m.band.lowHz / 1e3) +
                     " kHz–" + ReportFormat("%g", m.band.highHz / 1e6) + " MHz";
  if (m.band.weighted) text += ", unified weighting (τ " + ReportFormat("%g", m.band.tauSeconds * 1e9) + " ns, a " + ReportFormat("%g", m.band.a) + ")";
  text += ", against " + ReportFormat("%g", m.reference) + " codes (" + std::to_string(m.bits) + " bits), sampled at " +
          ReportFormat("%g", m.band.sampleRateHz / 1e6) + " MHz, interval " + ReportFormat("%.2f", m.intervalUs[0]) + "–" +
          ReportFormat("%.2f", m.intervalUs[1]) + " µs, 1-s power mean; floor " + ReportFormat("%.1f", m.floorDb) + " dB";
  return text;
}

void Settings(std::string& h, const Timeline& t, const Thresholds& limits) {
  const AnalysisSettings& s = t.settings;
  std::vector<std::pair<std::string, std::string>> rows = {
      {"line", ReportLineText(t)},
      {"colour space", s.ColorMode == 1 ? "YUV" : "RGB"},
      {"SNR method", SnrMethodText(t.method)},
      {"measuring interval", ReportFormat("%.1f", s.StartCount * 0.1) + "–" + ReportFormat("%.1f", s.StopCount * 0.1) + " % of the line"},
      {"levels", std::to_string(s.BlackLevel) + "–" + std::to_string(s.WhiteLevel)},
      {"window function", WindowName(s.WindowFunction) ? WindowName(s.WindowFunction)
                                                         : "none (" + std::to_string(s.WindowFunction) + ")"},
      {"spectrum sensitivity", std::to_string(s.FFTSensitivity) + " dB"},
      {"spectrum style", StyleName(s.FFTDiagMode) ? StyleName(s.FFTDiagMode) : std::to_string(s.FFTDiagMode)},
  };
  std::string pages;
  for (int page : t.pages) pages += (pages.empty() ? "" : ", ") + std::string(PageName(page));
  rows.push_back({"pages", pages.empty() ? "—" : pages});
  rows.push_back({"minimum SNR", std::isnan(limits.minSnr) ? "—" : ReportShown(limits.minSnr) + " dB"});
  rows.push_back({"most frames dropped", limits.maxDropped < 0 ? "—" : std::to_string(limits.maxDropped)});
  rows.push_back({"most frames damaged", limits.maxDamaged < 0 ? "—" : std::to_string(limits.maxDamaged)});
  rows.push_back({"spans joined across", ReportFormat("%g", limits.flagGap) + " s"});
  rows.push_back({"shortest span flagged", ReportFormat("%g", limits.minDuration) + " s"});
  h += "<h3>Settings</h3>\n<table class=\"settings\">";
  for (const auto& [name, value] : rows) h += "<tr><th>" + name + "</th><td>" + EscapeMarkup(value) + "</td></tr>";
  h += "</table>\n";
}

// One input's section; `open` unfolds it (a collapsed one shows its title and verdict only).
void Section(std::string& h, const Timeline& t, const TimePlot& plot, size_t i, bool open, const ReportOptions& options,
             TextPainter* text) {
  const char* verdict = VerdictName(plot.verdict);
  h += "<section id=\"t" + std::to_string(i) + "\">\n<details data-verdict=\"" + verdict + "\"" + (open ? " open" : "") +
       "><summary><h2>" + EscapeMarkup(TimelineTitle(t)) + " <span class=\"" + verdict + "\">" + verdict +
       "</span></h2></summary>\n";
  if (!t.error.empty()) {
    h += "<p class=\"" + std::string(verdict) + "\">" + verdict + ": " + EscapeMarkup(t.error) + "</p>\n</details>\n</section>\n";
    return;
  }
  if (t.cut && !t.frames.empty()) {
    h += "<p class=\"incomplete\">Cut short at " + Time(t.frames.back().seconds) + ": the run did not finish. "
         "Analysed from " + Time(t.frames.front().seconds) + " to " + Time(t.frames.back().seconds) + " only.</p>\n";
  } else if (!t.complete) {
    h += "<p class=\"incomplete\">The run ended before the input did: not analysed to its end.</p>\n";
  }
  h += "<p>" + std::to_string(t.frames.size()) + " frames";
  if (!t.frames.empty()) h += ", " + Time(plot.start) + " to " + Time(plot.end);
  h += "; " + std::to_string(t.framesDropped) + " dropped, " + std::to_string(t.framesDamaged) + " damaged.</p>\n";
  if (t.quietLine == 0) {
    h += "<p class=\"flag\">Not a quiet line: its measuring interval carries picture, so its SNR measures the picture. "
         "Measure on a quiet line: a black or grey line in the picture's border, a VBI line or a test line.</p>\n";
  }
  SvgPlot(h, t, plot);
  Legend(h, t, plot);
  SegmentList(h, t, plot.verdict, options.limits);
  Pictures(h, t, text);
  Settings(h, t, options.limits);
  h += "</details>\n</section>\n";
}

}  // namespace

std::string ReportHtml(const std::vector<Timeline>& timelines, const ReportOptions& options, TextPainter* text) {
  std::vector<TimePlot> plots;
  for (const Timeline& t : timelines) plots.push_back(ReduceTimeline(t, options, kSvgColumns));
  std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>lineview report</title>\n<style>\n";
  h += kStyle;
  h += "</style>\n</head>\n<body>\n<h1>lineview report</h1>\n";
  // Worst first, in the table and in the sections below it; a section keeps its input's number.
  const std::vector<size_t> order = WorstFirst(plots);
  ReportOverview(h, timelines, plots, order);
  for (size_t i : order) {
    // What passed folds away where there are several; a lone input is always shown.
    const bool open = timelines.size() == 1 || VerdictRank(plots[i].verdict) != 3;
    Section(h, timelines[i], plots[i], i, open, options, text);
  }
  h += "</body>\n</html>\n";
  return h;
}
