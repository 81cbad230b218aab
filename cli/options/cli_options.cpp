#include "cli/options/cli_options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/parseutils.h>
}

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "analysis/spectrum.h"
#include "analysis/waveform.h"
#include "cli/common/exit_codes.h"
#include "lineview_version.h"
#include "settings/ini_store.h"
#include "settings/settings_table.h"

namespace {

// The help's closing sections, each wrapped to the terminal's width by the help's own wrapping.
const struct {
  const char* heading;
  const char* text;
} kFooter[] = {
    {"Input:",
     "With no INPUT, the bundled host's built-in test signal is analysed (75 % colour bars, 720x576, 100 "
     "frames). INPUT is anything FFmpeg opens: a file, a URL, a capture device with -f (e.g. -f v4l2 "
     "/dev/video0), or - for raw frames on stdin, described with -f rawvideo -s WxH -pix_fmt FMT."},
    {"Output:",
     "CSV on stdout, one row per frame: frame number, time in seconds, the three SNR read-outs in dB as "
     "the tool window shows them (means over the last 50 frames: R,G,B or Y,U,V), then the frame's own SNR "
     "(R_frame,G_frame,B_frame or Y_frame,U_frame,V_frame). --json prints instead the mean, min, max and "
     "standard deviation of the frames' own SNR. --png DIR writes each selected page as lineview-PAGE.png "
     "(the last frame), and with --every N also lineview-PAGE-FRAME.png for every Nth frame. Several "
     "inputs: with --json one line per input (its summary, or its error), else one CSV whose rows name "
     "their input; pictures are named lineview-NAME-PAGE.png after each input's file name."},
    {"Archives:",
     "--sidecar writes each input's results beside it (or with --sidecar=DIR into DIR) as "
     "NAME.lineview.xml.gz: ffprobe's XML, one <frame> per frame with tags lineview.snr.r (the frame's own "
     "SNR) and lineview.snr50.r (the 50-frame mean), the settings, and the line's samples of the worst and a "
     "typical frame. --min-snr flags frames where a shown channel's own SNR lies below it, merged into "
     "segments; --max-dropped flags an input that lost more frames. --report writes one page for all inputs: "
     "a table of verdicts, a plot over time per input, the pages at the worst and a typical frame. --from "
     "builds the report, the plot and the verdicts from sidecars, without decoding again: lineview --sidecar "
     "on many machines, then lineview --report all.html --from *.lineview.xml.gz on one."},
    {"Stopping:",
     "Ctrl-C (SIGINT) or SIGTERM stops the reading, also of a stalled input, and completes every output "
     "over the frames analysed: the CSV, the JSON summary, the pictures of the last frame. A second signal "
     "ends at once."},
    {"Live window (--live):",
     "Up/Down line -1/+1, PgUp/PgDn -10/+10, a click picks the line under the pointer (several lines: "
     "they step through those), Tab or 1/2/3 the "
     "page, c RGB/YUV, Space pause, s saves the window as a PNG, q or Esc quits. Changes are printed to "
     "stderr; the CSV goes on."},
};

// Each kind of bad input has its own status, so that scripts can tell them apart.
const struct {
  const char* code;
  const char* text;
} kExitStatus[] = {
    {"0", "success"},
    {"1", "an output could not be written (the run ends at once), or an internal error"},
    {"2", "bad command line"},
    {"3", "the input cannot be opened or decoded, or no frame of it could be analysed"},
    {"4", "the input has no video stream"},
    {"5", "raw input smaller than one frame of -s and -pix_fmt"},
    {"6", "the last raw frame is truncated"},
    {"7", "the settings file is unreadable: defaults used"},
    {"8", "the settings' line lies outside the frame: the last line used"},
    {"9", "a setting outside its range: used as the plug-in uses it"},
    {"10", "some frames could not be decoded or converted: left out"},
    {"11", "a read error before the end of the input"},
    {"12", "no font for the axis labels: pictures without them"},
    {"13", "the input delivered no frame for --timeout seconds"},
    {"14", "the decoder found errors in some frames (concealed or flagged corrupt): analysed as decoded"},
    {"15", "an input was flagged: SNR below --min-snr, or more frames lost than --max-dropped"},
    {"130, 143", "stopped by SIGINT or SIGTERM: lineview ends by that signal once its outputs are complete"},
};
const char kExitNote[] = "Codes 6 to 15 are warnings: the outputs of what could be read are complete. 15 outweighs the "
                         "other warnings, so that a collection sorts by the status alone. Several inputs: the first "
                         "failure's status, else 15 where one was flagged, else the first warning's.";

// FFmpeg spells some long options with one dash; CLI11 wants two. The help spells them as
// ffmpeg users know them.
const char* const kLong[] = {"-pix_fmt", "-framerate", "-video_size", "-pixel_format", "-ss", "-to"};

// A text of the parser's with the names above as the user typed them (-ss, not --ss).
std::string FfmpegSpelling(std::string text) {
  for (const char* single : kLong) {
    const std::string doubled = std::string("-") + single;
    for (size_t at = text.find(doubled); at != std::string::npos; at = text.find(doubled, at + 1)) {
      const size_t end = at + doubled.size();
      if (end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) text.erase(at, 1);
    }
  }
  return text;
}

constexpr size_t kHelpWidth = 80;
constexpr size_t kHelpColumn = 28;

// `text` in lines of at most kHelpWidth columns: the first after `head`, padded to `column`
// (`head` on a line of its own when it reaches that far), the others indented to `column`.
std::string Wrap(const std::string& text, const std::string& head, size_t column) {
  std::string out, line = head;
  if (!head.empty() && head.size() + 2 > column) out = head + '\n', line.clear();
  const auto pad = [&] {
    if (line.size() < column) line.resize(column, ' ');
  };
  pad();
  bool empty = true;  // no word on this line yet
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    if (!empty && line.size() + 1 + word.size() > kHelpWidth) {
      out += line + '\n';
      line.clear();
      pad();
      empty = true;
    }
    if (!empty) line += ' ';
    line += word;
    empty = false;
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return out + line + '\n';
}

// The help at 80 columns: each option's names and the name of its value, its description
// wrapped beside them, and nothing of the parser's own (validator names, "Needs:").
class HelpFormatter final : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* opt, bool positional) const override {
    std::string names = positional ? std::string() : opt->get_name(false, true);
    for (const char* single : kLong) {
      const size_t at = names.find(std::string("-") + single);
      const size_t end = at + std::strlen(single) + 1;
      if (at != std::string::npos && (end == names.size() || names[end] == ',')) names.erase(at, 1);
    }
    const std::string value = opt->get_option_text();
    return Wrap(opt->get_description(), "  " + names + (names.empty() || value.empty() ? "" : " ") + value, kHelpColumn);
  }
  std::string make_description(const CLI::App* app) const override { return Wrap(app->get_description(), "", 0); }
};

