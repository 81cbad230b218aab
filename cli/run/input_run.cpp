#include "cli/run/input_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/common/names.h"
#include "cli/input/frame_source.h"
#include "cli/input/library_log.h"
#include "cli/input/stop.h"
#include "cli/output/csv.h"
#include "cli/output/json.h"
#include "cli/output/page_picture.h"
#include "cli/output/sidecar_writer.h"
#include "cli/results/judge.h"
#include "cli/results/quiet_line.h"
#include "cli/results/recorder.h"
#include "cli/results/summary.h"
#include "cli/run/flag_warning.h"
#include "cli/run/headless_window.h"
#include "cli/run/luma_run.h"
#include "cli/run/progress.h"
#include "cli/run/run_observer.h"
#include "analysis/page_style.h"
#include "analysis/waveform.h"
#include "plugin/analysis_state.h"

namespace {

// One analysed line: its own analysis state (the 50-frame rings), statistics and CSV columns.
struct LineRun {
  AnalysedLine line;
  AnalysisState state;
  RunSummary summary;
  double frameSnr[3] = {};  // the frame's own ratios, as the last frame measured them
  double means[3] = {};     // the running read-outs: the tool window's 50-frame means, or a luminance method's
  LumaLineMeter luma;       // a luminance method's measurement, from the first frame on
  Timeline timeline;        // every frame's results, where the run keeps them
  TimelineRecorder recorder{&timeline};
  QuietLineCheck quiet;
  ~LineRun() { ReleaseStateBuffers(state); }
};

class Run {
 public:
  Run(const CliOptions& o, const RunSettings& rs, FrameSource& source, std::ostream& out, Diagnostics& diag,
      RunObserver* observer = nullptr)
      : o_(o), rs_(rs), source_(source), out_(out), diag_(diag), observer_(observer) {}
  // Several inputs in one CSV: each row starts with its input's name, and the header comes once,
  // before the first row of the first input that has one (a failed input writes nothing).
  void SetRowPrefix(const std::string& prefix, bool* headerPending) {
    rowPrefix_ = prefix, headerPending_ = headerPending, columns_.input = !prefix.empty();
  }
  // Several inputs into one picture folder: each input's pictures carry a name of their own.
  void SetPictureName(const std::string& name) { pictureName_ = name; }
  // Where the lines' results over time go when the run ends (the report's), and the sidecar.
  void SetTimelines(std::vector<Timeline>* timelines, const SidecarTarget& sidecar) {
    timelines_ = timelines, sidecarTarget_ = sidecar, sidecarPath_ = sidecar.path;
  }

  int Execute(bool errIsTerminal);
  int64_t FramesAnalysed() const { return frames_; }

