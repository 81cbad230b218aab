#include "cli/live/live_session.h"

#include <algorithm>

#include "cli/input/frame_convert.h"
#include "cli/run/headless_window.h"
#include "host/test_signals.h"
#include "plugin/analysis_state.h"
#include "plugin/host_contract.h"

LivePicture::LivePicture() : canvas(std::make_unique<PlotCanvas>(kCanvasWidth, kCanvasHeight)) {
  canvas->plotRect = kPagePlotRect;
}

void LivePicture::KeepPlanes(const FramePlanes& from, int height) {
  layout = from.layout;
  for (int i = 0; i < 3; ++i) {
    pitch[i] = i < PlaneCount(layout) ? from.pitch[i] : 0;
    plane[i].assign(from.data[i], from.data[i] + size_t(pitch[i]) * PlaneRows(layout, i, height));
  }
}

FramePlanes LivePicture::Planes() const {
  FramePlanes p;
  p.layout = layout;
  for (int i = 0; i < 3; ++i) p.data[i] = plane[i].data(), p.pitch[i] = pitch[i];
  return p;
}

bool LivePicture::ConvertPlanes(int width, int height, int pixelFormat) {
  clean.assign(FrameBytes(width, height, pixelFormat), 0);
  FrameConverter converter;
  return converter.Convert(ImageOf(Planes(), width, height), width, height, pixelFormat, {}, clean.data());
}

void LivePicture::TakeCanvas(HeadlessWindow& window, int mode) {
  if (mode < ModeOscilloscope || mode > ModeLevels) return;
  const PlotCanvas& c = window.Canvas(mode);
  std::copy(c.Pixels(), c.Pixels() + size_t(c.plotWidth) * c.plotHeight, canvas->Pixels());
}

// ---- the analysis thread ----

void LiveSession::Started(AnalysisState& state, FrameSource& source, const std::vector<int>& rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = &state;
  width_ = state.width;
  height_ = state.height;
  pixelFormat_ = state.pixelFormat;
  rows_ = rows;
  paced_ = pacingAllowed_ && source.IsRecording();
  frameSeconds_ = source.FrameRate() > 0 ? 1.0 / source.FrameRate() : 0.04;
  const AnalysisSettings s = SnapshotSettings(state.liveSettings);
  controls_.line = s.TVLine;
  if (rows.size() > 1) controls_.lines = rows;
  controls_.page = s.Mode;
  controls_.colorMode = s.ColorMode;
  runYuv_ = s.ColorMode == 1;
  started_ = true;
  Wake();
}

bool LiveSession::NextFrame() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    for (const std::string& n : notices_) diag_.Stream() << "lineview: frame " << analysed_ << ": " << n << '\n';
    if (!notices_.empty()) diag_.Stream().flush();
    notices_.clear();
    if (controls_.lines.size() <= 1) StoreSetting(state_->liveSettings.TVLine, controls_.line);
    StoreSetting(state_->liveSettings.Mode, controls_.page);
    StoreSetting(state_->liveSettings.ColorMode, controls_.colorMode);
    if (quit_) return false;
    if (!controls_.paused) break;
    clockSet_ = false;  // after a pause the clock starts again from the next frame
    changed_.wait(lock);
  }
  // A picture needs the whole frame; the analysis alone, the line. The window usually takes
  // the picture just handed over while this frame is read: only when it still holds an
  // older one is it left to catch up.
  wantPicture_ = !backFull_ || handedAt_ == analysed_;
  shownRow_ = controls_.line;
  return true;
}

bool LiveSession::ShowFrame(const InputFrame& frame) {
  const bool shown = Due(frame);
  // Before the frame path marks the line in it: the back picture is the analysis's own.
  if (shown && frame.planes.layout != FramePlanes::None) {
    back_.KeepPlanes(frame.planes, height_);
    back_.clean.clear();
  } else if (shown) {
    back_.layout = FramePlanes::None;
    back_.clean.assign(frame.pixels, frame.pixels + FrameBytes(width_, height_, pixelFormat_));
  }
  return shown;
}

