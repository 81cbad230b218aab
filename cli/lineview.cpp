#include "cli/lineview.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "analysis/level_histogram.h"
#include "analysis/page_style.h"
#include "analysis/spectrum.h"
#include "analysis/waveform.h"
#include "cli/options/cli_options.h"
#include "cli/common/diagnostics.h"
#include "cli/input/frame_source.h"
#include "cli/run/headless_window.h"
#include "cli/input/library_log.h"
#include "cli/output/page_picture.h"
#include "cli/live/live_window.h"
#include "cli/run/progress.h"
#include "cli/output/report.h"
#include "cli/run/run_observer.h"
#include "cli/output/sidecar.h"
#include "cli/input/stop.h"
#include "cli/results/summary.h"
#include "plugin/analysis_state.h"

namespace {

// A flagged input outweighs the other warnings, so that a collection sorts by status alone.
int Outweighed(int status, int flagged) {
  return status == kExitOk || (status >= kExitTruncated && status < kExitStopped) ? flagged : status;
}

// The status of several inputs with one more: an input that could not be analysed outweighs
// the warnings of the others, a flagged one the other warnings.
int WithInput(int status, int code) {
  const bool failed = code != kExitOk && code < kExitTruncated;
  if (status == kExitOk || (failed && status >= kExitTruncated)) status = code;
  return code == kExitFlagged ? Outweighed(status, code) : status;
}

// The verdict on the command line: where, how low, how many lost.
void WarnFlagged(const Timeline& t, const Verdict& v, const Thresholds& limits, Diagnostics& diag) {
  std::string text = t.input.empty() ? "the built-in signal" : "'" + t.input + "'";
  if (t.line >= 0) text += " line " + std::to_string(t.line);
  text += ": flagged";
  if (!v.segments.empty()) {
    char b[160];
    std::snprintf(b, sizeof b, ": %zu %s below %g dB:", v.segments.size(), v.segments.size() == 1 ? "segment" : "segments",
                  limits.minSnr);
    text += b;
    constexpr size_t kListed = 5;
    for (size_t i = 0; i < std::min(v.segments.size(), kListed); ++i) {
      const Segment& g = v.segments[i];
      std::snprintf(b, sizeof b, " %s-%s (worst %.2f dB %s)", Clock(g.start, true).c_str(), Clock(g.end, true).c_str(),
                    g.worst, t.channelNames[g.channel]);
      text += b + std::string(i + 1 < std::min(v.segments.size(), kListed) ? "," : "");
    }
    if (v.segments.size() > kListed) text += " and " + std::to_string(v.segments.size() - kListed) + " more";
  }
  if (v.tooManyDropped) {
    text += (v.segments.empty() ? ": " : "; ") + std::to_string(t.framesDropped) + " frames lost, more than --max-dropped " +
            std::to_string(limits.maxDropped);
  }
  diag.Warn(kExitFlagged, text);
}

// One analysed line: its own analysis state (the 50-frame rings), statistics and CSV columns.
struct LineRun {
  AnalysedLine line;
  AnalysisState state;
  RunSummary summary;
  double frameSnr[3] = {};  // the frame's own ratios, as the last frame measured them
  Timeline timeline;        // every frame's results, where the run keeps them
  TimelineRecorder recorder{&timeline};
  ~LineRun() { ReleaseStateBuffers(state); }
};

class Run {
 public:
  Run(const CliOptions& o, const RunSettings& rs, FrameSource& source, std::ostream& out, Diagnostics& diag,
      RunObserver* observer = nullptr)
      : o_(o), rs_(rs), source_(source), out_(out), diag_(diag), observer_(observer) {}
  // Several inputs in one CSV: each row starts with its input's name, and the header comes once,
  // before the first row of the first input that has one (a failed input writes nothing).
  void SetRowPrefix(const std::string& prefix, bool* headerPending) { rowPrefix_ = prefix, headerPending_ = headerPending; }
  // Several inputs into one picture folder: each input's pictures carry a name of their own.
  void SetPictureName(const std::string& name) { pictureName_ = name; }
  // Where the lines' results over time go when the run ends (the report's), and the sidecar.
  void SetTimelines(std::vector<Timeline>* timelines, const std::string& sidecarPath) {
    timelines_ = timelines, sidecarPath_ = sidecarPath;
  }

