// The plot over time of one timeline, reduced to what a given number of pixel columns can show:
// per column the lowest and highest value of each channel. Both the report's SVG and the PNG
// draw from it, so a three-hour input costs no more than a three-second one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/output/page_picture.h"
#include "cli/results/judge.h"
#include "cli/results/timeline.h"

// What the plot over time is drawn with.
struct ReportOptions {
  Thresholds limits;
  // The dB axis of the plot over time: fixed, so that one spike cannot flatten the rest.
  double snrLow = 10.0, snrHigh = 70.0;
};

struct ColumnSpan {
  double low = 0.0, high = 0.0;  // dB, within the plot's range
  bool any = false;              // false: no frame falls in this column
};

// One trace: a span per column.
using ColumnTrace = std::vector<ColumnSpan>;

struct TimePlot {
  double low = 10.0, high = 70.0;  // the dB axis, checked: finite, low < high
  double start = 0.0, end = 0.0;   // the time axis: the first and the last frame's time
  int columns = 0;
  ColumnTrace snr[3], mean[3];       // each frame's own SNR and the 50-frame mean, per channel
  std::vector<int> channels;         // the channels drawn: those the settings show
  std::vector<bool> flagged;         // per column: a flagged span reaches into it
  double threshold = NAN;            // the minimum SNR within [low, high]; NaN: none
  std::vector<int> gaps;             // the columns where frames are missing by their times
  double minSnr = NAN;               // the minimum as given, for its label
  Verdict verdict;
};

// The reduction of `t` to `columns` columns. Values beyond the axis sit on its edge; NaN and
// frames without a usable time are left out.
TimePlot ReduceTimeline(const Timeline& t, const ReportOptions& options, int columns);

// The column a time falls in (clamped to the plot).
int ColumnOf(const TimePlot& p, double seconds);

struct Tick {
  double value;  // seconds or dB
  std::string label;
};
// Time ticks at a round step (0.1 s .. hours) at least `minPixels` apart on a `pixels` wide axis.
std::vector<Tick> TimeTicks(const TimePlot& p, int pixels, int minPixels);
// dB ticks at a round step, about `count` of them.
std::vector<Tick> DbTicks(const TimePlot& p, int count);

// A channel's colour on a white page, 0xRRGGBB: the hue the pages give it, dark enough to read.
uint32_t ChannelColor(const AnalysisSettings& s, int channel);
constexpr uint32_t kFlagShade = 0xFFD6D0;  // flagged spans behind the traces
constexpr uint32_t kThresholdColor = 0xD97700;

// "input, row N, top field, line M": what names a timeline above its plot.
std::string TimelineTitle(const Timeline& t);

// The PNG's layout, for whoever reads it back.
constexpr int kPlotPictureLeft = 48;      // the first column of the plot
constexpr int kPlotPictureColumns = 1000;
constexpr int kPlotPictureBlock = 318;    // the height each timeline takes
constexpr int kPlotPictureTop = 22;       // the plot's first row within its block

// The plot over time of every timeline, one under the other.
Picture PlotPicture(const std::vector<Timeline>& timelines, const ReportOptions& options, TextPainter* text);