// A value named from a list, in any case, or (for a setting the plug-in's file may hold out of
// range as well) any whole number; the name is turned into its number. A wrong one is refused
// with the list.
CLI::Validator Choice(const std::vector<std::pair<std::string, int>>& names, bool numbers,
                      const std::string& numbersText = "") {
  return CLI::Validator(
      [names, numbers, numbersText](std::string& value) -> std::string {
        std::string lower = value;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        for (const auto& n : names) {
          if (n.first == lower) {
            value = std::to_string(n.second);
            return {};
          }
        }
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(value.c_str(), &end, 10);
        if (numbers && !value.empty() && *end == '\0' && errno == 0 && v >= INT32_MIN && v <= INT32_MAX) return {};
        std::string list;
        for (const auto& n : names) {
          if (n.first == "blackmen" || n.first == "yuy2") continue;  // old spellings still taken, not offered
          list += (list.empty() ? "" : ", ") + n.first;
        }
        return "'" + value + "' is not one of " + list + (numbersText.empty() ? "" : " (or " + numbersText + ")");
      },
      "");
}

// A time as ffmpeg users write it: seconds, or [HH:]MM:SS[.xxx]; turned into seconds.
CLI::Validator Time() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        int64_t us = 0;
        if (av_parse_time(&us, value.c_str(), 1) < 0 || us < 0) {
          return "'" + value + "' is not a time (seconds, or hh:mm:ss.xxx)";
        }
        char b[32];
        std::snprintf(b, sizeof b, "%.6f", us / 1e6);
        value = b;
        return {};
      },
      "");
}

