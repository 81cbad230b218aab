// The command line of `lineview`, parsed with CLI11.
#pragma once
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/common/line_choice.h"
#include "records/analysis_settings.h"
#include "cli/results/judge.h"

struct CliOptions {
  std::string input;  // empty: the built-in test signal; "-": raw frames on stdin
  std::vector<std::string> inputs;  // all named; input is the first (several: an archive run)
  std::string format;       // -f: FFmpeg input format or device (rawvideo, v4l2, ...)
  std::string videoSize;    // -s WxH
  std::string pixelFormat;  // -pix_fmt
  std::string frameRate;    // -r

  std::string settingsPath;
  LineRequest lines;  // --line, --tv-line, --field, --field-order; no numbers: the settings' line
  std::optional<int> colorMode;  // 0 RGB, 1 YUV
  std::string page;              // scope, spectrum, levels, all; empty: the settings' page
  std::optional<int> window;
  std::optional<int> style;
  std::optional<int> sensitivity;
  std::optional<std::pair<double, double>> interval;  // START:STOP in percent of the line
  std::optional<std::pair<double, double>> levels;    // BLACK:WHITE in sample levels
  int snrMethod = 0;          // SnrKind: the tool window's (line), or luminance noise unweighted or weighted
  double sampleRateMhz = 0;   // --sample-rate: one sample's frequency where the width does not say it; 0: by width

  int convert = 0;  // PixelFormatCode the frames are converted to
  bool json = false;
  std::string pngDir;
  int every = 0;           // 0: pictures of the last frame only
  int64_t maxFrames = 0;   // 0: the whole input
  double timeout = 0;      // seconds the input may deliver nothing before the run stops; 0: no limit
  double startSeconds = 0;  // -ss: the first frame analysed is the first at or after this time
  double endSeconds = -1;   // -t (from the start) or -to: no frame at or after this time; -1: the end
  bool progress = true;    // still only on a terminal
  bool verbose = false;    // every FFmpeg message as it comes, not each kind once
  bool live = false;       // a window shows the picture, the page and the read-outs as they come
  bool hold = false;       // --live: the window stays up after the last frame
  bool pacing = true;      // --live: a file plays at its frame rate

  // Results over time, for archives.
  bool sidecar = false;            // --sidecar: each input's results in NAME.lineview.xml.gz
  std::string sidecarDir;          // --sidecar=DIR: there instead of beside the input
  std::vector<std::string> from;   // --from: sidecars read instead of inputs decoded
  std::string report;              // --report FILE.html
  std::string plot;                // --plot FILE.png
  double snrLow = 10.0, snrHigh = 70.0;  // --snr-range: the plot's dB axis
  Thresholds limits;               // --min-snr, --max-dropped, --max-damaged, --flag-gap, --min-duration

  // Whether the run keeps each frame's results (memory grows with the input).
  bool KeepsTimeline() const {
    return sidecar || !report.empty() || !plot.empty() || !std::isnan(limits.minSnr) || limits.maxDropped >= 0 ||
           limits.maxDamaged >= 0;
  }
};

enum class ParseOutcome { Run, Exit };

// Parses the arguments after translating FFmpeg's single-dash long options (-pix_fmt,
// -framerate, -video_size) to their double-dash spelling. On Exit, *exitCode says how
// (0 after --help, kExitUsage on a bad argument) and the text to print is in *out or *err.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, CliOptions* options, int* exitCode,
                              std::string* out, std::string* err);

// A "A:B" pair of numbers; false when it is not one.
bool ParseNumberPair(const std::string& text, double* a, double* b);