  int Execute(bool errIsTerminal);

 private:
  bool ChooseLines(std::vector<AnalysedLine>* lines);
  bool Analyse(InputFrame& frame, bool due, bool shown);
  void FollowWindow();
  void Measure(LineRun& l, HeadlessWindow& window, bool draw);
  bool WriteRow(const InputFrame& frame, const LineRun& l);
  void DrawPage(LineRun& l, HeadlessWindow& window, int page);
  bool WritePictures(const LineRun& l, HeadlessWindow& window, const std::string& suffix);
  bool Record(const InputFrame& frame);
  bool Conclude();

  const CliOptions& o_;
  const RunSettings& rs_;
  FrameSource& source_;
  std::ostream& out_;
  Diagnostics& diag_;
  RunObserver* observer_;
  std::string rowPrefix_;
  std::string pictureName_ = "lineview-";
  bool ownHeaderPending_ = true;
  bool* headerPending_ = &ownHeaderPending_;
  // In the order asked; analysed bottom row first, so that no line's red marker lies on a row
  // still to be sampled.
  std::vector<std::unique_ptr<LineRun>> lines_;
  std::vector<LineRun*> bottomUp_;
  bool lineColumns_ = false;  // several lines, or a field: each row says which
  bool fieldColumn_ = false, tvColumn_ = false;
  // The lines take turns in one window's canvases, each writing its pictures straight after
  // drawing them; the line the live window shows draws into a window of its own.
  HeadlessWindow window_, shownWindow_;
  std::unique_ptr<TextPainter> text_;
  std::vector<int> rows_;  // the rows analysed
  size_t shown_ = 0;       // the line the live window shows
  int64_t frames_ = 0;
  std::vector<Timeline>* timelines_ = nullptr;
  std::vector<const Timeline*> kept_;  // the lines' timelines, where the run keeps them
  std::string sidecarPath_;
  SidecarWriter sidecar_;
  bool flagged_ = false;
};

// Which rows: the settings' line as the plug-in takes it (moved into the frame with a warning),
// or the lines the command line names, refused where the frames do not hold them.
bool Run::ChooseLines(std::vector<AnalysedLine>* lines) {
  const LineRequest& r = o_.lines;
  const int height = source_.Height();
  lineColumns_ = r.numbers.size() > 1 || r.field != FieldChoice::None || r.tvLines;
  fieldColumn_ = r.field != FieldChoice::None || r.tvLines;
  tvColumn_ = lineColumns_ && TvLineOfRow(0, height) != 0;
  if (r.numbers.empty() && r.field == FieldChoice::None) {
    CheckLine(rs_.settings, height, diag_);
    // The frame path clamps a line above the frame; the plug-in's Configure lowers one below it.
    AnalysedLine l;
    l.row = std::clamp(rs_.settings.TVLine, 0, std::max(height - 1, 0));
    *lines = {l};
    return true;
  }
  LineRequest request = r;
  if (request.numbers.empty()) request.numbers = {std::max(rs_.settings.TVLine, 0)};
  std::string error, warning;
  if (!ResolveLines(request, height, source_.Fields(), lines, &error, &warning)) {
    diag_.Fail(kExitUsage, error);
    return false;
  }
  if (!warning.empty()) diag_.Stream() << "lineview: " << warning << '\n';
  return true;
}

// After the frame path has sampled a line (and marked it, and drawn the first selected page when
// a picture is due): the CSV needs the SNR whichever page is drawn, and --page all the other two
// pages: both come from the analyses the frame path calls, on the line it has just sampled.
void Run::Measure(LineRun& l, HeadlessWindow& window, bool draw) {
  AnalysisState& st = l.state;
  AnalysisSettings s = SnapshotSettings(st.liveSettings);
  if (!draw || s.Mode != ModeOscilloscope) {
    MeasureWaveform(s, st.width, st.channels, st.snrHistory, st.snrHistoryIndex, st.snrDisplay);
  }
  // The live window may show the other colour space: the CSV keeps the run's, measured last so
  // that snrDisplay holds its means.
  if ((s.ColorMode == 1) != (rs_.settings.ColorMode == 1)) {
    s.ColorMode = rs_.settings.ColorMode;
    MeasureWaveform(s, st.width, st.channels, st.snrHistory, st.snrHistoryIndex, st.snrDisplay);
  }
  if (draw) {
    for (size_t i = 1; i < rs_.pages.size(); ++i) DrawPage(l, window, rs_.pages[i]);
  }
  // The frame's own ratio per channel: the entry its measurement has just put into each ring.
  const int first = FirstChannel(rs_.settings);
  for (int c = 0; c < 3; ++c) {
    const int ch = first + c;
    l.frameSnr[c] = st.snrHistory[ch][(st.snrHistoryIndex[ch] + kSnrRingLength - 1) % kSnrRingLength];
  }
}

// Every line of one frame; a line's pictures, when due, are written as soon as it is drawn.
bool Run::Analyse(InputFrame& frame, bool due, bool shown) {
  FrameInfo info{};
  info.pixels = frame.pixels;
  for (LineRun* l : bottomUp_) {
    const bool showing = shown && l == lines_[shown_].get();
    HeadlessWindow& window = showing ? shownWindow_ : window_;
    window.SetDrawing(due || showing);
    ProcessFrameState(l->state, info, &window);
    Measure(*l, window, due || showing);
    if (due) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, "-%06lld", static_cast<long long>(frame.index));
      if (!WritePictures(*l, window, suffix)) return false;
    }
  }
  return true;
}