// A number above zero: whole for counts, any for seconds.
CLI::Validator Positive(bool whole) {
  return CLI::Validator(
      [whole](std::string& value) -> std::string {
        char* end = nullptr;
        errno = 0;
        const double v = std::strtod(value.c_str(), &end);
        const bool ok = !value.empty() && *end == '\0' && errno == 0 && std::isfinite(v) && v > 0 &&
                        (!whole || (v == std::floor(v) && v <= 9e18));
        return ok ? std::string() : "'" + value + "' is not " + (whole ? "a whole number" : "a number") + " above 0";
      },
      "");
}

// FFmpeg spells some long options with one dash: taken as CLI11's two, and so in the help.
std::vector<std::string> TranslateFfmpegSpelling(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  out.reserve(args.size());
  for (const std::string& a : args) {
    // --sidecar alone is a flag (an input may follow it); with =DIR it names a folder.
    if (a.compare(0, 10, "--sidecar=") == 0) {
      if (a.size() > 10) out.push_back("--sidecar-dir");
      out.push_back(a.size() > 10 ? a.substr(10) : "--sidecar");
      continue;
    }
    bool translated = false;
    for (const char* name : kLong) {
      if (a == name) {
        out.push_back("-" + a);
        translated = true;
        break;
      }
    }
    if (!translated) out.push_back(a);
  }
  return out;
}

std::string Format(const char* fmt, double a, double b = 0.0) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

bool IsFlag(int32_t v) { return v == 0 || v == 1; }

void WarnRanges(const AnalysisSettings& s, Diagnostics& diag) {
  if (!IsFlag(s.ColorMode)) {
    diag.Warn(kExitSettingOutOfRange,
              "colour mode " + std::to_string(s.ColorMode) + " is neither 0 (RGB) nor 1 (YUV): RGB is used");
  }
  const struct {
    const char* name;
    int32_t value;
  } flags[] = {{"RColor", s.RColor}, {"GColor", s.GColor}, {"BColor", s.BColor},
               {"YColor", s.YColor}, {"UColor", s.UColor}, {"VColor", s.VColor}};
  for (const auto& f : flags) {
    if (!IsFlag(f.value)) {
      diag.Warn(kExitSettingOutOfRange, std::string(f.name) + " " + std::to_string(f.value) +
                                            " is neither 0 nor 1: the channel's trace is hidden");
    }
  }
  int white = 0, black = 0;
  ClampReferenceLevels(s.WhiteLevel, s.BlackLevel, &white, &black);
  if (white != s.WhiteLevel || black != s.BlackLevel) {
    diag.Warn(kExitSettingOutOfRange, "levels " + std::to_string(s.BlackLevel) + ":" + std::to_string(s.WhiteLevel) +
                                          " are outside 0..255 or inverted: " + std::to_string(black) + ":" +
                                          std::to_string(white) + " is used");
  }
  int start = 0, stop = 0;
  ClampMeasuringInterval(s.StartCount, s.StopCount, &start, &stop);
  if (start != s.StartCount || stop != s.StopCount) {
    diag.Warn(kExitSettingOutOfRange,
              "interval " + Format("%.1f:%.1f", s.StartCount * 0.1, s.StopCount * 0.1) +
                  " % is outside 0..100 or inverted: " + Format("%.1f:%.1f", start * 0.1, stop * 0.1) + " % is used");
  }
  if (ClampSensitivity(s.FFTSensitivity) != s.FFTSensitivity) {
    diag.Warn(kExitSettingOutOfRange, "sensitivity " + std::to_string(s.FFTSensitivity) + " dB is outside 10..110: " +
                                          std::to_string(ClampSensitivity(s.FFTSensitivity)) + " dB is used");
  }
  if (s.WindowFunction < WindowNone || s.WindowFunction > WindowBlackman) {
    diag.Warn(kExitSettingOutOfRange, "window function " + std::to_string(s.WindowFunction) +
                                          " is not one of 0..3: the spectrum is computed without a window");
  }
  if (s.FFTDiagMode < 0 || s.FFTDiagMode > 2) {
    diag.Warn(kExitSettingOutOfRange, "spectrum style " + std::to_string(s.FFTDiagMode) +
                                          " is not one of 0..2: the spectrum page draws no trace");
  }
  if (s.LevDiagMode < 0 || s.LevDiagMode > 2) {
    diag.Warn(kExitSettingOutOfRange, "levels style " + std::to_string(s.LevDiagMode) +
                                          " is not one of 0..2: the levels page draws no trace");
  }
}

