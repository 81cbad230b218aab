// SDL's side of the live window: textures for the frame, the decoder's planes and the panel.
#include "cli/live/live_display.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/line_sampling.h"
#include "cli/run/headless_window.h"
#include "plugin/analysis_state.h"
#include "plugin/host_contract.h"

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
    for (int r : marks) {
      const int y0 = std::clamp(r, 0, frameHeight) & ~1, y1 = std::min((r + 3) & ~1, frameHeight);
      if (y1 <= y0) continue;
      for (int i = 0; i < PlaneCount(p.layout); ++i) {
        const int first = i == 0 ? y0 : y0 / 2, count = i == 0 ? y1 - y0 : (y1 - y0) / 2;
        markRows[i].assign(p.data[i] + size_t(first) * p.pitch[i], p.data[i] + size_t(first + count) * p.pitch[i]);
      }
      TintMarkRows(p, r, y0, y1);
      const SDL_Rect rect{0, y0, frameWidth, y1 - y0};
      if (p.layout == FramePlanes::Yuy2) {
        SDL_UpdateTexture(t, &rect, markRows[0].data(), p.pitch[0]);
      } else if (p.layout == FramePlanes::Nv12) {
        SDL_UpdateNVTexture(t, &rect, markRows[0].data(), p.pitch[0], markRows[1].data(), p.pitch[1]);
      } else {
        SDL_UpdateYUVTexture(t, &rect, markRows[0].data(), p.pitch[0], markRows[1].data(), p.pitch[1],
                             markRows[2].data(), p.pitch[2]);
      }
    }
  }

  // Tints the copies of rows y0..y1 around the mark at row r.
  void TintMarkRows(const FramePlanes& p, int r, int y0, int y1) {
    const MarkOffsets o = OffsetsOf(kMarkerColor);
    const int tinted = frameWidth / 4 * 4;  // the marker works in whole groups of four pixels
    const auto add = [](uint8_t* from, uint8_t* to, int d, int step) {
      for (uint8_t* v = from; v < to; v += step) *v = static_cast<uint8_t>(std::clamp(*v + d, 0, 255));
    };
    for (int y = std::max(r, 0); y < std::min(r + 2, y1); ++y) {
      uint8_t* row = markRows[0].data() + size_t(y - y0) * p.pitch[0];
      if (p.layout == FramePlanes::Yuy2) {
        MarkLineYuy2(row, frameWidth, 1, 0, kMarkerColor);
      } else {
        add(row, row + tinted, o.dY, 1);
      }
    }
    if (p.layout == FramePlanes::Yuy2) return;
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
    const size_t rowBytes = size_t(FrameRowBytes(pixelFormat, frameWidth));
    if (!bgr && rowBytes == size_t(texturePitch)) return pixels;
    upload.resize(size_t(texturePitch) * frameHeight);
    for (int y = 0; y < frameHeight; ++y) {
      const uint8_t* from = pixels + size_t(StoredRow(pixelFormat, frameHeight, y)) * rowBytes;
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