 private:
  bool ChooseLines(std::vector<AnalysedLine>* lines);
  void AddOtherField(std::vector<AnalysedLine>* lines, int height);
  bool Analyse(InputFrame& frame, bool due, bool shown);
  void FollowWindow();
  void Measure(LineRun& l, HeadlessWindow& window, bool draw);
  int StartLuma(const InputFrame& frame);  // the luminance method, at the first frame (its depth and range)
  void MeasureLuma(LineRun& l, const InputFrame& frame);
  bool WriteRow(const InputFrame& frame, const LineRun& l);
  void DrawPage(LineRun& l, HeadlessWindow& window, int page);
  bool WritePictures(const LineRun& l, HeadlessWindow& window, const std::string& suffix);
  bool Record(const InputFrame& frame);
  bool Conclude();
  int SetUpLines();
  int ReadFrames(bool errIsTerminal);
  bool CountFrame(const InputFrame& frame, int* status);
  int CheckAnalysed();
  int FinishOutputs();

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
  CsvColumns columns_;
  // The lines take turns in one window's canvases, each writing its pictures straight after
  // drawing them; the line the live window shows draws into a window of its own.
  HeadlessWindow window_, shownWindow_;
  std::unique_ptr<TextPainter> text_;
  std::vector<int> rows_;  // the rows analysed
  std::vector<uint16_t> lumaFallback_;
  size_t shown_ = 0;       // the line the live window shows
  int64_t frames_ = 0;
  std::vector<Timeline>* timelines_ = nullptr;
  std::vector<const Timeline*> kept_;  // the lines' timelines, where the run keeps them
  SidecarTarget sidecarTarget_;
  std::string sidecarPath_;
  SidecarWriter sidecar_;
  bool flagged_ = false;
  bool pairedFields_ = false;  // two lines, the chosen row and the other field's next to it
};

// Which rows: the settings' line as the plug-in takes it (moved into the frame with a warning),
// or the lines the command line names, refused where the frames do not hold them.
bool Run::ChooseLines(std::vector<AnalysedLine>* lines) {
  const LineRequest& r = o_.lines;
  const int height = source_.Height();
  columns_.line = r.numbers.size() > 1 || r.field != FieldChoice::None || r.tvLines;
  columns_.field = r.field != FieldChoice::None || r.tvLines;
  columns_.tvLine = columns_.line && TvLineOfRow(0, height) != 0;
  if (r.numbers.empty() && r.field == FieldChoice::None) {
    CheckLine(rs_.settings, height, diag_);
    // The frame path clamps a line above the frame; the plug-in's Configure lowers one below it.
    AnalysedLine l;
    l.row = std::clamp(rs_.settings.TVLine, 0, std::max(height - 1, 0));
    *lines = {l};
    AddOtherField(lines, height);
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

// A judged run on interlaced input watches both fields: a fault of one video head (one field)
// would pass on a single row. Not in the live window, whose one line follows the window's.
void Run::AddOtherField(std::vector<AnalysedLine>* lines, int height) {
  const bool interlaced = o_.lines.order != FieldOrder::Unknown || source_.Fields() != FieldOrder::Unknown;
  if (std::isnan(o_.limits.minSnr) || !interlaced || observer_ != nullptr || height < 2) return;
  AnalysedLine& chosen = lines->front();
  AnalysedLine other;
  other.row = chosen.row + 1 < height ? chosen.row + 1 : chosen.row - 1;
  for (AnalysedLine* l : {&chosen, &other}) l->field = l->row % 2, l->tvLine = TvLineOfRow(l->row, height);
  lines->push_back(other);
  pairedFields_ = columns_.line = columns_.field = true;
  columns_.tvLine = TvLineOfRow(0, height) != 0;
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
    l.means[c] = st.snrDisplay[c];
  }
}

void Run::MeasureLuma(LineRun& l, const InputFrame& frame) {
  l.luma.Add(LumaSamples(frame, l.line.row, source_.Width(), l.luma.Method().bits, &lumaFallback_));
  l.frameSnr[0] = l.luma.FrameDb(), l.means[0] = l.luma.RunningDb();
  l.frameSnr[1] = l.frameSnr[2] = l.means[1] = l.means[2] = NAN;
}

int Run::StartLuma(const InputFrame& frame) {
  for (const auto& l : lines_) {
    SnrMethod m;
    const int status = ChooseSnrMethod(o_, source_, frame, l->summary.settings, &m, diag_);
    if (status != kExitOk) return status;
    l->luma = LumaLineMeter(m, source_.FrameRate());
    l->summary.method = l->timeline.method = m;
  }
  return kExitOk;
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
    if (o_.snrMethod != SnrLine) MeasureLuma(*l, frame);
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
    l.summary.line = l.line.row, l.summary.tvLine = TvLineOfRow(l.line.row, source_.Height());
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
    out_ << CsvHeader(columns_, l.summary.channelNames, l.summary.method.Channels());
  }
  out_ << rowPrefix_ << CsvRow(columns_, frame.index, frame.seconds, l.line, l.means, l.frameSnr,
                                 l.summary.method.Channels());
  return static_cast<bool>(out_);
}

// The page's analysis on the line sampled last. Only the oscilloscope keeps anything across
// frames (its SNR rings), and it is drawn this way only after the last read-out is out.
void Run::DrawPage(LineRun& l, HeadlessWindow& window, int page) {
  RenderPage(l.state, SnapshotSettings(l.state.liveSettings), page, window.Canvas(page));
}

bool Run::WritePictures(const LineRun& l, HeadlessWindow& window, const std::string& suffix) {
  // Several lines: each picture names its line.
  const std::string line = columns_.line ? "line" + std::to_string(l.line.row) + "-" : "";
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
    f.signature = frame.signature;
    for (int c = 0; c < 3; ++c) f.snr[c] = l->frameSnr[c], f.mean[c] = l->means[c];
    const int32_t* samples[3] = {l->state.channels[first], l->state.channels[first + 1], l->state.channels[first + 2]};
    l->recorder.Add(f, samples, l->state.width);
  }
  if (sidecarPath_.empty() || sidecar_.Frame(kept_, source_.Width(), source_.Height(), source_.FrameRate())) return true;
  diag_.Fail(kExitFailure, "cannot write '" + sidecarPath_ + "': " + sidecar_.Error());
  return false;
}

