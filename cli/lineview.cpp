#include "cli/lineview.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#include "analysis/level_histogram.h"
#include "analysis/page_style.h"
#include "analysis/spectrum.h"
#include "analysis/waveform.h"
#include "cli/cli_options.h"
#include "cli/diagnostics.h"
#include "cli/frame_source.h"
#include "cli/headless_window.h"
#include "cli/library_log.h"
#include "cli/page_picture.h"
#include "cli/live_window.h"
#include "cli/progress.h"
#include "cli/run_observer.h"
#include "cli/summary.h"
#include "plugin/analysis_state.h"

namespace {

class Run {
 public:
  Run(const CliOptions& o, const RunSettings& rs, FrameSource& source, std::ostream& out, Diagnostics& diag,
      RunObserver* observer = nullptr)
      : o_(o), rs_(rs), source_(source), out_(out), diag_(diag), observer_(observer) {}
  // Several inputs in one CSV: each row starts with its input's name, and the header comes once,
  // before the first row of the first input that has one (a failed input writes nothing).
  void SetRowPrefix(const std::string& prefix, bool* headerPending) { rowPrefix_ = prefix, headerPending_ = headerPending; }
  ~Run() { ReleaseStateBuffers(state_); }

  int Execute(bool errIsTerminal);

 private:
  void Analyse(InputFrame& frame, bool draw);
  void LatestSnr(double snr[3]) const;
  bool WriteRow(const InputFrame& frame, const double frameSnr[3]);
  void DrawPage(int page);
  bool WritePictures(const std::string& suffix);

