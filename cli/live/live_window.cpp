#include "cli/live/live_window.h"

#include <SDL.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "cli/input/frame_source.h"
#include "cli/run/headless_window.h"
#include "analysis/waveform.h"
#include "cli/run/run_observer.h"
#include "cli/input/stop.h"
#include "analysis/line_sampling.h"
#include "host/test_signals.h"
#include "plugin/analysis_state.h"

// ---- the window ----

struct LiveDisplay::Impl {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* frame = nullptr;
  SDL_Texture* panel = nullptr;
  // The decoder's planes, one texture per layout met (made when first needed).
  SDL_Texture* planeTextures[4] = {};
  SDL_Texture* shown = nullptr;  // the texture the picture comes from now
  std::vector<int> marks;        // rows marked over the planes' picture (a BGR24 run: drawn over it)
  std::vector<uint8_t> markRows[3];  // marked copies of the rows around a mark, as uploaded

  // The analysed rows and the rows below them tinted as the frame path tints a YUY2 frame, in
  // copies of the rows around them (whole chroma rows), uploaded over the planes just shown.
  void UploadMarks(SDL_Texture* t, const FramePlanes& p) {
    const MarkOffsets o = OffsetsOf(kMarkerColor);
    const int tinted = frameWidth / 4 * 4;  // the marker works in whole groups of four pixels
    const auto add = [](uint8_t* from, uint8_t* to, int d, int step) {
      for (uint8_t* v = from; v < to; v += step) *v = static_cast<uint8_t>(std::clamp(*v + d, 0, 255));
    };
    for (int r : marks) {
      const int y0 = std::clamp(r, 0, frameHeight) & ~1, y1 = std::min((r + 3) & ~1, frameHeight);
      if (y1 <= y0) continue;
      const SDL_Rect rect{0, y0, frameWidth, y1 - y0};
      const int planes = p.layout == FramePlanes::Yuy2 ? 1 : p.layout == FramePlanes::Nv12 ? 2 : 3;
      for (int i = 0; i < planes; ++i) {
        const int first = i == 0 ? y0 : y0 / 2, count = i == 0 ? y1 - y0 : (y1 - y0) / 2;
        markRows[i].assign(p.data[i] + size_t(first) * p.pitch[i], p.data[i] + size_t(first + count) * p.pitch[i]);
      }
      for (int y = std::max(r, 0); y < std::min(r + 2, y1); ++y) {
        uint8_t* row = markRows[0].data() + size_t(y - y0) * p.pitch[0];
        if (p.layout == FramePlanes::Yuy2) {
          MarkLineYuy2(row, frameWidth, 1, 0, kMarkerColor);
        } else {
          add(row, row + tinted, o.dY, 1);
        }
      }
      if (p.layout == FramePlanes::Yuy2) {
        SDL_UpdateTexture(t, &rect, markRows[0].data(), p.pitch[0]);
        continue;
      }
      // Halved chroma: each of its rows is shared with a row not marked, as 4:2:0 has it.
      for (int y = 0; y < (y1 - y0) / 2; ++y) {
        if (p.layout == FramePlanes::Nv12) {
          uint8_t* uv = markRows[1].data() + size_t(y) * p.pitch[1];
          add(uv, uv + tinted, o.dU, 2), add(uv + 1, uv + tinted, o.dV, 2);
        } else {
          uint8_t* u = markRows[1].data() + size_t(y) * p.pitch[1];
          uint8_t* v = markRows[2].data() + size_t(y) * p.pitch[2];
          add(u, u + tinted / 2, o.dU, 1), add(v, v + tinted / 2, o.dV, 1);
        }
      }
      if (p.layout == FramePlanes::Nv12) {
        SDL_UpdateNVTexture(t, &rect, markRows[0].data(), p.pitch[0], markRows[1].data(), p.pitch[1]);
      } else {
        SDL_UpdateYUVTexture(t, &rect, markRows[0].data(), p.pitch[0], markRows[1].data(), p.pitch[1],
                             markRows[2].data(), p.pitch[2]);
      }
    }
  }
  int frameWidth = 0, frameHeight = 0, pixelFormat = 0;
  int texturePitch = 0;
  std::vector<uint8_t> upload;  // the frame as the texture's rows take it, when they differ from the frame's
  Picture panelPicture;
  std::optional<AnalysisSettings> panelSettings;  // the settings the panel's labels were drawn for
  std::unique_ptr<TextPainter> labels, value, name;