// The settings file is only ever read here: every open is read-only, so a file of mode 0444 or
// another user's readable file is read, and nothing is created, replaced or removed.
std::FILE* OpenReadOnly(const std::string& path, FileOpen) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}
bool NeverReplace(const std::string&, const std::string&) { return false; }
void NeverRemove(const std::string&) {}
bool NeverSync(std::FILE*) { return false; }
const IniFileSystem kReadOnlyFiles = {OpenReadOnly, NeverReplace, NeverRemove, NeverSync};

// Reads the settings file the way the plug-in does; false when it cannot be read.
bool LoadSettingsFile(const std::string& path, AnalysisSettings* settings, Diagnostics& diag) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    diag.Warn(kExitSettingsUnreadable,
              "cannot read settings file '" + path + "': " + std::strerror(errno) + "; using the defaults");
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    diag.Warn(kExitSettingsUnreadable, "settings file '" + path + "' is not a file; using the defaults");
    return false;
  }
  // The store names its file base name + ".ini", as beside the DLL.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  if (file.size() <= 4 || strcasecmp(file.c_str() + file.size() - 4, ".ini") != 0) {
    diag.Warn(kExitSettingsUnreadable, "settings file '" + path + "' does not end in .ini; using the defaults");
    return false;
  }
  IniStore store;
  store.SetFileSystem(&kReadOnlyFiles);
  store.SetLocation(folder, file.substr(0, file.size() - 4));
  AnalysisSettings stored{};
  int32_t windowX = 0, windowY = 0;
  if (!LoadSettingsSequence(store, stored, *settings, windowX, windowY)) {
    diag.Warn(kExitSettingsUnreadable, "cannot read settings file '" + path + "'; using the defaults");
    *settings = DefaultSettings();
    return false;
  }
  return true;
}

}  // namespace