  const CliOptions& o_;
  const RunSettings& rs_;
  FrameSource& source_;
  std::ostream& out_;
  Diagnostics& diag_;
  RunObserver* observer_;
  std::string rowPrefix_;
  bool ownHeaderPending_ = true;
  bool* headerPending_ = &ownHeaderPending_;
  AnalysisState state_;
  HeadlessWindow window_;
  std::unique_ptr<TextPainter> text_;
  RunSummary summary_;
};

// One frame through the plug-in's frame path, which samples the line, marks it and, when a
// picture of this frame is due, draws the first selected page. The CSV needs the SNR whichever
// page is drawn, and --page all the other two pages: both come from the analyses the frame
// path calls, on the line it has just sampled.
void Run::Analyse(InputFrame& frame, bool draw) {
  window_.SetDrawing(draw);
  FrameInfo info{};
  info.pixels = frame.pixels;
  ProcessFrameState(state_, info, &window_);
  AnalysisSettings s = SnapshotSettings(state_.liveSettings);
  if (!draw || s.Mode != ModeOscilloscope) {
    MeasureWaveform(s, state_.width, state_.channels, state_.snrHistory, state_.snrHistoryIndex, state_.snrDisplay);
  }
  // The live window may show the other colour space: the CSV keeps the run's, measured last so
  // that snrDisplay holds its means.
  if ((s.ColorMode == 1) != (rs_.settings.ColorMode == 1)) {
    s.ColorMode = rs_.settings.ColorMode;
    MeasureWaveform(s, state_.width, state_.channels, state_.snrHistory, state_.snrHistoryIndex, state_.snrDisplay);
  }
  if (draw) {
    for (size_t i = 1; i < rs_.pages.size(); ++i) DrawPage(rs_.pages[i]);
  }
}

// The frame's own ratio per channel: the entry its measurement has just put into each ring.
void Run::LatestSnr(double snr[3]) const {
  const int first = FirstChannel(rs_.settings);
  for (int c = 0; c < 3; ++c) {
    const int ch = first + c;
    snr[c] = state_.snrHistory[ch][(state_.snrHistoryIndex[ch] + kSnrRingLength - 1) % kSnrRingLength];
  }
}

// One CSV row, and the header before the first; false once the output cannot be written.
bool Run::WriteRow(const InputFrame& frame, const double frameSnr[3]) {
  errno = 0;
  if (*headerPending_) {
    *headerPending_ = false;
    const char* const* n = summary_.channelNames;
    out_ << (rowPrefix_.empty() ? "" : "input,") << "frame,time," << n[0] << ',' << n[1] << ',' << n[2] << ',' << n[0] << "_frame," << n[1] << "_frame,"
         << n[2] << "_frame\n";
  }
  char row[192];
  // The 50-frame means exactly as the tool window shows them, then the frame's own ratios.
  std::snprintf(row, sizeof row, "%lld,%.3f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f\n", static_cast<long long>(frame.index),
                frame.seconds, state_.snrDisplay[0], state_.snrDisplay[1], state_.snrDisplay[2], frameSnr[0],
                frameSnr[1], frameSnr[2]);
  out_ << rowPrefix_ << row;
  return static_cast<bool>(out_);
}

// The page's analysis on the line sampled last. Only the oscilloscope keeps anything across
// frames (its SNR rings), and it is drawn this way only after the last read-out is out.
void Run::DrawPage(int page) {
  const AnalysisSettings s = SnapshotSettings(state_.liveSettings);
  const int n = state_.width;
  PlotCanvas& canvas = window_.Canvas(page);
  if (page == ModeOscilloscope) {
    RenderWaveform(s, n, state_.channels, state_.snrHistory, state_.snrHistoryIndex, state_.snrDisplay, canvas);
  } else if (page == ModeSpectrum) {
    RenderSpectrum(s, n, state_.channels, state_.spectrumReal, state_.spectrumImag, state_.spectrumMagnitude,
                   state_.spectrumTables, canvas);
  } else if (page == ModeLevels) {
    RenderLevelHistogram(s, n, state_.channels, state_.levelHistogram, canvas);
  }
}

bool Run::WritePictures(const std::string& suffix) {
  for (int page : rs_.pages) {
    const Picture p = ComposePage(page, window_.Canvas(page), rs_.settings, text_.get(), kPageWidth, kPageHeight);
    const std::string path = o_.pngDir + "/lineview-" + PageName(page) + suffix + ".png";
    std::string error;
    if (!WritePng(p, path, &error)) {
      diag_.Fail(kExitFailure, "cannot write '" + path + "': " + error);
      return false;
    }
  }
  return true;
}

int Run::Execute(bool errIsTerminal) {
  if (!o_.pngDir.empty()) {
    std::string error;
    text_ = CreateTextPainter(&error);
    if (!text_) diag_.Warn(kExitNoFont, error + ": pictures without axis labels");
  }

  state_.liveSettings = rs_.settings;
  if (rs_.pages.empty()) state_.liveSettings.Mode = -1;  // the frame path then draws no page
  CheckLine(state_.liveSettings, source_.Height(), diag_);
  // The frame path clamps a line above the frame; the plug-in's Configure lowers one below it.
  if (state_.liveSettings.TVLine < 0) state_.liveSettings.TVLine = 0;
  ConfigureState(state_, FrameFormat{source_.Width(), source_.Height(), 0, source_.PixelFormat()});
  source_.SetAnalysedRow(state_.liveSettings.TVLine);
  if (!state_.BuffersReady()) return diag_.Fail(kExitFailure, "out of memory");

  const bool yuv = state_.liveSettings.ColorMode == 1;
  static const char* const kRgb[3] = {"R", "G", "B"};
  static const char* const kYuv[3] = {"Y", "U", "V"};
  for (int c = 0; c < 3; ++c) summary_.channelNames[c] = yuv ? kYuv[c] : kRgb[c];
  summary_.input = o_.input;
  if (observer_) observer_->Started(state_, source_);

  int64_t expected = source_.ExpectedFrames();
  if (o_.maxFrames > 0 && (expected == 0 || expected > o_.maxFrames)) expected = o_.maxFrames;
  ProgressBar progress(diag_.Stream(), errIsTerminal && o_.progress, expected);

  InputFrame frame;
  bool anyFrame = false;
  while ((o_.maxFrames == 0 || summary_.framesAnalysed < o_.maxFrames) && (!observer_ || observer_->NextFrame()) &&
         source_.Next(&frame)) {
    const bool due = !o_.pngDir.empty() && o_.every > 0 && (frame.index + 1) % o_.every == 0;
    const bool shown = observer_ && observer_->ShowFrame(frame);
    Analyse(frame, due || shown);
    if (observer_) observer_->FrameAnalysed(frame, state_, window_, shown);
    ++summary_.framesAnalysed;
    anyFrame = true;
    double frameSnr[3];
    LatestSnr(frameSnr);
    for (int c = 0; c < 3; ++c) summary_.channels[c].Add(frameSnr[c]);
    // A reader that has gone (a closed pipe) ends the run now, not at the end of the input.
    if (!o_.json && !WriteRow(frame, frameSnr)) {
      const int e = errno;
      return diag_.Fail(kExitFailure, "cannot write the output" + (e != 0 ? ": " + std::string(std::strerror(e)) : ""));
    }
    if (due) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, "-%06lld", static_cast<long long>(frame.index));
      if (!WritePictures(suffix)) return kExitFailure;
    }
    progress.Update(summary_.framesAnalysed);
  }
  progress.Finish(summary_.framesAnalysed);
  summary_.framesDropped = source_.Dropped();
  const int64_t undecoded = source_.Undecoded();
  if (!anyFrame) {
    return diag_.Fail(kExitCannotOpen, "'" + o_.input + "': not one frame could be analysed (" +
                                           std::to_string(undecoded) + " could not be decoded or converted)");
  }
  ReportLibraryMessages(diag_.Stream());
  if (undecoded > 0) {
    diag_.Warn(kExitFramesDropped, std::to_string(undecoded) + (undecoded == 1 ? " frame" : " frames") + " of '" +
                                       o_.input + "' could not be decoded or converted: left out");
  }

  if (!o_.pngDir.empty() && anyFrame) {
    // The pictures of the last frame, drawn now that it is known to be the last.
    for (int page : rs_.pages) DrawPage(page);
    if (!WritePictures("")) return kExitFailure;
  }
  if (o_.json) out_ << SummaryJson(summary_);
  out_.flush();
  if (!out_) return diag_.Fail(kExitFailure, "cannot write the output");
  return diag_.Status();
}