  void UploadPanel(const PlotCanvas& canvas, const AnalysisSettings& s, const double snr[3], const std::string& status) {
    const bool labelsChanged = !panelSettings || std::memcmp(&*panelSettings, &s, sizeof s) != 0;
    panelSettings = s;
    ComposePanel(panelPicture, canvas, s, snr, status, PanelText{labels.get(), value.get(), name.get()}, labelsChanged);
    // The panel's words are 0x00RRGGBB: SDL's RGB888 exactly. With the labels unchanged only the
    // canvas and the read-outs below the page are new.
    const int pitch = panelPicture.width * 4;
    if (labelsChanged) {
      SDL_UpdateTexture(panel, nullptr, panelPicture.pixels.data(), pitch);
      return;
    }
    const PlotRect& r = canvas.plotRect;
    const SDL_Rect page{r.left, r.top, std::min(canvas.plotWidth, kPanelWidth - r.left),
                        std::min(canvas.plotHeight, kPanelHeight - r.top)};
    const SDL_Rect readouts{0, kPageHeight + 3, kPanelWidth, kPanelHeight - kPageHeight - 3};
    for (const SDL_Rect& u : {page, readouts}) {
      if (u.w <= 0 || u.h <= 0) continue;
      SDL_UpdateTexture(panel, &u, panelPicture.pixels.data() + size_t(u.y) * panelPicture.width + u.x, pitch);
    }
  }

  // The texture for planes of `layout`, made at the first frame of it; null when SDL has none.
  SDL_Texture* PlaneTexture(FramePlanes::Layout layout) {
    SDL_Texture*& t = planeTextures[layout];
    if (t == nullptr) {
      const Uint32 format = layout == FramePlanes::Iyuv   ? SDL_PIXELFORMAT_IYUV
                            : layout == FramePlanes::Nv12 ? SDL_PIXELFORMAT_NV12
                                                          : SDL_PIXELFORMAT_YUY2;
      SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
      t = SDL_CreateTexture(renderer, format, SDL_TEXTUREACCESS_STREAMING, frameWidth, frameHeight);
    }
    return t;
  }

  // The frame's rows top-down at the texture's pitch: the frame itself when they are so already.
  const uint8_t* TextureRows(const uint8_t* pixels) {
    const bool bgr = pixelFormat == PixelFormatBgr24;
    const size_t rowBytes = size_t(frameWidth) * (bgr ? 3 : 2);
    if (!bgr && rowBytes == size_t(texturePitch)) return pixels;
    upload.resize(size_t(texturePitch) * frameHeight);
    for (int y = 0; y < frameHeight; ++y) {
      // The plug-in's BGR24 frames are bottom-up.
      const uint8_t* from = pixels + (bgr ? frameHeight - 1 - y : y) * rowBytes;
      uint8_t* to = upload.data() + size_t(y) * texturePitch;
      std::memcpy(to, from, rowBytes);
      if (!bgr) {
        // The odd column's pair: its Y again, and the V of the pair before (none: grey).
        to[rowBytes] = to[rowBytes - 2];
        to[rowBytes + 1] = frameWidth >= 3 ? to[rowBytes - 3] : 128;
      }
    }
    return upload.data();
  }