bool ParseNumberPair(const std::string& text, double* a, double* b) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  const std::string first = text.substr(0, colon), second = text.substr(colon + 1);
  char* end = nullptr;
  errno = 0;
  const double x = std::strtod(first.c_str(), &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(x)) return false;
  const double y = std::strtod(second.c_str(), &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(y)) return false;
  *a = x;
  *b = y;
  return true;
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& rawArgs, CliOptions* o, int* exitCode,
                              std::string* out, std::string* err) {
  CLI::App app{"lineview: the line measurements of KVP_LineView on any video file, capture device or pipe: "
               "the waveform of one TV line with its SNR per channel, its spectrum and its level histogram.",
               "lineview"};
  app.formatter(std::make_shared<HelpFormatter>());
  std::string footer;
  for (const auto& f : kFooter) footer += std::string(footer.empty() ? "" : "\n") + f.heading + "\n" + Wrap(f.text, "", 2);
  footer += "\nExit status:\n";
  for (const auto& e : kExitStatus) footer += Wrap(e.text, std::string("  ") + e.code, 12);
  footer += Wrap(kExitNote, "", 2);
  app.footer(footer);

  // As ffmpeg users type it, -i names an input too.
  app.add_option("input,-i", o->inputs,
                 "File, URL or device FFmpeg opens; - for raw frames on stdin; several: each in turn")
      ->option_text("INPUT ...");
  app.add_option("-f", o->format, "Input format or device (rawvideo, v4l2, ...)")->option_text("FORMAT");
  app.add_option("-s,--video_size", o->videoSize, "Frame size of raw input")->option_text("WxH");
  app.add_option("--pix_fmt,--pixel_format", o->pixelFormat, "Pixel format of raw input (yuyv422, bgr24, ...)")
      ->option_text("FMT");
  app.add_option("-r,--framerate", o->frameRate, "Frame rate of raw input or device (default 25)")->option_text("FPS");

  app.add_option("--settings", o->settingsPath, "The plug-in's settings file (FILE.ini)")->option_text("FILE");
  std::string lineText, tvLineText;
  CLI::Option* lineOption =
      app.add_option("--line", lineText, "Frame rows to analyse, from 0 at the top (23,100-110); with --field, lines of "
                                         "that field")
          ->option_text("LIST");
  CLI::Option* fieldOption =
      app.add_option("--field", o->lines.field, "Count --line within one field: top, bottom, first or second")
          ->option_text("FIELD")
          ->transform(Choice({{"top", int(FieldChoice::Top)},
                              {"bottom", int(FieldChoice::Bottom)},
                              {"first", int(FieldChoice::First)},
                              {"second", int(FieldChoice::Second)}},
                             false));
  app.add_option("--field-order", o->lines.order, "Which field comes first, where the input says it wrongly or not")
      ->option_text("tff|bff")
      ->transform(Choice({{"tff", int(FieldOrder::TopFirst)}, {"bff", int(FieldOrder::BottomFirst)}}, false));
  app.add_option("--tv-line", tvLineText,
                 "Lines as the 625- and 525-line standards number them (576, 480 or 486 rows), e.g. 23,335")
      ->option_text("LIST")
      ->excludes(lineOption)
      ->excludes(fieldOption);
  app.add_option("--color", o->colorMode, "Colour space: rgb or yuv")
      ->option_text("rgb|yuv")
      ->transform(Choice({{"rgb", 0}, {"yuv", 1}}, false));
  app.add_option("--page", o->page, "Page: scope, spectrum, levels or all (default: the settings' page)")
      ->option_text("PAGE")
      ->transform(Choice({{"scope", ModeOscilloscope}, {"spectrum", ModeSpectrum}, {"levels", ModeLevels}, {"all", 3}},
                         false));
  app.add_option("--window", o->window, "Spectrum window: none, hamming, hanning, blackman (or 0..3)")
      ->option_text("WINDOW")
      ->transform(Choice({{"none", 0}, {"hamming", 1}, {"hanning", 2}, {"blackman", 3}, {"blackmen", 3}}, true, "0..3"));
  app.add_option("--sensitivity", o->sensitivity, "Depth of the spectrum in dB (10..110)")->option_text("DB");
  app.add_option("--style", o->style, "Trace style of spectrum and levels: outline, fill, points (or 0..2)")
      ->option_text("STYLE")
      ->transform(Choice({{"outline", 0}, {"fill", 1}, {"points", 2}}, true, "0..2"));
  app.add_option("--interval", o->interval, "Measuring interval in percent of the line")->option_text("START:STOP");
  app.add_option("--levels", o->levels, "Reference levels, sample levels 0..255")->option_text("BLACK:WHITE");

  app.add_option("--convert", o->convert, "Layout the frames are analysed in: yuyv422 (default) or bgr24")
      ->option_text("yuyv422|bgr24")
      ->transform(Choice({{"yuyv422", 0}, {"yuy2", 0}, {"bgr24", 1}}, false));
  app.add_flag("--json", o->json, "Print a summary in JSON instead of the CSV rows");
  CLI::Option* png = app.add_option("--png", o->pngDir, "Write each selected page as a PNG picture into DIR")
                         ->option_text("DIR");
  app.add_option("--every", o->every, "With --png: also a picture of every Nth frame")
      ->option_text("N")
      ->check(Positive(true))
      ->needs(png);
  app.add_option("--frames", o->maxFrames, "Analyse at most N frames")->option_text("N")->check(Positive(true));
  app.add_option("--ss", o->startSeconds, "Start at the first frame at or after this time (seconds or hh:mm:ss.xxx)")
      ->option_text("TIME")
      ->transform(Time());
  double length = -1, end = -1;
  CLI::Option* lengthOption =
      app.add_option("-t", length, "Analyse this long from the start")->option_text("DURATION")->transform(Time());
  app.add_option("--to", end, "Stop before the first frame at or after this time")
      ->option_text("TIME")
      ->transform(Time())
      ->excludes(lengthOption);
  app.add_option("--timeout", o->timeout,
                 "Stop when the input delivers no frame for this long (a stalled pipe or device)")
      ->option_text("SECONDS")
      ->check(Positive(false));
  app.add_flag("--sidecar", o->sidecar,
               "Each input's results as NAME.lineview.xml.gz beside it; --sidecar=DIR: in DIR");
  app.add_option("--sidecar-dir", o->sidecarDir)->group("");  // what --sidecar=DIR becomes
  app.add_option("--from", o->from, "Read these sidecars instead of decoding inputs")->option_text("SIDECAR ...");
  app.add_option("--report", o->report, "Write one HTML page for all inputs: verdicts, plots over time, pictures")
      ->option_text("FILE.html");
  app.add_option("--plot", o->plot, "Write the plot over time as a PNG picture")->option_text("FILE.png");
  std::string snrRange;
  app.add_option("--snr-range", snrRange, "The plot's dB axis (default 10:70)")->option_text("LO:HI");
  app.add_option("--min-snr", o->limits.minSnr, "Flag frames where a shown channel's own SNR lies below DB")
      ->option_text("DB");
  app.add_option("--max-dropped", o->limits.maxDropped, "Flag an input that lost more than N frames")
      ->option_text("N")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--flag-gap", o->limits.flagGap, "Flagged spans closer than this join into one segment (default 1)")
      ->option_text("SECONDS")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--verbose", o->verbose, "Every FFmpeg message as it comes, without a progress line (by default each kind once, with a count)");
  bool noProgress = false;
  app.add_flag("--no-progress", noProgress, "No progress bar, even on a terminal");
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", "lineview " LINEVIEW_VERSION_TEXT, "Print the version and exit");
  CLI::Option* live = app.add_flag("--live", o->live, "Show the picture, the page and the read-outs in a window");
  app.add_flag("--hold", o->hold, "With --live: keep the window up after the last frame")->needs(live);
  bool noPacing = false;
  app.add_flag("--no-pacing", noPacing, "With --live: a file as fast as it decodes, not at its frame rate")->needs(live);

  std::vector<std::string> args = TranslateFfmpegSpelling(rawArgs);
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    *out = app.help();
    *exitCode = kExitOk;
    return ParseOutcome::Exit;
  } catch (const CLI::CallForVersion& e) {
    *out = std::string(e.what()) + "\n";
    *exitCode = kExitOk;
    return ParseOutcome::Exit;
  } catch (const CLI::ParseError& e) {
    *err = std::string("lineview: ") + FfmpegSpelling(e.what()) + "\nRun with --help for more information.\n";
    *exitCode = kExitUsage;
    return ParseOutcome::Exit;
  }
  if (!lineText.empty() || !tvLineText.empty()) {
    std::string error;
    if (!ParseLineList(lineText.empty() ? tvLineText : lineText, &o->lines.numbers, &error)) {
      *err = std::string("lineview: ") + (lineText.empty() ? "--tv-line" : "--line") + ": " + error + "\n";
      *exitCode = kExitUsage;
      return ParseOutcome::Exit;
    }
    o->lines.tvLines = lineText.empty();
  }
  if (!o->page.empty()) o->page = o->page == "3" ? "all" : PageName(std::stoi(o->page));
  if (length >= 0) o->endSeconds = o->startSeconds + length;
  if (end >= 0) o->endSeconds = end;
  if (o->endSeconds >= 0 && o->endSeconds <= o->startSeconds) {
    *err = "lineview: -to must lie after -ss, and -t be above 0\n";
    *exitCode = kExitUsage;
    return ParseOutcome::Exit;
  }
  o->progress = !noProgress;
  o->pacing = !noPacing;
  if (!o->inputs.empty()) o->input = o->inputs.front();
  if (!snrRange.empty() && (!ParseNumberPair(snrRange, &o->snrLow, &o->snrHigh) || o->snrHigh <= o->snrLow)) {
    *err = "lineview: --snr-range: '" + snrRange + "' is not LO:HI in dB with LO below HI (e.g. 20:60)\n";
    *exitCode = kExitUsage;
    return ParseOutcome::Exit;
  }
  if (!o->sidecarDir.empty()) o->sidecar = true;
  if (!o->from.empty()) {
    const char* clash = !o->inputs.empty() ? "an INPUT" : o->live ? "--live" : o->sidecar ? "--sidecar"
                        : !o->pngDir.empty() ? "--png" : nullptr;
    if (clash != nullptr) {
      *err = std::string("lineview: --from reads results already made: it takes no ") + clash + "\n";
      *exitCode = kExitUsage;
      return ParseOutcome::Exit;
    }
  }
  if (o->live && o->inputs.size() > 1) {
    *err = "lineview: --live shows one input; several are analysed without it\n";
    *exitCode = kExitUsage;
    return ParseOutcome::Exit;
  }

  double a = 0, b = 0;
  if (!o->interval.empty() && !ParseNumberPair(o->interval, &a, &b)) {
    *err = "lineview: --interval: '" + o->interval + "' is not START:STOP (percent, e.g. 5:95)\n";
    *exitCode = kExitUsage;
    return ParseOutcome::Exit;
  }
  if (!o->levels.empty() && !ParseNumberPair(o->levels, &a, &b)) {
    *err = "lineview: --levels: '" + o->levels + "' is not BLACK:WHITE (e.g. 16:235)\n";
    *exitCode = kExitUsage;
    return ParseOutcome::Exit;
  }
  return ParseOutcome::Run;
}