// Creates the picture folder and proves it takes a new file, before any decoding: a folder
// refused only at the end would waste the whole run.
bool PrepareFolder(const std::string& dir, Diagnostics& diag) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    diag.Fail(kExitFailure, "cannot create folder '" + dir + "'");
    return false;
  }
  std::string probe = dir + "/.lineview-XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    diag.Fail(kExitFailure, "cannot write into folder '" + dir + "': " + std::strerror(errno));
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

// The summary on one line: the line breaks and indentation between its fields dropped (no
// string in it holds a raw line break: they are escaped).
std::string CompactJson(const std::string& json) {
  std::string out;
  bool lineStart = false;
  for (char c : json) {
    if (c == '\n') {
      lineStart = true;
    } else if (!(lineStart && c == ' ')) {
      lineStart = false;
      out += c;
    }
  }
  return out;
}

// An input's name as a CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// One input through its own run; `observer` watches it (the live window) or is null.
int RunInput(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
             bool errIsTerminal, const std::string& rowPrefix, bool* headerPending, RunObserver* observer) {
  int exitCode = 0;
  std::unique_ptr<FrameSource> source = OpenFrameSource(options, diag, &exitCode);
  if (!source) return exitCode;
  Run run(options, settings, *source, out, diag, observer);
  if (headerPending) run.SetRowPrefix(rowPrefix, headerPending);
  return run.Execute(errIsTerminal);
}

// Several inputs, one after another: an archive. Each input's JSON summary on a line of its
// own, or one CSV whose rows name their input. An input that fails is reported and skipped.
int RunArchive(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
               bool errIsTerminal) {
  int status = kExitOk;
  bool headerPending = true;
  for (const std::string& input : options.inputs) {
    CliOptions one = options;
    one.input = input;
    int code = kExitOk;
    if (options.json) {
      std::ostringstream json;
      code = RunInput(one, settings, json, diag, errIsTerminal, "", nullptr, nullptr);
      if (!json.str().empty()) out << CompactJson(json.str()) << '\n';
    } else {
      code = RunInput(one, settings, out, diag, errIsTerminal, CsvField(input) + ",", &headerPending, nullptr);
    }
    // An input that could not be analysed outweighs the warnings of the others.
    const bool failed = code != kExitOk && code < kExitTruncated;
    if (status == kExitOk || (failed && status >= kExitTruncated)) status = code;
  }
  out.flush();
  if (!out) return diag.Fail(kExitFailure, "cannot write the output");
  return status;
}

}  // namespace

int RunLineview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  CliOptions options;
  int exitCode = 0;
  std::string helpText, errorText;
  if (ParseCommandLine(args, &options, &exitCode, &helpText, &errorText) == ParseOutcome::Exit) {
    out << helpText;
    err << errorText;
    return exitCode;
  }
  Diagnostics diag(err);
  const RunSettings settings = ResolveSettings(options, diag);
  if (!options.pngDir.empty() && !PrepareFolder(options.pngDir, diag)) return kExitFailure;
  if (options.inputs.size() > 1) return RunArchive(options, settings, out, diag, errIsTerminal);
  if (options.live) {
    return RunLive(options, diag, [&](RunObserver* observer) {
      return RunInput(options, settings, out, diag, false, "", nullptr, observer);
    });
  }
  return RunInput(options, settings, out, diag, errIsTerminal, "", nullptr, nullptr);
}