  void Render() {
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(renderer, &w, &h);
    const LiveLayout l = LayoutWindow(w, h, frameWidth, frameHeight);
    SDL_SetRenderDrawColor(renderer, 0x30, 0x30, 0x30, 0xFF);
    SDL_RenderClear(renderer);
    const SDL_Rect picture{l.picture.x, l.picture.y, l.picture.w, l.picture.h};
    const SDL_Rect panelRect{l.panel.x, l.panel.y, l.panel.w, l.panel.h};
    const SDL_Rect columns{0, 0, frameWidth, frameHeight};  // not the YUY2 texture's padding column
    SDL_Texture* source = shown != nullptr ? shown : frame;
    // At its own size the picture needs no filtering, which costs a software renderer dearly.
    SDL_SetTextureScaleMode(source, picture.w == frameWidth && picture.h == frameHeight ? SDL_ScaleModeNearest
                                                                                         : SDL_ScaleModeLinear);
    SDL_RenderCopy(renderer, source, &columns, &picture);
    if (shown != nullptr && shown != frame && frameHeight > 0 && pixelFormat == PixelFormatBgr24) {
      // A BGR24 run's marker is red itself: drawn over the planes' picture as the frame path paints it.
      SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
      SDL_SetRenderDrawColor(renderer, 0xFF, 0x00, 0x00, 0xFF);
      for (int row : marks) {
        const int top = l.picture.y + static_cast<int>(int64_t(row) * l.picture.h / frameHeight);
        const int bottom = l.picture.y + static_cast<int>(int64_t(std::min(row + 2, frameHeight)) * l.picture.h / frameHeight);
        const SDL_Rect band{l.picture.x, top, l.picture.w, std::max(bottom - top, 1)};
        SDL_RenderFillRect(renderer, &band);
      }
      SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
    }
    SDL_RenderCopy(renderer, panel, nullptr, &panelRect);
  }
};

LiveDisplay::LiveDisplay() : impl_(new Impl) {}

LiveDisplay::~LiveDisplay() {
  if (impl_->frame) SDL_DestroyTexture(impl_->frame);
  for (SDL_Texture* t : impl_->planeTextures) {
    if (t) SDL_DestroyTexture(t);
  }
  if (impl_->panel) SDL_DestroyTexture(impl_->panel);
  if (impl_->renderer) SDL_DestroyRenderer(impl_->renderer);
  if (impl_->window) SDL_DestroyWindow(impl_->window);
  delete impl_;
}

bool LiveDisplay::Open(int frameWidth, int frameHeight, int pixelFormat, const std::string& title, std::string* error) {
  Impl& d = *impl_;
  d.frameWidth = frameWidth;
  d.frameHeight = frameHeight;
  d.pixelFormat = pixelFormat;
  int w = 0, h = 0;
  DefaultWindowSize(frameWidth, frameHeight, &w, &h);
  d.window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h,
                              SDL_WINDOW_RESIZABLE);
  if (d.window) d.renderer = SDL_CreateRenderer(d.window, -1, 0);
  if (!d.renderer) {
    *error = SDL_GetError();
    return false;
  }
  SDL_SetWindowMinimumSize(d.window, kPanelWidth + 160, kPanelHeight);
  // The frames are BT.601, as swscale converts them and the plug-in's marker assumes.
  SDL_SetYUVConversionMode(SDL_YUV_CONVERSION_BT601);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  // SDL's YUY2 rows are whole pixel pairs: an odd width gets a texture one column wider.
  const bool bgr = pixelFormat == PixelFormatBgr24;
  const int textureWidth = bgr ? frameWidth : (frameWidth + 1) / 2 * 2;
  d.texturePitch = bgr ? frameWidth * 3 : textureWidth * 2;
  d.frame = SDL_CreateTexture(d.renderer, bgr ? SDL_PIXELFORMAT_BGR24 : SDL_PIXELFORMAT_YUY2,
                              SDL_TEXTUREACCESS_STREAMING, textureWidth, frameHeight);
  // The panel is shown at its size: nearest keeps it pixel for pixel.
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
  d.panel = SDL_CreateTexture(d.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, kPanelWidth, kPanelHeight);
  if (!d.frame || !d.panel) {
    *error = SDL_GetError();
    return false;
  }
  std::string fontError;
  d.labels = CreateTextPainter(&fontError);
  d.value = CreateTextPainter(&fontError, 60);
  d.name = CreateTextPainter(&fontError, 18);
  if (!d.labels) *error = fontError;  // a warning: the window works without words
  return true;
}

void LiveDisplay::SetTitle(const std::string& title) { SDL_SetWindowTitle(impl_->window, title.c_str()); }

