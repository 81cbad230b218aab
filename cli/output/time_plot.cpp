#include "cli/output/time_plot.h"

#include "cli/common/names.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/page_style.h"
#include "cli/common/clock.h"
#include "cli/results/judge.h"

namespace {

// Larger values are no time of any recording; Clock() cannot count that far either.
constexpr double kMaxSeconds = 1e9;

void Widen(ColumnSpan& s, double v) {
  if (!s.any) {
    s.low = s.high = v;
    s.any = true;
  } else {
    s.low = std::min(s.low, v);
    s.high = std::max(s.high, v);
  }
}

// Frames sparser than the columns leave empty columns between them: short gaps are bridged, so
// that a trace of a few seconds stays a trace; a longer one (lost frames, a cut) stays open.
void Bridge(ColumnTrace& trace, int maxGap) {
  int last = -1;
  for (int x = 0; x < static_cast<int>(trace.size()); ++x) {
    if (!trace[x].any) continue;
    if (last >= 0 && x - last > 1 && x - last - 1 <= maxGap) {
      const ColumnSpan a = trace[last], b = trace[x];
      for (int i = last + 1; i < x; ++i) {
        const double f = double(i - last) / (x - last);
        trace[i] = ColumnSpan{a.low + (b.low - a.low) * f, a.high + (b.high - a.high) * f, true};
      }
    }
    last = x;
  }
}

}  // namespace

TimePlot ReduceTimeline(const Timeline& t, const ReportOptions& options, int columns) {
  TimePlot p;
  // An axis narrower than a hundredth of a dB has no room for ticks.
  if (std::isfinite(options.snrLow) && std::isfinite(options.snrHigh) && options.snrHigh - options.snrLow >= 0.01 &&
      std::isfinite(options.snrHigh - options.snrLow)) {
    p.low = options.snrLow, p.high = options.snrHigh;
  }
  p.columns = std::max(columns, 1);
  p.channels = JudgedChannels(t);
  bool anyTime = false;
  for (const TimelineFrame& f : t.frames) {
    if (!std::isfinite(f.seconds) || std::fabs(f.seconds) > kMaxSeconds) continue;
    p.start = anyTime ? std::min(p.start, f.seconds) : f.seconds;
    p.end = anyTime ? std::max(p.end, f.seconds) : f.seconds;
    anyTime = true;
  }
  for (int c = 0; c < 3; ++c) p.snr[c].assign(p.columns, ColumnSpan{}), p.mean[c].assign(p.columns, ColumnSpan{});
  int64_t used = 0;
  for (const TimelineFrame& f : t.frames) {
    if (!std::isfinite(f.seconds) || std::fabs(f.seconds) > kMaxSeconds) continue;
    ++used;
    const int x = ColumnOf(p, f.seconds);
    for (int c = 0; c < 3; ++c) {
      if (!std::isnan(f.snr[c])) Widen(p.snr[c][x], std::clamp(f.snr[c], p.low, p.high));
      if (!std::isnan(f.mean[c])) Widen(p.mean[c][x], std::clamp(f.mean[c], p.low, p.high));
    }
  }
  const int maxGap = used > 0 ? static_cast<int>(std::min<int64_t>(p.columns, 2 * p.columns / used + 1)) : 0;
  for (int c = 0; c < 3; ++c) Bridge(p.snr[c], maxGap), Bridge(p.mean[c], maxGap);

  if (!std::isnan(options.limits.minSnr)) p.threshold = std::clamp(options.limits.minSnr, p.low, p.high);
  p.minSnr = options.limits.minSnr;
  p.verdict = Judge(t, options.limits);
  p.flagged.assign(p.columns, false);
  for (const Segment& s : p.verdict.segments) {
    const int a = ColumnOf(p, s.start), b = ColumnOf(p, s.end);
    for (int x = std::min(a, b); x <= std::max(a, b); ++x) p.flagged[x] = true;
  }
  for (const DropRange& d : t.dropped) p.gaps.push_back(ColumnOf(p, d.at));
  return p;
}

