// The live window's path per frame at 720x576, decoding excluded, two ways:
// - the whole decoded frame converted for display (yuv420p to YUY2 by libswscale), the frame
//   path (line sampled and marked, the scope measured and drawn), and the window's share
//   (panel composed with its words, both textures uploaded, drawn and presented);
// - the decoder's planes kept as they are (one copy, as the window's back picture takes them),
//   only a band of rows around the line converted for the frame path, and the planes uploaded
//   as an IYUV texture with the marked rows over them.
// SDL runs its offscreen driver unless SDL_VIDEODRIVER names another; the renderer may convert
// on threads of its own, so the whole frame is also timed in the process's CPU time.
// bench/lineview_bench.sh sets these figures beside `ffmpeg -f null` decoding the same size.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}
#include <SDL.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/run/headless_window.h"
#include "cli/live/live_display.h"
#include "host/test_signals.h"
#include "plugin/analysis_state.h"
#include "settings/settings_table.h"

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;

// A decoded frame as H.264 gives it, with a moving pattern so nothing is constant.
struct DecodedFrame {
  AVFrame* frame = av_frame_alloc();
  DecodedFrame() {
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    av_frame_get_buffer(frame, 0);
    for (int p = 0; p < 3; ++p) {
      const int h = p == 0 ? kHeight : kHeight / 2, w = p == 0 ? kWidth : kWidth / 2;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) frame->data[p][y * frame->linesize[p] + x] = static_cast<uint8_t>(x + 3 * y + 50 * p);
      }
    }
  }
  ~DecodedFrame() { av_frame_free(&frame); }
};

struct LivePath {
  DecodedFrame decoded;
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_YUYV422,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  std::vector<uint8_t> pixels = std::vector<uint8_t>(FrameBytes(kWidth, kHeight, PixelFormatYuy2));
  AnalysisState state;
  HeadlessWindow window;
  LiveDisplay display;
  bool open = false;

  LivePath() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    state.liveSettings = DefaultSettings();
    state.liveSettings.Mode = ModeOscilloscope;
    ConfigureState(state, FrameFormat{kWidth, kHeight, 0, PixelFormatYuy2});
    std::string error;
    open = SDL_Init(SDL_INIT_VIDEO) == 0 && display.Open(kWidth, kHeight, PixelFormatYuy2, "lineview bench", &error);
  }
  ~LivePath() {
    ReleaseStateBuffers(state);
    sws_freeContext(sws);
  }

  void Convert() {
    uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    int strides[4] = {kWidth * 2, 0, 0, 0};
    sws_scale(sws, decoded.frame->data, decoded.frame->linesize, 0, kHeight, planes, strides);
  }
  void Analyse() {
    FrameInfo info{};
    info.pixels = pixels.data();
    ProcessFrameState(state, info, &window);
  }
  void Show() {
    display.Show(pixels.data(), window.Canvas(ModeOscilloscope), state.liveSettings, state.snrDisplay, "frame 1   RGB");
  }

  // The planes way: the rows around the analysed line (its chroma rows whole), and a copy of
  // the planes as the window keeps them.
  static constexpr int kBandTop = 92, kBandRows = 24;
  SwsContext* bandSws = sws_getContext(kWidth, kBandRows, AV_PIX_FMT_YUV420P, kWidth, kBandRows, AV_PIX_FMT_YUYV422,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr);
  std::vector<uint8_t> kept[3];
  void ConvertBand() {
    const AVFrame* f = decoded.frame;
    const uint8_t* src[4] = {f->data[0] + kBandTop * f->linesize[0], f->data[1] + kBandTop / 2 * f->linesize[1],
                             f->data[2] + kBandTop / 2 * f->linesize[2], nullptr};
    uint8_t* planes[4] = {pixels.data() + size_t(kBandTop) * kWidth * 2, nullptr, nullptr, nullptr};
    int strides[4] = {kWidth * 2, 0, 0, 0};
    sws_scale(bandSws, src, f->linesize, 0, kBandRows, planes, strides);
  }
  void KeepPlanes() {
    const AVFrame* f = decoded.frame;
    for (int p = 0; p < 3; ++p) {
      kept[p].assign(f->data[p], f->data[p] + size_t(f->linesize[p]) * (p == 0 ? kHeight : kHeight / 2));
    }
  }
  void ShowPlanes() {
    const AVFrame* f = decoded.frame;
    FramePlanes planes;
    planes.layout = FramePlanes::Iyuv;
    for (int p = 0; p < 3; ++p) planes.data[p] = kept[p].data(), planes.pitch[p] = f->linesize[p];
    display.ShowPlanes(planes, {state.liveSettings.TVLine}, window.Canvas(ModeOscilloscope), state.liveSettings,
                       state.snrDisplay, "frame 1   RGB");
  }
};

LivePath& Path() {
  static LivePath* path = new LivePath;  // SDL is torn down with the process
  return *path;
}

void BM_LiveConvertForDisplay(benchmark::State& s) {
  for (auto _ : s) Path().Convert();
}
void BM_LiveAnalyseAndDraw(benchmark::State& s) {
  Path().Convert();
  for (auto _ : s) Path().Analyse();
}
void BM_LiveShow(benchmark::State& s) {
  if (!Path().open) return s.SkipWithError("no window");
  Path().Convert();
  Path().Analyse();
  for (auto _ : s) Path().Show();
}
void BM_LiveWholeFrame(benchmark::State& s) {
  if (!Path().open) return s.SkipWithError("no window");
  for (auto _ : s) {
    Path().Convert();
    Path().Analyse();
    Path().Show();
  }
}

void BM_LivePlanesShow(benchmark::State& s) {
  if (!Path().open) return s.SkipWithError("no window");
  Path().ConvertBand();
  Path().Analyse();
  Path().KeepPlanes();
  for (auto _ : s) Path().ShowPlanes();
}
void BM_LivePlanesWholeFrame(benchmark::State& s) {
  if (!Path().open) return s.SkipWithError("no window");
  for (auto _ : s) {
    Path().ConvertBand();
    Path().KeepPlanes();
    Path().Analyse();
    Path().ShowPlanes();
  }
}

// Of the window's share, the panel alone (no SDL).
void BM_LiveComposePanel(benchmark::State& s) {
  Path().Convert();
  Path().Analyse();
  std::string error;
  auto labels = CreateTextPainter(&error), value = CreateTextPainter(&error, 60), name = CreateTextPainter(&error, 18);
  Picture panel;
  bool first = true;  // then the labels stand, as while the settings stay
  for (auto _ : s) {
    ComposePanel(panel, Path().window.Canvas(ModeOscilloscope), Path().state.liveSettings, Path().state.snrDisplay,
                 "frame 1   RGB", PanelText{labels.get(), value.get(), name.get()}, first);
    first = false;
  }
}
BENCHMARK(BM_LiveConvertForDisplay)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveAnalyseAndDraw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveComposePanel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveShow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveWholeFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LivePlanesShow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LivePlanesWholeFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveWholeFrame)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_LivePlanesWholeFrame)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