// The live window's page and colour space hold for every line; its line is the one analysed
// where there is one, and one of those shown where there are several.
void Run::FollowWindow() {
  AnalysisState& control = lines_.front()->state;
  if (lines_.size() == 1) {
    LineRun& l = *lines_.front();
    l.line.row = std::clamp(LoadSetting(control.liveSettings.TVLine), 0, std::max(source_.Height() - 1, 0));
    rows_ = {l.line.row};
  } else {
    const AnalysisSettings c = SnapshotSettings(control.liveSettings);
    for (const auto& l : lines_) {
      StoreSetting(l->state.liveSettings.Mode, c.Mode);
      StoreSetting(l->state.liveSettings.ColorMode, c.ColorMode);
    }
    const int row = observer_->ShownRow();
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i]->line.row == row) shown_ = i;
    }
  }
  source_.SetAnalysedRows(rows_);
  source_.SetPictureWanted(observer_->WantsPicture());
}

// One CSV row, and the header before the first; false once the output cannot be written.
bool Run::WriteRow(const InputFrame& frame, const LineRun& l) {
  errno = 0;
  if (*headerPending_) {
    *headerPending_ = false;
    const char* const* n = l.summary.channelNames;
    out_ << (rowPrefix_.empty() ? "" : "input,") << "frame,time," << (lineColumns_ ? "line," : "")
         << (fieldColumn_ ? "field," : "") << (tvColumn_ ? "tv_line," : "") << n[0] << ',' << n[1] << ',' << n[2]
         << ',' << n[0] << "_frame," << n[1] << "_frame," << n[2] << "_frame\n";
  }
  char row[256];
  int at = std::snprintf(row, sizeof row, "%lld,%.3f,", static_cast<long long>(frame.index), frame.seconds);
  if (lineColumns_) at += std::snprintf(row + at, sizeof row - at, "%d,", l.line.row);
  if (fieldColumn_) at += std::snprintf(row + at, sizeof row - at, "%s,", FieldName(l.line.field));
  if (tvColumn_) at += std::snprintf(row + at, sizeof row - at, "%d,", l.line.tvLine);
  // The 50-frame means exactly as the tool window shows them, then the frame's own ratios.
  std::snprintf(row + at, sizeof row - at, "%.2f,%.2f,%.2f,%.2f,%.2f,%.2f\n", l.state.snrDisplay[0],
                l.state.snrDisplay[1], l.state.snrDisplay[2], l.frameSnr[0], l.frameSnr[1], l.frameSnr[2]);
  out_ << rowPrefix_ << row;
  return static_cast<bool>(out_);
}