int ColumnOf(const TimePlot& p, double seconds) {
  const double span = p.end - p.start;
  if (!(span > 0) || std::isnan(seconds)) return 0;
  const double x = std::floor((seconds - p.start) / span * p.columns);
  return static_cast<int>(std::clamp(x, 0.0, double(p.columns - 1)));
}

std::vector<Tick> TimeTicks(const TimePlot& p, int pixels, int minPixels) {
  static const double kSteps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600};
  const double span = p.end - p.start;
  const int most = std::max(pixels / std::max(minPixels, 1), 1);
  double step = span / most;  // beyond the list: whatever fits
  for (double s : kSteps) {
    if (s * most >= span) {
      step = s;
      break;
    }
  }
  std::vector<Tick> ticks;
  if (!(span > 0)) {
    ticks.push_back({p.start, Clock(p.start, false)});
    return ticks;
  }
  const double first = std::ceil(p.start / step - 1e-9) * step;
  for (int i = 0; i <= most + 1; ++i) {
    const double v = first + i * step;
    if (v > p.end + step * 1e-9) break;
    ticks.push_back({v, Clock(v, step < 1)});
  }
  return ticks;
}

std::vector<Tick> DbTicks(const TimePlot& p, int count) {
  const double raw = (p.high - p.low) / std::max(count, 1);
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * magnitude;
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * magnitude >= raw) {
      step = m * magnitude;
      break;
    }
  }
  std::vector<Tick> ticks;
  const double first = std::ceil(p.low / step - 1e-9) * step;
  for (int i = 0; i <= count + 1; ++i) {
    const double v = first + i * step;
    if (v > p.high + step * 1e-9) break;
    char b[32];
    std::snprintf(b, sizeof b, "%g", std::fabs(v) < step * 1e-9 ? 0.0 : v);
    ticks.push_back({v, b});
  }
  return ticks;
}

uint32_t ChannelColor(const AnalysisSettings& s, int channel) {
  const uint32_t ref = kAnalyserTraceColor[(FirstChannel(s) + std::clamp(channel, 0, 2)) % ChannelCount];
  const uint32_t r = ref & 0xFF, g = (ref >> 8) & 0xFF, b = (ref >> 16) & 0xFF;
  // The pages draw Y light grey on dark blue; on white it becomes near black.
  if (r > 0x80 && g > 0x80 && b > 0x80) return 0x303030;
  // Full green on white is hard to read: all a little darker.
  return (r * 3 / 4) << 16 | (g * 5 / 8) << 8 | (b * 3 / 4);
}

std::string TimelineTitle(const Timeline& t) {
  std::string s = t.input.empty() ? "built-in signal" : t.input;
  if (t.line >= 0) {
    s += ", row " + std::to_string(t.line);
    if (t.field >= 0) s += t.field == 1 ? ", bottom field" : ", top field";
    if (t.tvLine > 0) s += ", line " + std::to_string(t.tvLine);
  }
  if (t.method.Luma()) s += std::string(", SNR ") + SnrMethodName(t.method.kind);
  return s;
}

// --- the picture ---------------------------------------------------------------------------

namespace {

constexpr int kLeft = kPlotPictureLeft;  // room for the dB labels
constexpr int kColumns = kPlotPictureColumns;
constexpr int kRight = 16;
constexpr int kTitle = kPlotPictureTop;
constexpr int kPlotHeight = 240;
constexpr int kTimeLabels = 24;
constexpr int kLegend = 22;
constexpr int kGap = 10;
constexpr int kBlock = kTitle + kPlotHeight + kTimeLabels + kLegend + kGap;
static_assert(kBlock == kPlotPictureBlock);
constexpr uint32_t kGridColor = 0xE4E4E4;
constexpr uint32_t kGapColor = 0x505050;  // where frames are missing
constexpr uint32_t kFrameColor = 0x808080;
constexpr uint32_t kTextColor = 0x202020;
constexpr uint32_t kPassColor = 0x08660F;  // as the report's verdicts
constexpr uint32_t kFlagColor = 0xB00000;

uint32_t Mix(uint32_t under, uint32_t over, int percent) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int u = (under >> shift) & 0xFF, o = (over >> shift) & 0xFF;
    out |= uint32_t((o * percent + u * (100 - percent) + 50) / 100) << shift;
  }
  return out;
}