void LiveDisplay::Show(const uint8_t* pixels, const PlotCanvas& canvas, const AnalysisSettings& s, const double snr[3],
                       const std::string& status) {
  Impl& d = *impl_;
  SDL_UpdateTexture(d.frame, nullptr, d.TextureRows(pixels), d.texturePitch);
  d.shown = d.frame;
  ShowStatus(canvas, s, snr, status);
}

void LiveDisplay::ShowPlanes(const FramePlanes& planes, const std::vector<int>& marks, const PlotCanvas& canvas,
                             const AnalysisSettings& s, const double snr[3], const std::string& status) {
  Impl& d = *impl_;
  SDL_Texture* t = planes.layout == FramePlanes::None ? nullptr : d.PlaneTexture(planes.layout);
  if (t == nullptr) return ShowStatus(canvas, s, snr, status);  // nothing to show it with: the panel goes on
  if (planes.layout == FramePlanes::Iyuv) {
    SDL_UpdateYUVTexture(t, nullptr, planes.data[0], planes.pitch[0], planes.data[1], planes.pitch[1], planes.data[2],
                         planes.pitch[2]);
  } else if (planes.layout == FramePlanes::Nv12) {
    SDL_UpdateNVTexture(t, nullptr, planes.data[0], planes.pitch[0], planes.data[1], planes.pitch[1]);
  } else {
    SDL_UpdateTexture(t, nullptr, planes.data[0], planes.pitch[0]);
  }
  d.shown = t;
  d.marks = marks;
  if (d.pixelFormat != PixelFormatBgr24) d.UploadMarks(t, planes);
  ShowStatus(canvas, s, snr, status);
}

void LiveDisplay::ShowStatus(const PlotCanvas& canvas, const AnalysisSettings& s, const double snr[3],
                             const std::string& status) {
  impl_->UploadPanel(canvas, s, snr, status);
  Redraw();
}

void LiveDisplay::Redraw() {
  impl_->Render();
  SDL_RenderPresent(impl_->renderer);
}

bool LiveDisplay::Save(const std::string& path, std::string* error) {
  Impl& d = *impl_;
  d.Render();  // the back buffer is undefined after a present: draw it again and read it before the next
  Picture p;
  SDL_GetRendererOutputSize(d.renderer, &p.width, &p.height);
  p.pixels.resize(size_t(p.width) * p.height);
  const bool read = SDL_RenderReadPixels(d.renderer, nullptr, SDL_PIXELFORMAT_RGB888, p.pixels.data(), p.width * 4) == 0;
  SDL_RenderPresent(d.renderer);
  if (!read) {
    *error = SDL_GetError();
    return false;
  }
  for (uint32_t& px : p.pixels) px &= 0xFFFFFF;
  return WritePng(p, path, error);
}

LiveLayout LiveDisplay::Layout() const {
  int w = 0, h = 0;
  SDL_GetRendererOutputSize(impl_->renderer, &w, &h);
  return LayoutWindow(w, h, impl_->frameWidth, impl_->frameHeight);
}

namespace {

using Clock = std::chrono::steady_clock;

// One analysed frame as the window shows it.
struct LivePicture {
  std::vector<uint8_t> pixels;  // with the line marked
  std::vector<uint8_t> clean;   // as read, for an analysis again with other controls
  // Or the decoder's planes as they came (unmarked), with the rows to mark over them.
  FramePlanes::Layout layout = FramePlanes::None;
  std::vector<uint8_t> plane[3];
  int pitch[3] = {};
  std::vector<int> marks;
  std::unique_ptr<PlotCanvas> canvas = std::make_unique<PlotCanvas>(kCanvasWidth, kCanvasHeight);
  AnalysisSettings settings{};
  double snr[3] = {};
  int frames = 0;  // how many frames the read-outs are the mean of
  int64_t index = -1;

  LivePicture() { canvas->plotRect = kPagePlotRect; }