RunSettings ResolveSettings(const CliOptions& o, Diagnostics& diag) {
  RunSettings r;
  r.settings = DefaultSettings();
  if (!o.settingsPath.empty()) LoadSettingsFile(o.settingsPath, &r.settings, diag);

  AnalysisSettings& s = r.settings;
  // The first line a run names is the one the settings carry (the live window's first).
  if (!o.lines.numbers.empty() && !o.lines.tvLines && o.lines.field == FieldChoice::None) {
    s.TVLine = o.lines.numbers.front();
  }
  if (o.colorMode) s.ColorMode = *o.colorMode;
  if (o.window) s.WindowFunction = *o.window;
  if (o.sensitivity) s.FFTSensitivity = *o.sensitivity;
  if (o.style) s.FFTDiagMode = s.LevDiagMode = *o.style;
  double a = 0, b = 0;
  // Out-of-range numbers are saturated only to stay inside int32; the range warning follows.
  auto toInt = [](double v) { return static_cast<int32_t>(std::lround(std::clamp(v, -1e9, 1e9))); };
  if (!o.interval.empty() && ParseNumberPair(o.interval, &a, &b)) {
    s.StartCount = toInt(a * 10.0);
    s.StopCount = toInt(b * 10.0);
  }
  if (!o.levels.empty() && ParseNumberPair(o.levels, &a, &b)) {
    s.BlackLevel = toInt(a);
    s.WhiteLevel = toInt(b);
  }

  if (o.page == "all") {
    r.pages = {ModeOscilloscope, ModeSpectrum, ModeLevels};
  } else if (o.page == "scope") {
    r.pages = {ModeOscilloscope};
  } else if (o.page == "spectrum") {
    r.pages = {ModeSpectrum};
  } else if (o.page == "levels") {
    r.pages = {ModeLevels};
  } else if (s.Mode >= ModeOscilloscope && s.Mode <= ModeLevels) {
    r.pages = {s.Mode};
  } else {
    diag.Warn(kExitSettingOutOfRange, "page " + std::to_string(s.Mode) + " is not one of 0..2: no page is drawn");
  }
  if (!r.pages.empty()) s.Mode = r.pages.front();
  WarnRanges(s, diag);
  return r;
}

void CheckLine(const AnalysisSettings& s, int height, Diagnostics& diag) {
  if (height < 1) return;
  if (s.TVLine >= height || s.TVLine < 0) {
    const int used = std::clamp(s.TVLine, 0, height - 1);
    diag.Warn(kExitLineClamped, "line " + std::to_string(s.TVLine) + " is outside the frame's " +
                                    std::to_string(height) + " lines: line " + std::to_string(used) + " is used");
  }
}

const char* PageName(int mode) {
  switch (mode) {
    case ModeOscilloscope:
      return "scope";
    case ModeSpectrum:
      return "spectrum";
    case ModeLevels:
      return "levels";
    default:
      return "none";
  }
}

const char* WindowName(int window) {
  static const char* const kNames[] = {"none", "hamming", "hanning", "blackman"};
  return window >= 0 && window <= 3 ? kNames[window] : nullptr;
}