class Raster {
 public:
  Raster(Picture& p, const TimePlot& plot, int top) : p_(p), plot_(plot), top_(top) {}
  int Y(double db) const {
    return top_ + static_cast<int>(std::lround((plot_.high - db) / (plot_.high - plot_.low) * (kPlotHeight - 1)));
  }
  // Column x of the plot, rows y0..y1 in any order.
  void Span(int x, int y0, int y1, uint32_t rgb, int percent = 100) {
    if (y0 > y1) std::swap(y0, y1);
    y0 = std::max(y0, top_), y1 = std::min(y1, top_ + kPlotHeight - 1);
    const int px = kLeft + x;
    if (px < 0 || px >= p_.width) return;
    for (int y = y0; y <= y1; ++y) {
      uint32_t& d = p_.pixels[size_t(y) * p_.width + px];
      d = percent >= 100 ? rgb : Mix(d, rgb, percent);
    }
  }
  void Row(int y, uint32_t rgb, int dash = 0) {
    for (int x = 0; x < plot_.columns; ++x) {
      if (dash == 0 || x % (2 * dash) < dash + dash / 2) Span(x, y, y, rgb);
    }
  }

 private:
  Picture& p_;
  const TimePlot& plot_;
  int top_;
};

void Box(Picture& pic, int x, int y, int w, int h, uint32_t rgb, int percent = 100) {
  for (int j = std::max(y, 0); j < std::min(y + h, pic.height); ++j) {
    for (int i = std::max(x, 0); i < std::min(x + w, pic.width); ++i) {
      uint32_t& d = pic.pixels[size_t(j) * pic.width + i];
      d = percent >= 100 ? rgb : Mix(d, rgb, percent);
    }
  }
}

// A swatch as the plot draws the item, then its name; returns the x after it.
int LegendItem(Picture& pic, TextPainter& text, int x, int y, int swatch, const std::string& name, uint32_t rgb,
               int percent) {
  const int h = text.LineHeight();
  if (swatch == 0) Box(pic, x, y + h / 2 - 4, 16, 8, rgb, percent);  // each frame: a light band
  if (swatch == 1) Box(pic, x, y + h / 2 - 1, 16, 2, rgb);           // the mean: a line
  for (int i = 0; swatch == 2 && i < 16; i += 6) Box(pic, x + i, y + h / 2 - 1, 4, 1, rgb);  // dashed
  text.Draw(pic, x + 20, y, name, kTextColor);
  return x + 20 + text.Width(name) + 14;
}

// Under the plot: what each colour and line means, the threshold's value.
void DrawLegend(Picture& pic, const Timeline& t, const TimePlot& plot, int y, TextPainter& text) {
  int x = kLeft;
  for (int c : plot.channels) {
    const uint32_t color = ChannelColor(t.settings, c);
    x = LegendItem(pic, text, x, y, 0, std::string(t.channelNames[c]) + " each frame", color, 60);
    const char* running = t.method.Luma() ? " 1-s power mean" : " 50-frame mean";
    x = LegendItem(pic, text, x, y, 1, std::string(t.channelNames[c]) + running, color, 100);
  }
  if (!std::isnan(plot.threshold)) {
    char b[64];
    std::snprintf(b, sizeof b, "minimum %g dB", plot.minSnr);
    x = LegendItem(pic, text, x, y, 2, b, kThresholdColor, 100);
  }
  if (!std::isnan(plot.threshold) || plot.verdict.tooManyDropped) LegendItem(pic, text, x, y, 0, "flagged", kFlagShade, 100);
}

// The title row: the input and line on the left, the axis's unit over its labels, the verdict
// on the right.
void DrawTitle(Picture& pic, const Timeline& t, const TimePlot& plot, int top, TextPainter& text) {
  text.Draw(pic, kLeft, top + 3, TimelineTitle(t), kTextColor);
  text.Draw(pic, kLeft - 5 - text.Width("dB"), top + 3, "dB", kTextColor);
  std::string verdict = plot.verdict.flagged ? "flag" : "pass";
  if (!plot.verdict.segments.empty()) {
    const size_t n = plot.verdict.segments.size();
    verdict += ": " + std::to_string(n) + (n == 1 ? " span" : " spans") + " below the minimum";
  }
  if (plot.verdict.tooManyDropped) verdict += ", " + std::to_string(t.framesDropped) + " frames lost";
  verdict = "verdict " + verdict;
  text.Draw(pic, kLeft + plot.columns - text.Width(verdict), top + 3, verdict,
            plot.verdict.flagged ? kFlagColor : kPassColor);
}