  void KeepPlanes(const FramePlanes& from, int height) {
    layout = from.layout;
    const int planes = layout == FramePlanes::Yuy2 ? 1 : layout == FramePlanes::Nv12 ? 2 : 3;
    for (int i = 0; i < 3; ++i) {
      const int rows = i == 0 ? height : (height + 1) / 2;
      pitch[i] = i < planes ? from.pitch[i] : 0;
      plane[i].assign(from.data[i], from.data[i] + (i < planes ? size_t(pitch[i]) * rows : 0));
    }
  }
  FramePlanes Planes() const {
    FramePlanes p;
    p.layout = layout;
    for (int i = 0; i < 3; ++i) p.data[i] = plane[i].data(), p.pitch[i] = pitch[i];
    return p;
  }
  // The kept planes in the analysis's layout, for an analysis again.
  bool ConvertPlanes(int width, int height, int pixelFormat) {
    static const AVPixelFormat kFrom[] = {AV_PIX_FMT_NONE, AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12, AV_PIX_FMT_YUYV422};
    const bool bgr = pixelFormat == PixelFormatBgr24;
    SwsContext* sws = sws_getContext(width, height, kFrom[layout], width, height, bgr ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUYV422,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (sws == nullptr) return false;
    const int rowBytes = width * (bgr ? 3 : 2);
    clean.assign(FrameBytes(width, height, pixelFormat) + 64, 0);
    const uint8_t* src[4] = {plane[0].data(), plane[1].data(), plane[2].data(), nullptr};
    // The plug-in's BGR24 frames are bottom-up: written from the last row, upwards.
    uint8_t* dst[4] = {clean.data() + (bgr ? size_t(height - 1) * rowBytes : 0), nullptr, nullptr, nullptr};
    int dstStride[4] = {bgr ? -rowBytes : rowBytes, 0, 0, 0};
    const bool ok = sws_scale(sws, src, pitch, 0, height, dst, dstStride) == height;
    sws_freeContext(sws);
    clean.resize(FrameBytes(width, height, pixelFormat));
    return ok;
  }
};

// What the analysis thread and the window thread share, each field under `mutex_`. The
// analysis applies the window's controls between frames, as the frame path reads the tool
// window's settings once per frame, and prints the window's notices then, naming the frame
// from which they hold.
class LiveSession final : public RunObserver {
 public:
  LiveSession(const CliOptions& o, Diagnostics& diag, Uint32 wakeEvent)
      : pacingAllowed_(o.pacing), diag_(diag), wakeEvent_(wakeEvent) {}

  // ---- the analysis thread ----