// The page's analysis on the line sampled last. Only the oscilloscope keeps anything across
// frames (its SNR rings), and it is drawn this way only after the last read-out is out.
void Run::DrawPage(LineRun& l, HeadlessWindow& window, int page) {
  RenderPage(l.state, SnapshotSettings(l.state.liveSettings), page, window.Canvas(page));
}

bool Run::WritePictures(const LineRun& l, HeadlessWindow& window, const std::string& suffix) {
  // Several lines: each picture names its line.
  const std::string line = lineColumns_ ? "line" + std::to_string(l.line.row) + "-" : "";
  for (int page : rs_.pages) {
    const Picture p = ComposePage(page, window.Canvas(page), rs_.settings, text_.get(), kPageWidth, kPageHeight);
    const std::string path = o_.pngDir + "/" + pictureName_ + line + PageName(page) + suffix + ".png";
    std::string error;
    if (!WritePng(p, path, &error)) {
      diag_.Fail(kExitFailure, "cannot write '" + path + "': " + error);
      return false;
    }
  }
  return true;
}

// The frame's results into each line's timeline, and into the sidecar as they come.
bool Run::Record(const InputFrame& frame) {
  if (kept_.empty()) return true;
  const int first = FirstChannel(rs_.settings);
  for (const auto& l : lines_) {
    TimelineFrame f;
    f.index = frame.index;
    f.seconds = frame.seconds;
    for (int c = 0; c < 3; ++c) f.snr[c] = l->frameSnr[c], f.mean[c] = l->state.snrDisplay[c];
    const int32_t* samples[3] = {l->state.channels[first], l->state.channels[first + 1], l->state.channels[first + 2]};
    l->recorder.Add(f, samples, l->state.width);
  }
  if (sidecarPath_.empty() || sidecar_.Frame(kept_, source_.Width(), source_.Height(), source_.FrameRate())) return true;
  diag_.Fail(kExitFailure, "cannot write '" + sidecarPath_ + "'");
  return false;
}

// The end of the reading, by the input's end or a stop: the verdicts, and the sidecar closed
// with what was analysed.
bool Run::Conclude() {
  for (const auto& l : lines_) {
    l->summary.framesDropped = l->timeline.framesDropped = source_.Dropped();
    l->summary.framesDamaged = l->timeline.framesDamaged = source_.Damaged();
    if (kept_.empty()) continue;
    l->recorder.Finish();
    l->summary.verdict = Judge(l->timeline, o_.limits);
    flagged_ = flagged_ || l->summary.verdict.flagged;
  }
  if (!sidecarPath_.empty() && !sidecar_.Finish(kept_, StopRequested() || source_.Interrupted())) {
    diag_.Fail(kExitFailure, "cannot write '" + sidecarPath_ + "'");
    return false;
  }
  return true;
}