// The end of the reading, by the input's end or a stop: the verdicts, and the sidecar closed
// with what was analysed.
bool Run::Conclude() {
  const bool complete = !StopRequested() && !source_.Interrupted() && !source_.ReadFailed();
  for (const auto& l : lines_) {
    l->summary.framesDropped = l->timeline.framesDropped = source_.Dropped();
    l->summary.framesDamaged = l->timeline.framesDamaged = source_.Damaged();
    l->summary.dropped = l->timeline.dropped = source_.Gaps();
    l->timeline.complete = complete;
    l->summary.quietLine = l->timeline.quietLine = l->quiet.Quiet() ? 1 : 0;
    if (!kept_.empty()) l->recorder.Finish();
    // Without thresholds the timeline holds no frames: its verdict is then pass or incomplete.
    l->summary.verdict = Judge(l->timeline, o_.limits);
    flagged_ = flagged_ || l->summary.verdict.flagged;
  }
  if (!sidecarPath_.empty() && !sidecar_.Finish(kept_, !complete)) {
    diag_.Fail(kExitFailure, "cannot write '" + sidecarPath_ + "': " + sidecar_.Error());
    return false;
  }
  return true;
}

// One LineRun per chosen line, each with its own state configured for the input's frames.
int Run::SetUpLines() {
  std::vector<AnalysedLine> chosen;
  if (!ChooseLines(&chosen)) return kExitUsage;
  for (const AnalysedLine& line : chosen) {
    auto l = std::make_unique<LineRun>();
    l->line = line;
    l->state.liveSettings = rs_.settings;
    l->state.liveSettings.TVLine = line.row;
    if (rs_.pages.empty()) l->state.liveSettings.Mode = -1;  // the frame path then draws no page
    ConfigureState(l->state, FrameFormat{source_.Width(), source_.Height(), 0, source_.PixelFormat()});
    if (!l->state.BuffersReady()) return diag_.Fail(kExitFailure, "out of memory");
    l->summary.channelNames = l->timeline.channelNames = ChannelNames(rs_.settings.ColorMode);
    l->summary.input = l->timeline.input = o_.input;
    l->timeline.height = source_.Height();
    if (columns_.line) {
      l->summary.line = l->timeline.line = line.row;
      l->summary.field = l->timeline.field = columns_.field ? line.field : -1;
      l->summary.tvLine = l->timeline.tvLine = line.tvLine;
    }
    // What was measured, said in every summary: the row, its standard line where the height has one.
    l->summary.line = line.row;
    if (line.tvLine == 0) l->summary.tvLine = l->timeline.tvLine = TvLineOfRow(line.row, source_.Height());
    l->summary.settings = l->state.liveSettings;
    l->timeline.settings = l->state.liveSettings;
    l->timeline.pages = rs_.pages;
    if (o_.KeepsTimeline()) kept_.push_back(&l->timeline);
    rows_.push_back(line.row);
    bottomUp_.push_back(l.get());
    lines_.push_back(std::move(l));
  }
  std::sort(bottomUp_.begin(), bottomUp_.end(), [](const LineRun* a, const LineRun* b) { return a->line.row > b->line.row; });
  return kExitOk;
}

