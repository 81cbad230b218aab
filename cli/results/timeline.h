// One analysed line of one input over time: what the report, the plot over time and the
// verdicts need. A run builds it frame by frame; a sidecar file gives it back without
// decoding again. Values are kept as the sidecar stores them (four decimals), so that a
// report from sidecars is the report of the run, byte for byte.
#pragma once
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/output/page_picture.h"
#include "records/analysis_settings.h"

struct TimelineFrame {
  int64_t index = 0;     // the frame's number in the input
  double seconds = 0.0;  // its time from the start of the stream
  double snr[3] = {};    // the frame's own SNR per channel of the run's colour space, dB
  double mean[3] = {};   // the 50-frame means, as the CSV gives them
};

// The sampled line of one frame: enough to draw its pages again.
struct LineSamples {
  int64_t frame = -1;  // -1: none kept
  double seconds = 0.0;
  std::vector<int32_t> channel[3];  // the run's colour space's three channels, one value per pixel
  bool Empty() const { return frame < 0 || channel[0].empty(); }
};

struct Timeline {
  std::string input;  // as named on the command line; "" for the built-in signal
  const char* channelNames[3] = {"R", "G", "B"};
  AnalysisSettings settings{};  // as used: the line, the colour space, the interval, the window...
  std::vector<int> pages;       // the pages pictured (PageMode values)
  int line = -1, field = -1, tvLine = 0;  // which line where a run analyses several (see RunSummary)
  int64_t framesDropped = 0;
  int64_t framesDamaged = 0;
  std::vector<TimelineFrame> frames;
  LineSamples worst;    // the frame with the lowest SNR of a shown channel
  LineSamples typical;  // a frame whose lowest shown SNR lies nearest the run's median
};

// A value as the sidecar writes and reads it: SNR with four decimals, times with six.
double Stored(double v, int decimals = 4);

// The channels of the run's colour space that the settings show (0..2); at least one: a run
// that hides them all is judged on all three.
std::vector<int> JudgedChannels(const AnalysisSettings& s);
// The lowest SNR of the judged channels in a frame.
double LowestSnr(const TimelineFrame& f, const std::vector<int>& channels);

struct Thresholds {
  double minSnr = NAN;          // --min-snr: a frame below it on a shown channel is flagged; NaN: none
  int64_t maxDropped = -1;      // --max-dropped: more lost frames flag the input; -1: none
  double flagGap = 1.0;         // --flag-gap: flagged spans closer than this (seconds) join
};

struct Segment {
  int64_t firstFrame = 0, lastFrame = 0;  // frame numbers of its first and last flagged frame
  double start = 0.0, end = 0.0;          // their times
  double worst = 0.0;                     // the lowest SNR in it
  int channel = 0;                        // the channel (0..2) of that lowest value
};

struct Verdict {
  bool flagged = false;
  bool tooManyDropped = false;
  std::vector<Segment> segments;
};

Verdict Judge(const Timeline& t, const Thresholds& limits);

// Builds a timeline as the frames come, keeping the line's samples of the worst frame and of
// a bounded set of evenly spread candidates for the typical one.
class TimelineRecorder {
 public:
  explicit TimelineRecorder(Timeline* t) : t_(t) {}
  // `samples` holds the three channels of the colour space, `width` values each.
  void Add(const TimelineFrame& f, const int32_t* const samples[3], int width);
  // Chooses the typical frame; call once, after the last frame.
  void Finish();

 private:
  Timeline* t_;
  std::vector<int> judged_;
  double worstValue_ = INFINITY;
  std::vector<LineSamples> candidates_;
  int64_t step_ = 1;  // every step_-th frame is a candidate; doubles when they are too many
};

// The page `page` of the frame whose samples are `samples`, drawn as --png draws it.
Picture SamplesPage(const Timeline& t, const LineSamples& samples, int page, TextPainter* text);

// "hh:mm:ss" (with ".ff" hundredths when `fraction`).
std::string Clock(double seconds, bool fraction = false);