void LiveSession::FrameAnalysed(const InputFrame& frame, AnalysisState& state, HeadlessWindow& window, bool shown) {
  ++analysed_;
  // The frame has been measured in the colour space it is shown in and in the CSV's.
  const bool yuv = LoadSetting(state.liveSettings.ColorMode) == 1;
  ++measured_[yuv];
  if (yuv != runYuv_) ++measured_[runYuv_];
  if (!shown) {
    ++skipped_;
    return;
  }
  // The back picture is the analysis's own until it is marked full.
  LivePicture& p = back_;
  p.settings = SnapshotSettings(state.liveSettings);
  if (p.layout == FramePlanes::None) {
    p.pixels.assign(frame.pixels, frame.pixels + FrameBytes(state.width, state.height, state.pixelFormat));
  } else {
    // The frame holds only the rows analysed: the planes are shown, marked where it is.
    p.pixels.clear();
    p.marks = rows_.size() > 1 ? rows_ : std::vector<int>{std::clamp(p.settings.TVLine, 0, std::max(height_ - 1, 0))};
  }
  p.TakeCanvas(window, p.settings.Mode);
  p.frames = LiveReadouts(state.snrHistory, p.settings.ColorMode, measured_[p.settings.ColorMode == 1], p.snr);
  p.snrMethod = lumaKind_;
  if (lumaKind_ != 0) p.snr[0] = lumaDb_, p.snr[1] = p.snr[2] = NAN;
  p.index = frame.index;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    backFull_ = true;
    handedAt_ = analysed_;
  }
  Wake();
}

void LiveSession::Finished(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  status_ = status;
  state_ = nullptr;
  Wake();
}

bool LiveSession::Due(const InputFrame& frame) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!paced_) return wantPicture_ && !backFull_;
  const Clock::time_point now = Clock::now();
  const auto at = [&](double seconds) {
    return origin_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  };
  // Far behind (a slow start, a stall): the clock restarts rather than rushing to catch up.
  if (!clockSet_ || now - at(frame.seconds) > std::chrono::milliseconds(100)) {
    origin_ = now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(frame.seconds));
    clockSet_ = true;
  }
  const Clock::time_point due = at(frame.seconds);
  changed_.wait_until(lock, due, [this] { return quit_; });
  // When the next frame is already due, this one is analysed without its picture.
  return wantPicture_ && !backFull_ && Clock::now() <= at(frame.seconds + frameSeconds_);
}

// ---- the window thread ----

bool LiveSession::IsStarted(int* width, int* height, int* pixelFormat, LiveControls* controls) {
  std::lock_guard<std::mutex> lock(mutex_);
  *width = width_, *height = height_, *pixelFormat = pixelFormat_, *controls = controls_;
  return started_;
}

bool LiveSession::IsFinished(int* status) {
  std::lock_guard<std::mutex> lock(mutex_);
  *status = status_;
  return finished_;
}

bool LiveSession::Take(LivePicture& front) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!backFull_) return false;
  std::swap(front, back_);
  backFull_ = false;
  return true;
}

void LiveSession::Change(const LiveControls& controls, const std::string& notice) {
  std::lock_guard<std::mutex> lock(mutex_);
  controls_ = controls;
  Notice(notice);
  changed_.notify_all();
}

void LiveSession::Notice(const std::string& text) {
  if (text.empty()) return;
  // Once the analysis is over nobody else writes to stderr.
  if (finished_) {
    diag_.Stream() << "lineview: " << text << '\n';
    diag_.Stream().flush();
  } else {
    notices_.push_back(text);
  }
}

void LiveSession::NoticeLocked(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Notice(text);
  changed_.notify_all();
}

void LiveSession::Quit() {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  changed_.notify_all();
}