// The frame's statistics and CSV rows; false with *status once the output cannot be written.
bool Run::CountFrame(const InputFrame& frame, int* status) {
  for (const auto& l : lines_) {
    ++l->summary.framesAnalysed;
    const AnalysisSettings s = SnapshotSettings(l->state.liveSettings);
    const SnrInterval iv = WaveformInterval(l->state.width, s.StartCount, s.StopCount);
    const int first = FirstChannel(rs_.settings);
    const int32_t* samples[3] = {l->state.channels[first], l->state.channels[first + 1], l->state.channels[first + 2]};
    l->quiet.Add(samples, iv.first, iv.last);
    // As the sidecar stores them: a summary read back from it then gives the same figures.
    for (int c = 0; c < l->summary.method.Channels(); ++c) l->summary.channels[c].Add(Stored(l->frameSnr[c]));
    // A reader that has gone (a closed pipe) ends the run now, not at the end of the input.
    if (!o_.json && !WriteRow(frame, *l)) {
      const int e = errno;
      *status = diag_.Fail(kExitFailure, "cannot write the output" + (e != 0 ? ": " + std::string(std::strerror(e)) : ""));
      return false;
    }
  }
  return true;
}

// Frame after frame until the input ends, --frames is reached or a stop is asked (Ctrl-C,
// SIGTERM, the window's q); the outputs are then finished as at the end of the input.
// kExitOk, or the status of an output that failed.
int Run::ReadFrames(bool errIsTerminal) {
  int64_t expected = source_.ExpectedFrames();
  if (o_.maxFrames > 0 && (expected == 0 || expected > o_.maxFrames)) expected = o_.maxFrames;
  // Every FFmpeg message as it comes would land inside a progress line.
  ProgressBar progress(diag_, errIsTerminal && o_.progress && !o_.verbose, expected);
  InputFrame frame;
  for (;;) {
    if ((o_.maxFrames > 0 && frames_ >= o_.maxFrames) || StopRequested()) break;
    if (observer_) {
      if (!observer_->NextFrame()) break;
      FollowWindow();
    }
    if (!source_.Next(&frame)) break;
    const int started = frames_ == 0 && o_.snrMethod != SnrLine ? StartLuma(frame) : kExitOk;
    if (started != kExitOk) return started;
    const bool due = !o_.pngDir.empty() && o_.every > 0 && (frame.index + 1) % o_.every == 0;
    const bool showing = observer_ && observer_->ShowFrame(frame);
    if (!Analyse(frame, due, showing)) return kExitFailure;
    if (observer_ && o_.snrMethod != SnrLine) observer_->LumaMeasured(o_.snrMethod, lines_[shown_]->means[0]);
    if (observer_) observer_->FrameAnalysed(frame, lines_[shown_]->state, showing ? shownWindow_ : window_, showing);
    ++frames_;
    if (!Record(frame)) return kExitFailure;
    int status = kExitOk;
    if (!CountFrame(frame, &status)) return status;
    progress.Update(frames_);
  }
  progress.Finish(frames_, !StopRequested() && !source_.Interrupted());
  return kExitOk;
}

// An input that gave no frame fails; one that lost or damaged some is warned about. kExitOk
// when the outputs are to be finished.
int Run::CheckAnalysed() {
  const int64_t undecoded = source_.Undecoded();
  if (frames_ == 0 && StopRequested()) return diag_.Fail(kExitStopped, "stopped before the first frame of '" + o_.input + "'");
  if (frames_ == 0 && o_.startSeconds > 0) {
    char start[32];
    std::snprintf(start, sizeof start, " has no frame at or after -ss %g s", o_.startSeconds);
    return diag_.Fail(kExitCannotOpen, (o_.input.empty() ? std::string("the built-in signal") : "'" + o_.input + "'") + start);
  }
  if (frames_ == 0) {
    return diag_.Fail(kExitCannotOpen, "'" + o_.input + "': not one frame could be analysed (" +
                                           std::to_string(undecoded) + " could not be decoded or converted)");
  }
  ReportLibraryMessages(diag_.Stream());
  WarnLostFrames(source_.Undecoded(), source_.Gaps(), source_.Damaged(), lines_.front()->timeline, diag_);
  return kExitOk;
}