  void Started(AnalysisState& state, FrameSource& source, const std::vector<int>& rows) override {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = &state;
    source_ = &source;
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

  bool NextFrame() override {
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

  bool WantsPicture() const override { return wantPicture_; }
  int ShownRow() const override { return shownRow_; }

  bool ShowFrame(const InputFrame& frame) override {
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

  void FrameAnalysed(const InputFrame& frame, AnalysisState& state, HeadlessWindow& window, bool shown) override {
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
    if (p.settings.Mode >= ModeOscilloscope && p.settings.Mode <= ModeLevels) {
      const PlotCanvas& c = window.Canvas(p.settings.Mode);
      std::copy(c.Pixels(), c.Pixels() + size_t(c.plotWidth) * c.plotHeight, p.canvas->Pixels());
    }
    p.frames = LiveReadouts(state.snrHistory, p.settings.ColorMode, measured_[p.settings.ColorMode == 1], p.snr);
    p.index = frame.index;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      backFull_ = true;
      handedAt_ = analysed_;
    }
    Wake();
  }

  void Finished(int status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    status_ = status;
    state_ = nullptr;
    Wake();
  }

 private:
  // Whether the frame gets a picture; a paced frame waits here for its time.
  bool Due(const InputFrame& frame) {
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

 public:
  // ---- the window thread ----

  bool IsStarted(int* width, int* height, int* pixelFormat, LiveControls* controls) {
    std::lock_guard<std::mutex> lock(mutex_);
    *width = width_, *height = height_, *pixelFormat = pixelFormat_, *controls = controls_;
    return started_;
  }
  bool IsFinished(int* status) {
    std::lock_guard<std::mutex> lock(mutex_);
    *status = status_;
    return finished_;
  }
  // Swaps in the newest picture; false when there is none.
  bool Take(LivePicture& front) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!backFull_) return false;
    std::swap(front, back_);
    backFull_ = false;
    return true;
  }
  void Change(const LiveControls& controls, const std::string& notice) {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_ = controls;
    Notice(notice);
    changed_.notify_all();
  }
  void Notice(const std::string& text) {
    if (text.empty()) return;
    // Once the analysis is over nobody else writes to stderr.
    if (finished_) {
      diag_.Stream() << "lineview: " << text << '\n';
      diag_.Stream().flush();
    } else {
      notices_.push_back(text);
    }
  }
  void NoticeLocked(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Notice(text);
    changed_.notify_all();
  }
  void Quit() {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    changed_.notify_all();
  }
  // After the analysis thread has ended.
  int64_t Analysed() const { return analysed_; }
  int64_t Skipped() const { return skipped_; }

 private:
  void Wake() {
    SDL_Event e{};
    e.type = wakeEvent_;
    SDL_PushEvent(&e);
  }

  const bool pacingAllowed_;
  Diagnostics& diag_;
  const Uint32 wakeEvent_;

  std::mutex mutex_;
  std::condition_variable changed_;
  AnalysisState* state_ = nullptr;
  FrameSource* source_ = nullptr;
  int width_ = 0, height_ = 0, pixelFormat_ = 0;
  std::vector<int> rows_;  // the rows analysed
  bool started_ = false, finished_ = false, quit_ = false;
  int status_ = kExitOk;
  LiveControls controls_;
  std::vector<std::string> notices_;
  bool backFull_ = false;
  LivePicture back_;

  // The analysis thread's own.
  bool paced_ = false;
  double frameSeconds_ = 0.04;
  bool clockSet_ = false;
  Clock::time_point origin_;
  bool wantPicture_ = false;
  int shownRow_ = 0;
  int64_t handedAt_ = -1;  // analysed_ when the back picture was handed over
  int64_t analysed_ = 0;
  int64_t skipped_ = 0;
  bool runYuv_ = false;             // the CSV's colour space
  int64_t measured_[2] = {0, 0};  // frames measured in RGB, in YUV
};

// The window thread: opens the window once the input is open, shows every picture it is
// handed, answers keys and clicks.
class LiveLoop {
 public:
  LiveLoop(const CliOptions& o, LiveSession& session)
      : o_(o), session_(session), name_(LiveInputName(o.input, o.format)) {}

  // False when the window could not be opened (reported).
  bool Run() {
    for (;;) {
      SDL_Event e;
      const bool got = SDL_WaitEventTimeout(&e, 100) != 0;
      if (got) Handle(e);
      while (!quit_ && SDL_PollEvent(&e)) Handle(e);
      if (quit_ || StopRequested()) return true;
      int status = 0;
      if (!display_) {
        if (session_.IsStarted(&width_, &height_, &pixelFormat_, &controls_)) {
          if (!OpenWindow()) return false;
        } else if (session_.IsFinished(&status)) {
          return true;  // nothing to show: the input did not open
        } else {
          continue;
        }
      }
      if (session_.Take(front_)) {
        shown_ = true;
        Settle();
        Show();
      }
      if (session_.IsFinished(&status) && !ended_) {
        if (!o_.hold) return true;
        ended_ = true;
        session_.NoticeLocked("the input has ended: the window stays until q");
        if (shown_) display_->ShowStatus(*front_.canvas, front_.settings, front_.snr, Status());
      }
    }
  }

  ~LiveLoop() { ReleaseStateBuffers(again_); }

 private:
  bool OpenWindow() {
    display_ = std::make_unique<LiveDisplay>();
    std::string error;
    if (!display_->Open(width_, height_, pixelFormat_, LiveTitle(name_, controls_), &error)) {
      error_ = "--live: cannot open a window: " + error;  // reported once the analysis has stopped
      display_.reset();
      return false;
    }
    if (!error.empty()) session_.NoticeLocked("warning: " + error + ": a window without words");
    return true;
  }

  std::string Status() const {
    return LiveStatus(front_.index, front_.settings.ColorMode, front_.frames, controls_.paused, ended_);
  }