int Run::Execute(bool errIsTerminal) {
  if (!o_.pngDir.empty()) {
    std::string error;
    text_ = CreateTextPainter(&error);
    if (!text_) diag_.Warn(kExitNoFont, error + ": pictures without axis labels");
  }

  std::vector<AnalysedLine> chosen;
  if (!ChooseLines(&chosen)) return kExitUsage;
  const bool yuv = rs_.settings.ColorMode == 1;
  static const char* const kRgb[3] = {"R", "G", "B"};
  static const char* const kYuv[3] = {"Y", "U", "V"};
  for (const AnalysedLine& line : chosen) {
    auto l = std::make_unique<LineRun>();
    l->line = line;
    l->state.liveSettings = rs_.settings;
    l->state.liveSettings.TVLine = line.row;
    if (rs_.pages.empty()) l->state.liveSettings.Mode = -1;  // the frame path then draws no page
    ConfigureState(l->state, FrameFormat{source_.Width(), source_.Height(), 0, source_.PixelFormat()});
    if (!l->state.BuffersReady()) return diag_.Fail(kExitFailure, "out of memory");
    for (int c = 0; c < 3; ++c) l->summary.channelNames[c] = l->timeline.channelNames[c] = yuv ? kYuv[c] : kRgb[c];
    l->summary.input = l->timeline.input = o_.input;
    if (lineColumns_) {
      l->summary.line = l->timeline.line = line.row;
      l->summary.field = l->timeline.field = fieldColumn_ ? line.field : -1;
      l->summary.tvLine = l->timeline.tvLine = line.tvLine;
    }
    l->timeline.settings = l->state.liveSettings;
    l->timeline.pages = rs_.pages;
    if (o_.KeepsTimeline()) kept_.push_back(&l->timeline);
    rows_.push_back(line.row);
    bottomUp_.push_back(l.get());
    lines_.push_back(std::move(l));
  }
  std::sort(bottomUp_.begin(), bottomUp_.end(), [](const LineRun* a, const LineRun* b) { return a->line.row > b->line.row; });
  source_.SetAnalysedRows(rows_);
  if (!sidecarPath_.empty()) {
    std::string error;
    if (!sidecar_.Open(sidecarPath_, &error)) return diag_.Fail(kExitFailure, error);
  }
  if (observer_) observer_->Started(lines_.front()->state, source_, rows_);

  int64_t expected = source_.ExpectedFrames();
  if (o_.maxFrames > 0 && (expected == 0 || expected > o_.maxFrames)) expected = o_.maxFrames;
  // Every FFmpeg message as it comes would land inside a progress line.
  ProgressBar progress(diag_, errIsTerminal && o_.progress && !o_.verbose, expected);

  InputFrame frame;
  // A stop (Ctrl-C, SIGTERM, the window's q) ends the reading here, and the outputs are
  // finished below as at the end of the input.
  for (;;) {
    if ((o_.maxFrames > 0 && frames_ >= o_.maxFrames) || StopRequested()) break;
    if (observer_) {
      if (!observer_->NextFrame()) break;
      FollowWindow();
    }
    if (!source_.Next(&frame)) break;
    const bool due = !o_.pngDir.empty() && o_.every > 0 && (frame.index + 1) % o_.every == 0;
    const bool showing = observer_ && observer_->ShowFrame(frame);
    if (!Analyse(frame, due, showing)) return kExitFailure;
    if (observer_) observer_->FrameAnalysed(frame, lines_[shown_]->state, showing ? shownWindow_ : window_, showing);
    ++frames_;
    if (!Record(frame)) return kExitFailure;
    for (const auto& l : lines_) {
      ++l->summary.framesAnalysed;
      for (int c = 0; c < 3; ++c) l->summary.channels[c].Add(l->frameSnr[c]);
      // A reader that has gone (a closed pipe) ends the run now, not at the end of the input.
      if (!o_.json && !WriteRow(frame, *l)) {
        const int e = errno;
        return diag_.Fail(kExitFailure,
                          "cannot write the output" + (e != 0 ? ": " + std::string(std::strerror(e)) : ""));
      }
    }
    progress.Update(frames_);
  }
  progress.Finish(frames_, !StopRequested() && !source_.Interrupted());
  if (!Conclude()) return kExitFailure;
  const int64_t undecoded = source_.Undecoded();
  if (frames_ == 0 && StopRequested()) return diag_.Fail(kExitStopped, "stopped before the first frame of '" + o_.input + "'");
  if (frames_ == 0 && o_.startSeconds > 0) {
    char start[32];
    std::snprintf(start, sizeof start, "%g", o_.startSeconds);
    return diag_.Fail(kExitCannotOpen, (o_.input.empty() ? std::string("the built-in signal") : "'" + o_.input + "'") +
                                           " has no frame at or after -ss " + start + " s");
  }
  if (frames_ == 0) {
    return diag_.Fail(kExitCannotOpen, "'" + o_.input + "': not one frame could be analysed (" +
                                           std::to_string(undecoded) + " could not be decoded or converted)");
  }
  ReportLibraryMessages(diag_.Stream());
  if (undecoded > 0) {
    diag_.Warn(kExitFramesDropped, std::to_string(undecoded) + (undecoded == 1 ? " frame" : " frames") + " of '" +
                                       o_.input + "' could not be decoded or converted: left out");
  }
  const int64_t damaged = source_.Damaged();
  if (damaged > 0) {
    diag_.Warn(kExitDamaged, std::to_string(damaged) + (damaged == 1 ? " frame" : " frames") + " of '" + o_.input +
                                 "' came with errors that the decoder concealed or flagged: analysed as decoded");
  }

  for (const auto& l : lines_) {
    if (l->summary.verdict.flagged) WarnFlagged(l->timeline, l->summary.verdict, o_.limits, diag_);
    if (!o_.pngDir.empty()) {
      // The pictures of the last frame, drawn now that it is known to be the last.
      window_.SetDrawing(true);
      for (int page : rs_.pages) DrawPage(*l, window_, page);
      if (!WritePictures(*l, window_, "")) return kExitFailure;
    }
    if (o_.json) out_ << SummaryJson(l->summary);
  }
  out_.flush();
  if (!out_) return diag_.Fail(kExitFailure, "cannot write the output");
  if (timelines_) {
    for (auto& l : lines_) timelines_->push_back(std::move(l->timeline));
  }
  return flagged_ ? Outweighed(diag_.Status(), kExitFlagged) : diag_.Status();
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
      // A summary that starts here ends the one before (one per line of a run of several).
      if (lineStart && c == '{' && !out.empty()) out += '\n';
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

// The start of an archive input's picture names: its file name, numbered where an earlier
// input had the same one.
std::string PictureName(const std::string& input, std::set<std::string>& used) {
  std::string base = input == "-" ? "stdin" : input.substr(input.find_last_of('/') + 1);
  for (char& c : base) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  if (base.empty()) base = "input";
  std::string name = base;
  for (int n = 2; !used.insert(name).second; ++n) name = base + "-" + std::to_string(n);
  return "lineview-" + name + "-";
}

// Where an input's sidecar goes; a second input of the same name in one folder gets NAME-2.
std::string UniqueSidecarPath(const CliOptions& o, const std::string& input, std::set<std::string>& used) {
  if (!o.sidecar) return "";
  const std::string path = SidecarPath(input, o.sidecarDir);
  const std::string stem = path.substr(0, path.size() - std::strlen(".lineview.xml.gz"));
  std::string unique = path;
  for (int n = 2; !used.insert(unique).second; ++n) unique = stem + "-" + std::to_string(n) + ".lineview.xml.gz";
  return unique;
}

// One input through its own run; `observer` watches it (the live window) or is null.
int RunInput(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
             bool errIsTerminal, const std::string& rowPrefix, bool* headerPending, RunObserver* observer,
             std::vector<Timeline>* timelines, const std::string& sidecarPath,
             const std::string& pictureName = "lineview-") {
  int exitCode = 0;
  std::unique_ptr<FrameSource> source = OpenFrameSource(options, diag, &exitCode);
  if (!source) return exitCode;
  Run run(options, settings, *source, out, diag, observer);
  if (headerPending) run.SetRowPrefix(rowPrefix, headerPending);
  run.SetPictureName(pictureName);
  run.SetTimelines(timelines, sidecarPath);
  return run.Execute(errIsTerminal);
}

// Several inputs, one after another: an archive. Each input's JSON summary on a line of its
// own (an input that fails: its error), or one CSV whose rows name their input. An input that
// fails is reported and skipped; an output that fails, or a stop, ends the whole run.
int RunArchive(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
               bool errIsTerminal, std::vector<Timeline>* timelines) {
  int status = kExitOk;
  bool headerPending = true;
  std::set<std::string> pictureNames, sidecars;
  for (const std::string& input : options.inputs) {
    if (StopRequested()) break;
    CliOptions one = options;
    one.input = input;
    const std::string pictures = PictureName(input, pictureNames);
    const std::string sidecar = UniqueSidecarPath(options, input, sidecars);
    int code = kExitOk;
    if (options.json) {
      std::ostringstream json;
      code = RunInput(one, settings, json, diag, errIsTerminal, "", nullptr, nullptr, timelines, sidecar, pictures);
      out << (json.str().empty() ? FailedInputJson(input, diag.LastError(), code) : CompactJson(json.str()) + '\n');
      out.flush();  // each line as soon as it is known: a reader that has gone is found now
    } else {
      code = RunInput(one, settings, out, diag, errIsTerminal, CsvField(input) + ",", &headerPending, nullptr,
                      timelines, sidecar, pictures);
    }
    if (code == kExitFailure) return code;  // an output that cannot be written: the rest would fail alike
    if (!out) return diag.Fail(kExitFailure, "cannot write the output");
    status = WithInput(status, code);
  }
  out.flush();
  if (!out) return diag.Fail(kExitFailure, "cannot write the output");
  return status;
}

// The verdicts, the summaries and (in the caller) the report of sidecars, without decoding:
// each file as its run left it, judged by this command line's thresholds.
int RunFromSidecars(const CliOptions& options, std::ostream& out, Diagnostics& diag, std::vector<Timeline>* timelines) {
  int status = kExitOk;
  for (const std::string& path : options.from) {
    std::vector<Timeline> lines;
    std::string error;
    int code = kExitOk;
    if (!ReadSidecar(path, &lines, &error)) {
      code = diag.Fail(kExitCannotOpen, error);
      if (options.json) out << FailedInputJson(path, error, code);
    }
    for (Timeline& t : lines) {
      const RunSummary summary = SummaryOf(t, options.limits);
      if (summary.verdict.flagged) {
        WarnFlagged(t, summary.verdict, options.limits, diag);
        code = kExitFlagged;
      }
      if (options.json) out << CompactJson(SummaryJson(summary)) << '\n';
      timelines->push_back(std::move(t));
    }
    out.flush();
    if (!out) return diag.Fail(kExitFailure, "cannot write the output");
    status = WithInput(status, code);
  }
  return status;
}

// --report and --plot over every timeline of the run (or of the sidecars read).
bool WriteReports(const CliOptions& options, const std::vector<Timeline>& timelines, Diagnostics& diag) {
  if (options.report.empty() && options.plot.empty()) return true;
  std::string error;
  std::unique_ptr<TextPainter> text = CreateTextPainter(&error);
  if (!text) diag.Warn(kExitNoFont, error + ": pictures without axis labels");
  ReportOptions ro;
  ro.limits = options.limits;
  ro.snrLow = options.snrLow, ro.snrHigh = options.snrHigh;
  if (!options.report.empty()) {
    const std::string page = ReportHtml(timelines, ro, text.get());
    std::ofstream f(options.report, std::ios::binary | std::ios::trunc);
    f << page;
    f.close();
    if (!f) {
      diag.Fail(kExitFailure, "cannot write '" + options.report + "': " + std::strerror(errno));
      return false;
    }
  }
  if (!options.plot.empty() && !WritePng(PlotPicture(timelines, ro, text.get()), options.plot, &error)) {
    diag.Fail(kExitFailure, "cannot write '" + options.plot + "': " + error);
    return false;
  }
  return true;
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
  InstallStopHandlers();
  const RunSettings settings = ResolveSettings(options, diag);
  if (!options.pngDir.empty() && !PrepareFolder(options.pngDir, diag)) return kExitFailure;
  if (!options.sidecarDir.empty() && !PrepareFolder(options.sidecarDir, diag)) return kExitFailure;
  std::vector<Timeline> timelines;
  std::vector<Timeline>* kept = options.report.empty() && options.plot.empty() ? nullptr : &timelines;
  int status = kExitOk;
  if (!options.from.empty()) {
    status = RunFromSidecars(options, out, diag, &timelines);
  } else if (options.inputs.size() > 1) {
    status = RunArchive(options, settings, out, diag, errIsTerminal, kept);
  } else {
    std::set<std::string> used;
    const std::string sidecar = UniqueSidecarPath(options, options.input, used);
    if (options.live) {
      status = RunLive(options, diag, [&](RunObserver* observer) {
        return RunInput(options, settings, out, diag, false, "", nullptr, observer, kept, sidecar);
      });
    } else {
      status = RunInput(options, settings, out, diag, errIsTerminal, "", nullptr, nullptr, kept, sidecar);
    }
  }
  if (status == kExitFailure || status == kExitUsage) return status;
  return WriteReports(options, timelines, diag) ? status : kExitFailure;
}