// The verdicts said, the pictures of the last frame and the JSON summaries written.
int Run::FinishOutputs() {
  for (const auto& l : lines_) {
    if (!l->summary.quietLine) WarnNotQuiet(l->timeline, l->quiet.TypicalRatio(), diag_);
    WarnAtFloor(l->timeline, l->summary.channels[0].PowerMean(), diag_);
    if (l->summary.verdict.flagged) WarnFlagged(l->timeline, l->summary.verdict, o_.limits, diag_);
    if (!o_.pngDir.empty()) {
      // The pictures of the last frame, drawn now that it is known to be the last.
      window_.SetDrawing(true);
      for (int page : rs_.pages) DrawPage(*l, window_, page);
      if (!WritePictures(*l, window_, "")) return kExitFailure;
    }
    if (o_.json && !pairedFields_) out_ << SummaryJson(l->summary);
  }
  if (o_.json && pairedFields_) out_ << FieldPairJson(lines_[0]->summary, lines_[1]->summary);
  out_.flush();
  if (!out_) return diag_.Fail(kExitFailure, "cannot write the output");
  if (timelines_) {
    for (auto& l : lines_) timelines_->push_back(std::move(l->timeline));
  }
  return flagged_ ? Outweighed(diag_.Status(), kExitFlagged) : diag_.Status();
}

int Run::Execute(bool errIsTerminal) {
  if (!o_.pngDir.empty()) {
    std::string error;
    text_ = CreateTextPainter(&error);
    if (!text_) diag_.Warn(kExitNoFont, error + ": pictures without axis labels");
  }
  const int lines = SetUpLines();
  if (lines != kExitOk) return lines;
  source_.SetAnalysedRows(rows_);
  source_.SetLumaWanted(o_.snrMethod != SnrLine);
  source_.SetSignatureWanted(!kept_.empty());
  if (!sidecarPath_.empty()) {
    std::string error;
    sidecar_.SetThresholds(o_.limits);
    if (!sidecar_.Open(sidecarTarget_, &error)) return diag_.Fail(kExitFailure, error);
  }
  if (observer_) observer_->Started(lines_.front()->state, source_, rows_);
  const int read = ReadFrames(errIsTerminal);
  if (read != kExitOk) return read;
  if (!Conclude()) return kExitFailure;
  const int analysed = CheckAnalysed();
  return analysed != kExitOk ? analysed : FinishOutputs();
}

}  // namespace

int RunInput(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
             bool errIsTerminal, const std::string& rowPrefix, bool* headerPending, RunObserver* observer,
             std::vector<Timeline>* timelines, const SidecarTarget& sidecarPath,
             const std::string& pictureName) {
  int exitCode = 0;
  std::unique_ptr<FrameSource> source = OpenFrameSource(options, diag, &exitCode);
  if (!source) return RecordNotAnalysed(options, settings, out, diag, exitCode, diag.LastError(), timelines, sidecarPath);
  Run run(options, settings, *source, out, diag, observer);
  if (headerPending) run.SetRowPrefix(rowPrefix, headerPending);
  run.SetPictureName(pictureName);
  run.SetTimelines(timelines, sidecarPath);
  const int code = run.Execute(errIsTerminal);
  if (run.FramesAnalysed() > 0 || code == kExitOk || code == kExitFailure) return code;
  return RecordNotAnalysed(options, settings, out, diag, code, diag.LastError(), timelines, sidecarPath);
}
