#include "cli/options/cli_options.h"

extern "C" {
#include <libavutil/parseutils.h>
}

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "analysis/spectrum.h"
#include "cli/common/exit_codes.h"
#include "cli/common/names.h"
#include "cli/options/help.h"
#include "lineview_version.h"

namespace {

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
    for (const char* name : kFfmpegLongOptions) {
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

// What the parser reads as text or with another meaning, turned into CliOptions after it.
struct Unparsed {
  std::string line, tvLine, interval, levels, snrRange;
  double length = -1, end = -1;
  bool noProgress = false, noPacing = false;
};

void AddInputOptions(CLI::App& app, CliOptions* o) {
  // As ffmpeg users type it, -i names an input too.
  app.add_option("input,-i", o->inputs,
                 "File, URL or device FFmpeg opens; - for raw frames on stdin; several: each in turn")
      ->option_text("INPUT ...");
  app.add_option("-f", o->format, "Input format or device (rawvideo, v4l2, ...)")->option_text("FORMAT");
  app.add_option("-s,--video_size", o->videoSize, "Frame size of raw input")->option_text("WxH");
  app.add_option("--pix_fmt,--pixel_format", o->pixelFormat, "Pixel format of raw input (yuyv422, bgr24, ...)")
      ->option_text("FMT");
  app.add_option("-r,--framerate", o->frameRate, "Frame rate of raw input or device (default 25)")->option_text("FPS");
}

void AddLineOptions(CLI::App& app, CliOptions* o, Unparsed& u) {
  app.add_option("--settings", o->settingsPath, "The plug-in's settings file (FILE.ini)")->option_text("FILE");
  CLI::Option* lineOption =
      app.add_option("--line", u.line, "Frame rows to analyse, from 0 at the top (23,100-110); with --field, lines of "
                                       "that field")
          ->option_text("LIST");
  CLI::Option* fieldOption =
      app.add_option("--field", o->lines.field, "Count --line within one field: top, bottom, first or second")
          ->option_text("FIELD")
          ->transform(Choice({{FieldName(0), int(FieldChoice::Top)},
                              {FieldName(1), int(FieldChoice::Bottom)},
                              {"first", int(FieldChoice::First)},
                              {"second", int(FieldChoice::Second)}},
                             false));
  app.add_option("--field-order", o->lines.order, "Which field comes first, where the input says it wrongly or not")
      ->option_text("tff|bff")
      ->transform(Choice({{"tff", int(FieldOrder::TopFirst)}, {"bff", int(FieldOrder::BottomFirst)}}, false));
  app.add_option("--tv-line", u.tvLine,
                 "Lines as the 625- and 525-line standards number them (576, 480 or 486 rows), e.g. 23,335")
      ->option_text("LIST")
      ->excludes(lineOption)
      ->excludes(fieldOption);
}

void AddPageOptions(CLI::App& app, CliOptions* o, Unparsed& u) {
  app.add_option("--color", o->colorMode, "Colour space: rgb or yuv")
      ->option_text("rgb|yuv")
      ->transform(Choice({{"rgb", 0}, {"yuv", 1}}, false));
  std::vector<std::pair<std::string, int>> pages = Choices(kPageNames);
  pages.emplace_back("all", 3);
  app.add_option("--page", o->page, "Page: scope, spectrum, levels or all (default: the settings' page)")
      ->option_text("PAGE")
      ->transform(Choice(pages, false));
  std::vector<std::pair<std::string, int>> windows = Choices(kWindowNames);
  windows.emplace_back("blackmen", WindowBlackman);  // the plug-in's own spelling
  app.add_option("--window", o->window, "Spectrum window: none, hamming, hanning, blackman (or 0..3)")
      ->option_text("WINDOW")
      ->transform(Choice(windows, true, "0..3"));
  app.add_option("--sensitivity", o->sensitivity, "Depth of the spectrum in dB (10..110)")->option_text("DB");
  app.add_option("--style", o->style, "Trace style of spectrum and levels: outline, fill, points (or 0..2)")
      ->option_text("STYLE")
      ->transform(Choice(Choices(kStyleNames), true, "0..2"));
  app.add_option("--interval", u.interval, "Measuring interval in percent of the line")->option_text("START:STOP");
  app.add_option("--levels", u.levels, "Reference levels, sample levels 0..255")->option_text("BLACK:WHITE");
  app.add_option("--snr", o->snrMethod,
                 "How SNR is measured: line (the tool window's, default), or luminance noise in the standard band, "
                 "unweighted or weighted")
      ->option_text("METHOD")
      ->transform(Choice(Choices(kSnrMethodNames), false));
  app.add_option("--sample-rate", o->sampleRateMhz,
                 "With --snr unweighted|weighted: one sample's frequency in MHz where the line's width does not say it")
      ->option_text("MHZ")
      ->check(Positive(false));
}

void AddOutputOptions(CLI::App& app, CliOptions* o) {
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
}

void AddRangeOptions(CLI::App& app, CliOptions* o, Unparsed& u) {
  app.add_option("--frames", o->maxFrames, "Analyse at most N frames")->option_text("N")->check(Positive(true));
  app.add_option("--ss", o->startSeconds, "Start at the first frame at or after this time (seconds or hh:mm:ss.xxx)")
      ->option_text("TIME")
      ->transform(Time());
  CLI::Option* lengthOption =
      app.add_option("-t", u.length, "Analyse this long from the start")->option_text("DURATION")->transform(Time());
  app.add_option("--to", u.end, "Stop before the first frame at or after this time")
      ->option_text("TIME")
      ->transform(Time())
      ->excludes(lengthOption);
  app.add_option("--timeout", o->timeout,
                 "Stop when the input delivers no frame for this long (a stalled pipe or device)")
      ->option_text("SECONDS")
      ->check(Positive(false));
}

void AddArchiveOptions(CLI::App& app, CliOptions* o, Unparsed& u) {
  app.add_flag("--sidecar", o->sidecar,
               "Each input's results as NAME.lineview.xml.gz beside it; --sidecar=DIR: in DIR");
  app.add_option("--sidecar-dir", o->sidecarDir)->group("");  // what --sidecar=DIR becomes
  app.add_option("--from", o->from, "Read these sidecars instead of decoding inputs")->option_text("SIDECAR ...");
  app.add_option("--report", o->report, "Write one HTML page for all inputs: verdicts, plots over time, pictures")
      ->option_text("FILE.html");
  app.add_option("--plot", o->plot, "Write the plot over time as a PNG picture")->option_text("FILE.png");
  app.add_flag("-y", o->again, "With --sidecar: analyse again where a complete sidecar of the input exists");
  app.add_option("--snr-range", u.snrRange, "The plot's dB axis (default 10:70)")->option_text("LO:HI");
  app.add_option("--min-snr", o->limits.minSnr, "Flag frames where a shown channel's own SNR lies below DB")
      ->option_text("DB");
  app.add_option("--max-dropped", o->limits.maxDropped, "Flag an input that lost more than N frames")
      ->option_text("N")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--max-damaged", o->limits.maxDamaged, "Flag an input with more than N frames the decoder found damaged")
      ->option_text("N")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--flag-gap", o->limits.flagGap, "Flagged spans closer than this join into one segment (default 1)")
      ->option_text("SECONDS")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--min-duration", o->limits.minDuration, "Flagged segments shorter than this are dropped (default 0)")
      ->option_text("SECONDS")
      ->check(CLI::NonNegativeNumber);
}

void AddCompareOptions(CLI::App& app, CliOptions* o) {
  CLI::Option* compare =
      app.add_flag("--compare", o->compare, "Line up two captures of one tape (INPUT A and B) frame by frame and "
                                            "say where each is better");
  app.add_option("--min-delta", o->minDelta, "With --compare: spans where one is better by more than DB (default 1)")
      ->option_text("DB")
      ->check(Positive(false))
      ->needs(compare);
  app.add_option("--offset", o->offset, "With --compare: A's frame that B's first shows, where the picture cannot "
                                        "tell (a still picture)")
      ->option_text("N")
      ->needs(compare);
}

void AddProgramOptions(CLI::App& app, CliOptions* o, Unparsed& u) {
  app.add_flag("--verbose", o->verbose, "Every FFmpeg message as it comes, without a progress line (by default each kind once, with a count)");
  app.add_flag("--no-progress", u.noProgress, "No progress bar, even on a terminal");
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", "lineview " LINEVIEW_VERSION_TEXT, "Print the version and exit");
  CLI::Option* live = app.add_flag("--live", o->live, "Show the picture, the page and the read-outs in a window");
  app.add_flag("--hold", o->hold, "With --live: keep the window up after the last frame")->needs(live);
  app.add_flag("--no-pacing", u.noPacing, "With --live: a file as fast as it decodes, not at its frame rate")->needs(live);
}

// The values the parser left as text, and the combinations it cannot see; "" when all is well,
// else the error to print.
std::string CheckValues(CliOptions* o, const Unparsed& u) {
  if (!u.line.empty() || !u.tvLine.empty()) {
    std::string error;
    if (!ParseLineList(u.line.empty() ? u.tvLine : u.line, &o->lines.numbers, &error)) {
      return std::string(u.line.empty() ? "--tv-line" : "--line") + ": " + error;
    }
    o->lines.tvLines = u.line.empty();
  }
  if (!o->page.empty()) o->page = o->page == "3" ? "all" : PageName(std::stoi(o->page));
  if (u.length >= 0) o->endSeconds = o->startSeconds + u.length;
  if (u.end >= 0) o->endSeconds = u.end;
  if (o->endSeconds >= 0 && o->endSeconds <= o->startSeconds) return "-to must lie after -ss, and -t be above 0";
  o->progress = !u.noProgress;
  o->pacing = !u.noPacing;
  if (!o->inputs.empty()) o->input = o->inputs.front();
  if (!u.snrRange.empty() && (!ParseNumberPair(u.snrRange, &o->snrLow, &o->snrHigh) || o->snrHigh <= o->snrLow)) {
    return "--snr-range: '" + u.snrRange + "' is not LO:HI in dB with LO below HI (e.g. 20:60)";
  }
  if (!o->sidecarDir.empty()) o->sidecar = true;
  // Luminance is measured in the colour space that has it, whatever the settings file says.
  if (o->snrMethod != 0 && !o->colorMode) o->colorMode = 1;
  return "";
}

// The number pairs, read once here: the run takes their numbers.
std::string CheckPairs(CliOptions* o, const Unparsed& u) {
  double a = 0, b = 0;
  if (!u.interval.empty()) {
    if (!ParseNumberPair(u.interval, &a, &b)) return "--interval: '" + u.interval + "' is not START:STOP (percent, e.g. 5:95)";
    o->interval = std::make_pair(a, b);
  }
  if (!u.levels.empty()) {
    if (!ParseNumberPair(u.levels, &a, &b)) return "--levels: '" + u.levels + "' is not BLACK:WHITE (e.g. 16:235)";
    o->levels = std::make_pair(a, b);
  }
  return "";
}

// Every option given but those that only choose outputs, judge results afterwards or set how
// the run is shown: a new option shapes the results unless it is named here.
std::string AnalysisArgs(const CLI::App& app) {
  static const std::set<std::string> kOutputOnly = {
      "input", "-i", "--json", "--png", "--every", "--sidecar", "--sidecar-dir", "--from", "--report", "--plot",
      "--snr-range", "--max-dropped", "--max-damaged", "--flag-gap", "-y", "--verbose", "--no-progress", "--live",
      "--hold", "--no-pacing", "--timeout", "--help", "--version", "--min-duration", "--compare", "--min-delta",
      "--offset",
      "--settings"};  // the file's values enter the block, not its path
  // By its spelling on the command line: a hidden option's name can be empty.
  auto spelling = [](const CLI::Option* opt) {
    return !opt->get_lnames().empty()   ? "--" + opt->get_lnames().front()
           : !opt->get_snames().empty() ? "-" + opt->get_snames().front()
                                        : opt->get_name();
  };
  std::string text;
  for (const CLI::Option* opt : app.get_options()) {
    const std::string name = spelling(opt);
    if (opt->count() == 0 || kOutputOnly.count(name)) continue;
    text += (text.empty() ? "" : ";") + name;
    for (const std::string& r : opt->results()) text += "=" + r;
  }
  return text;
}

std::string CheckCombinations(const CliOptions& o) {
  if (!o.from.empty()) {
    const char* clash = !o.inputs.empty() ? "an INPUT" : o.live ? "--live" : o.sidecar ? "--sidecar"
                        : !o.pngDir.empty() ? "--png" : nullptr;
    if (clash != nullptr) return std::string("--from reads results already made: it takes no ") + clash;
  }
  if (o.live && o.inputs.size() > 1) return "--live shows one input; several are analysed without it";
  if (o.snrMethod != 0 && (o.colorMode == 0 || o.convert != 0)) {
    return std::string("--snr ") + SnrMethodName(o.snrMethod) + " measures luminance: it takes no " +
           (o.colorMode == 0 ? "--color rgb" : "--convert bgr24");
  }
  if (o.snrMethod == 0 && o.sampleRateMhz > 0) return "--sample-rate serves --snr unweighted and weighted only";
  if (o.compare) {
    const char* clash = o.live ? "--live" : !o.pngDir.empty() ? "--png" : !o.plot.empty() ? "--plot" : nullptr;
    if (clash != nullptr) return std::string("--compare does not take ") + clash;
    const size_t given = o.from.empty() ? o.inputs.size() : o.from.size();
    if (given != 2) {
      return std::string("--compare takes two ") + (o.from.empty() ? "inputs" : "sidecars") + ", A and B (" +
             std::to_string(given) + " given)";
    }
  }
  return "";
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
  app.formatter(MakeHelpFormatter());
  app.footer(HelpFooter());
  Unparsed u;
  AddInputOptions(app, o);
  AddLineOptions(app, o, u);
  AddPageOptions(app, o, u);
  AddOutputOptions(app, o);
  AddRangeOptions(app, o, u);
  AddArchiveOptions(app, o, u);
  AddCompareOptions(app, o);
  AddProgramOptions(app, o, u);

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
  o->analysisArgs = AnalysisArgs(app);
  std::string error = CheckValues(o, u);
  if (error.empty()) error = CheckCombinations(*o);
  if (error.empty()) error = CheckPairs(o, u);
  if (error.empty()) return ParseOutcome::Run;
  *err = "lineview: " + error + "\n";
  *exitCode = kExitUsage;
  return ParseOutcome::Exit;
}
