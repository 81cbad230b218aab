// The command line of `lineview`, parsed with CLI11, and the settings a run uses: the
// plug-in's settings file (or its defaults) with the command line's overrides on top.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/common/diagnostics.h"
#include "cli/common/line_choice.h"
#include "cli/results/timeline.h"
#include "records/analysis_settings.h"

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
  std::string interval;  // START:STOP in percent of the line
  std::string levels;    // BLACK:WHITE in sample levels

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
  Thresholds limits;               // --min-snr, --max-dropped, --flag-gap

  // Whether the run keeps each frame's results (memory grows with the input).
  bool KeepsTimeline() const {
    return sidecar || !report.empty() || !plot.empty() || !std::isnan(limits.minSnr) || limits.maxDropped >= 0;
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

struct RunSettings {
  AnalysisSettings settings{};
  std::vector<int> pages;  // PageMode values, in drawing order; may be empty
};

// Loads the settings file through the plug-in's store and table (defaults, with a warning,
// when it cannot be read), applies the overrides and warns about every value outside the
// range the plug-in's controls allow; such values are kept, as the plug-in keeps them.
// The line is checked later, against the frame height.
RunSettings ResolveSettings(const CliOptions& options, Diagnostics& diag);

// Warns when the line lies outside 0..height-1, naming the line the frame path will use.
void CheckLine(const AnalysisSettings& s, int height, Diagnostics& diag);

const char* PageName(int mode);
// The spectrum window's name (none, hamming, hanning, blackman); null outside 0..3.
const char* WindowName(int window);