void DrawPlot(Picture& pic, const Timeline& t, const TimePlot& plot, int top, TextPainter* text) {
  const int plotTop = top + kTitle;
  Raster r(pic, plot, plotTop);
  const int bottom = plotTop + kPlotHeight - 1;
  for (int x = 0; x < plot.columns; ++x) {
    if (plot.flagged[x]) r.Span(x, plotTop, bottom, kFlagShade);
  }
  const std::vector<Tick> db = DbTicks(plot, 6);
  const std::vector<Tick> time = TimeTicks(plot, plot.columns, 90);
  for (const Tick& k : db) r.Row(r.Y(k.value), kGridColor);
  for (const Tick& k : time) r.Span(ColumnOf(plot, k.value), plotTop, bottom, kGridColor, 60);
  for (int c : plot.channels) {
    const uint32_t color = ChannelColor(t.settings, c);
    for (int x = 0; x < plot.columns; ++x) {
      const ColumnSpan& s = plot.snr[c][x];
      // At least two pixels high: a steady channel's own values stay visible under its mean.
      if (s.any) r.Span(x, r.Y(s.high) - 1, std::max(r.Y(s.low), r.Y(s.high) + 1), color, 60);
    }
  }
  if (!std::isnan(plot.threshold)) r.Row(r.Y(plot.threshold), kThresholdColor, 6);
  for (int x : plot.gaps) r.Span(x, plotTop, bottom, kGapColor);  // a thin mark where frames are missing
  for (int c : plot.channels) {
    const uint32_t color = ChannelColor(t.settings, c);
    for (int x = 0; x < plot.columns; ++x) {
      ColumnSpan s = plot.mean[c][x];
      if (!s.any) continue;
      // Reaching to the column before keeps a steep trace joined.
      if (x > 0 && plot.mean[c][x - 1].any) Widen(s, (plot.mean[c][x - 1].low + plot.mean[c][x - 1].high) / 2);
      const int y0 = r.Y(s.high), y1 = r.Y(s.low);
      r.Span(x, y0, std::max(y1, y0 + 1), color);
    }
  }
  for (int x = -1; x <= plot.columns; ++x) {
    r.Span(x, plotTop, plotTop, kFrameColor), r.Span(x, bottom, bottom, kFrameColor);
  }
  r.Span(-1, plotTop, bottom, kFrameColor), r.Span(plot.columns, plotTop, bottom, kFrameColor);
  if (text == nullptr) return;
  DrawTitle(pic, t, plot, top, *text);
  const int h = text->LineHeight();
  for (const Tick& k : db) text->Draw(pic, kLeft - 5 - text->Width(k.label), r.Y(k.value) - h / 2, k.label, kTextColor);
  for (const Tick& k : time) {
    const int x = kLeft + ColumnOf(plot, k.value) - text->Width(k.label) / 2;
    text->Draw(pic, std::clamp(x, 0, pic.width - text->Width(k.label)), bottom + 5, k.label, kTextColor);
  }
  DrawLegend(pic, t, plot, bottom + 1 + kTimeLabels, *text);
}

}  // namespace

Picture PlotPicture(const std::vector<Timeline>& timelines, const ReportOptions& options, TextPainter* text) {
  Picture pic;
  pic.width = kLeft + kColumns + kRight;
  pic.height = kBlock * std::max<int>(timelines.size(), 1);
  pic.pixels.assign(size_t(pic.width) * pic.height, kPageWhite);
  for (size_t i = 0; i < timelines.size(); ++i) {
    DrawPlot(pic, timelines[i], ReduceTimeline(timelines[i], options, kColumns), int(i) * kBlock, text);
  }
  return pic;
}
