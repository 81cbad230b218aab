// One analysed line of one input over time: what the report, the plot over time and the
// verdicts need. A run builds it frame by frame; a sidecar file gives it back without
// decoding again. Values are kept as the sidecar stores them (four decimals), so that a
// report from sidecars is the report of the run, byte for byte.
#pragma once
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/common/names.h"
#include "cli/results/snr_method.h"
#include "records/analysis_settings.h"

struct TimelineFrame {
  int64_t index = 0;     // the frame's number in the input
  double seconds = 0.0;  // its time from the start of the stream
  double snr[3] = {};    // the frame's own SNR per channel of the run's colour space, dB
  double mean[3] = {};   // the running read-outs, as the CSV gives them (50-frame or 1-s means)
};

// The sampled line of one frame: enough to draw its pages again.
struct LineSamples {
  int64_t frame = -1;  // -1: none kept
  double seconds = 0.0;
  std::vector<int32_t> channel[3];  // the run's colour space's three channels, one value per pixel
  bool Empty() const { return frame < 0 || channel[0].empty(); }
};

// Frames missing by their timestamps: the time the first of them was due, and how many.
struct DropRange {
  double at = 0.0;
  int64_t frames = 0;
};

struct Timeline {
  std::string input;  // as named on the command line; "" for the built-in signal
  const char* const* channelNames = ChannelNames(0);
  AnalysisSettings settings{};  // as used: the line, the colour space, the interval, the window...
  SnrMethod method;             // how each frame's SNR was measured
  std::vector<int> pages;       // the pages pictured (PageMode values)
  int line = -1, field = -1, tvLine = 0;  // which line where a run analyses several (see RunSummary)
  int64_t framesDropped = 0;
  int64_t framesDamaged = 0;
  std::vector<DropRange> dropped;  // the gaps among framesDropped found by the frames' times
  bool complete = true;            // false: stopped, timed out or cut by a read error before the end
  std::string error;               // not "": the input could not be analysed at all, and why
  int quietLine = -1;  // as RunSummary's: -1 where not known (a sidecar read back)
  std::vector<TimelineFrame> frames;
  LineSamples worst;    // the frame with the lowest SNR of a shown channel
  LineSamples typical;  // a frame whose lowest shown SNR lies nearest the run's median
};

// A value as the sidecar writes and reads it: SNR with four decimals, times with six.
double Stored(double v, int decimals = 4);

// The channels of the run's colour space that the settings show (0..2); at least one: a run
// that hides them all is judged on all three.
std::vector<int> JudgedChannels(const AnalysisSettings& s);
// The same for a timeline: luminance alone where its method measures nothing else.
std::vector<int> JudgedChannels(const Timeline& t);
// The lowest SNR of the judged channels in a frame.
double LowestSnr(const TimelineFrame& f, const std::vector<int>& channels);