  void Show() {
    if (front_.layout != FramePlanes::None) {
      display_->ShowPlanes(front_.Planes(), front_.marks, *front_.canvas, front_.settings, front_.snr, Status());
    } else {
      display_->Show(front_.pixels.data(), *front_.canvas, front_.settings, front_.snr, Status());
    }
  }

  // While no frame comes (paused, or the input has ended and the window is held), what the keys
  // changed is shown at once, on the last frame shown. True when it was analysed again.
  bool Settle() {
    const AnalysisSettings& s = front_.settings;
    if (!(controls_.paused || ended_) || (front_.clean.empty() && front_.layout == FramePlanes::None) ||
        (s.TVLine == controls_.line && s.Mode == controls_.page && (s.ColorMode == 1) == (controls_.colorMode == 1))) {
      return false;
    }
    // A picture of planes is converted whole now: from here on it is shown as the frame path marks it.
    if (front_.layout != FramePlanes::None) {
      if (!front_.ConvertPlanes(width_, height_, pixelFormat_)) return false;
      front_.layout = FramePlanes::None;
    }
    // A state of the window's own: the run's rings, statistics and CSV stay as they are.
    if (!again_.BuffersReady()) ConfigureState(again_, FrameFormat{width_, height_, 0, pixelFormat_});
    if (!again_.BuffersReady()) return false;  // out of memory: the title alone says what changed
    const bool sameReadouts = s.TVLine == controls_.line && (s.ColorMode == 1) == (controls_.colorMode == 1);
    AnalysisSettings next = s;
    next.TVLine = controls_.line;
    next.Mode = controls_.page;
    next.ColorMode = controls_.colorMode;
    again_.liveSettings = next;
    for (int c = 0; c < ChannelCount; ++c) {
      ClearSnrHistory(again_.snrHistory[c]);
      again_.snrHistoryIndex[c] = 0;
    }
    front_.pixels = front_.clean;
    FrameInfo info{};
    info.pixels = front_.pixels.data();
    ProcessFrameState(again_, info, &againWindow_);
    if (next.Mode >= ModeOscilloscope && next.Mode <= ModeLevels) {
      const PlotCanvas& c = againWindow_.Canvas(next.Mode);
      std::copy(c.Pixels(), c.Pixels() + size_t(c.plotWidth) * c.plotHeight, front_.canvas->Pixels());
    }
    // Another line or colour space: the read-outs of this one frame.
    if (!sameReadouts) {
      if (next.Mode != ModeOscilloscope) {
        MeasureWaveform(next, again_.width, again_.channels, again_.snrHistory, again_.snrHistoryIndex,
                        again_.snrDisplay);
      }
      front_.frames = LiveReadouts(again_.snrHistory, next.ColorMode, 1, front_.snr);
    }
    front_.settings = next;
    return true;
  }

  void Change(const std::string& notice) {
    if (notice.empty()) return;
    // The title first: once the notice is out, the window says the same.
    display_->SetTitle(LiveTitle(name_, controls_));
    session_.Change(controls_, notice);
    if (!shown_) return;
    if (Settle()) {
      Show();
    } else {
      display_->ShowStatus(*front_.canvas, front_.settings, front_.snr, Status());
    }
  }

  void Save() {
    char name[64];
    std::snprintf(name, sizeof name, "lineview-live-%06lld.png", static_cast<long long>(std::max<int64_t>(front_.index, 0)));
    const std::string path = (o_.pngDir.empty() ? std::string(".") : o_.pngDir) + "/" + name;
    std::string error;
    session_.NoticeLocked(display_->Save(path, &error) ? "saved " + path : "cannot write '" + path + "': " + error);
  }

  void Handle(const SDL_Event& e) {
    if (e.type == SDL_QUIT) {
      quit_ = true;
      return;
    }
    if (!display_) return;
    if (e.type == SDL_WINDOWEVENT &&
        (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)) {
      if (shown_) display_->Redraw();
    } else if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT) {
      const int line = LineAt(display_->Layout(), height_, e.button.x, e.button.y);
      if (line >= 0) Change(PickLine(controls_, line, height_));
    } else if (e.type == SDL_KEYDOWN) {
      Key(e.key.keysym.sym);
    }
  }

  void Key(SDL_Keycode key) {
    switch (key) {
      case SDLK_q:
      case SDLK_ESCAPE:
        quit_ = true;
        return;
      case SDLK_s:
        Save();
        return;
      default:
        break;
    }
    static const struct {
      SDL_Keycode key;
      LiveCommand command;
    } kKeys[] = {{SDLK_UP, LiveCommand::LineUp},      {SDLK_DOWN, LiveCommand::LineDown},
                 {SDLK_PAGEUP, LiveCommand::TenUp},   {SDLK_PAGEDOWN, LiveCommand::TenDown},
                 {SDLK_TAB, LiveCommand::NextPage},   {SDLK_1, LiveCommand::Page1},
                 {SDLK_2, LiveCommand::Page2},        {SDLK_3, LiveCommand::Page3},
                 {SDLK_KP_1, LiveCommand::Page1},     {SDLK_KP_2, LiveCommand::Page2},
                 {SDLK_KP_3, LiveCommand::Page3},     {SDLK_c, LiveCommand::Colour},
                 {SDLK_SPACE, LiveCommand::Pause}};
    for (const auto& k : kKeys) {
      if (k.key == key) Change(ApplyCommand(controls_, k.command, height_));
    }
  }

  const CliOptions& o_;
  LiveSession& session_;
  const std::string name_;
  std::unique_ptr<LiveDisplay> display_;
  int width_ = 0, height_ = 0, pixelFormat_ = 0;
  LiveControls controls_;
  LivePicture front_;
  bool shown_ = false;
  bool quit_ = false;
  bool ended_ = false;  // the input has ended, the window held
  AnalysisState again_;
  HeadlessWindow againWindow_;

 public:
  std::string error_;  // why the window could not be opened
};

// Without a display SDL falls back to a driver that shows nothing. Unless the user chose that
// through SDL_VIDEODRIVER, the run stops: why SDL could not open the display, empty when it did.
std::string NoDisplay() {
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if (asked && *asked) return {};
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || (std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0)) return {};
  // SDL skips a driver that cannot start without a word: asking for X11 by name gives its reason.
  // A second try also takes a display that refused the first connection (an X server resetting
  // as its last client leaves, as a bare Xvfb does).
  SDL_VideoQuit();
  if (SDL_VideoInit("x11") == 0) return {};
  const std::string reason = SDL_GetError();
  const char* display = std::getenv("DISPLAY");
  return reason + (display && *display ? " (DISPLAY=" + std::string(display) + ")" : " (DISPLAY is not set)") +
         "; SDL_VIDEODRIVER=offscreen runs without a window";
}

}  // namespace

int RunLive(const CliOptions& options, Diagnostics& diag, const std::function<int(RunObserver*)>& analyse) {
  // Ctrl-C and SIGTERM stay ours: they finish the outputs rather than only queue a quit event.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    return diag.Fail(kExitFailure, std::string("--live: cannot open a window: ") + SDL_GetError());
  }
  const std::string noDisplay = NoDisplay();
  if (!noDisplay.empty()) {
    SDL_Quit();
    return diag.Fail(kExitFailure, "--live: cannot open a window: " + noDisplay);
  }
  const Uint32 wakeEvent = SDL_RegisterEvents(1);
  LiveSession session(options, diag, wakeEvent);
  std::thread worker([&] { session.Finished(analyse(&session)); });
  int status = kExitOk;
  {
    LiveLoop loop(options, session);
    const bool opened = loop.Run();
    RequestStop();  // the window is gone: a reading thread waiting on a stalled input is woken too
    session.Quit();
    worker.join();
    session.IsFinished(&status);
    if (!opened) status = diag.Fail(kExitFailure, loop.error_);
  }
  SDL_Quit();
  diag.Stream() << "lineview: " << session.Analysed() << " frames analysed, " << session.Skipped()
                << " without a picture (the window could not keep up or the frame was late)\n";
  diag.Stream().flush();
  return status;
}
