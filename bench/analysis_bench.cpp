// Cost of the per-frame analyses: the 2048-point transform against FFTW, and each page's
// whole frame path against the floor every page pays (clearing its canvas).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/spectrum.h"
#include "plot/plot_canvas.h"
#include "plugin/analysis_state.h"
#include "settings/settings_table.h"
#include "plugin/tool_window_link.h"

#ifdef LINEVIEW_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

constexpr int kCanvasWidth = 640;
constexpr int kCanvasHeight = 346;
constexpr int kFrameWidth = 720;
constexpr int kFrameHeight = 576;

std::vector<double> TestInput(int seed) {
  std::vector<double> v(kFftPoints);
  uint32_t x = 12345u + seed;
  for (int i = 0; i < kFftPoints; ++i) {
    x = x * 1664525u + 1013904223u;
    v[i] = 128 + 60 * std::sin(i * 0.05) + (x >> 24) * 0.1;
  }
  return v;
}

// The transform works in place, so every iteration starts from a copy of the same line;
// the FFTW run copies the same amount of data.
void BM_Fft2048(benchmark::State& state) {
  SpectrumTables* tables = CreateSpectrumTables();
  const std::vector<double> inRe = TestInput(1), inIm(kFftPoints, 0.0);
  std::vector<double> re(kFftPoints), im(kFftPoints);
  for (auto _ : state) {
    std::memcpy(re.data(), inRe.data(), sizeof(double) * kFftPoints);
    std::memcpy(im.data(), inIm.data(), sizeof(double) * kFftPoints);
    Fft2048(re.data(), im.data(), *tables);
    benchmark::DoNotOptimize(re.data());
    benchmark::ClobberMemory();
  }
  DestroySpectrumTables(tables);
}
BENCHMARK(BM_Fft2048);

// The same transform without tables: twiddles and bit reversal worked out on every call.
void BM_Fft2048PerCall(benchmark::State& state) {
  const std::vector<double> inRe = TestInput(1), inIm(kFftPoints, 0.0);
  std::vector<double> re(kFftPoints), im(kFftPoints);
  for (auto _ : state) {
    std::memcpy(re.data(), inRe.data(), sizeof(double) * kFftPoints);
    std::memcpy(im.data(), inIm.data(), sizeof(double) * kFftPoints);
    Fft(re.data(), im.data(), kFftPoints, 1);
    benchmark::DoNotOptimize(re.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Fft2048PerCall);

#ifdef LINEVIEW_HAVE_FFTW
void BM_Fftw2048(benchmark::State& state) {
  fftw_complex* in = fftw_alloc_complex(kFftPoints);
  fftw_complex* buf = fftw_alloc_complex(kFftPoints);
  fftw_plan plan = fftw_plan_dft_1d(kFftPoints, buf, buf, FFTW_FORWARD, FFTW_MEASURE);
  const std::vector<double> inRe = TestInput(1);
  for (int i = 0; i < kFftPoints; ++i) in[i][0] = inRe[i], in[i][1] = 0.0;
  for (auto _ : state) {
    std::memcpy(buf, in, sizeof(fftw_complex) * kFftPoints);
    fftw_execute(plan);
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
  fftw_free(buf);
  fftw_free(in);
}
BENCHMARK(BM_Fftw2048);

// FFTW's transform of a real line (bins 0..1024), the floor for the spectrum's own.
void BM_FftwR2c2048(benchmark::State& state) {
  double* in = fftw_alloc_real(kFftPoints);
  double* buf = fftw_alloc_real(kFftPoints);
  fftw_complex* out = fftw_alloc_complex(kFftPoints / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(kFftPoints, buf, out, FFTW_MEASURE);
  const std::vector<double> inRe = TestInput(1);
  std::memcpy(in, inRe.data(), sizeof(double) * kFftPoints);
  for (auto _ : state) {
    std::memcpy(buf, in, sizeof(double) * kFftPoints);
    fftw_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
  fftw_free(out);
  fftw_free(buf);
  fftw_free(in);
}
BENCHMARK(BM_FftwR2c2048);
#endif

// One spectrum channel: resampling, window, transform and dB scale.
void BM_ComputeSpectrum720(benchmark::State& state) {
  SpectrumTables* tables = CreateSpectrumTables();
  std::vector<int32_t> line(kFrameWidth);
  for (int i = 0; i < kFrameWidth; ++i) line[i] = (i * 37) % 256;
  std::vector<double> re(kFftPoints), im(kFftPoints), mag(kFftPoints);
  for (auto _ : state) {
    ComputeSpectrum(line.data(), kFrameWidth, WindowHanning, 40, re.data(), im.data(), mag.data(), tables);
    benchmark::DoNotOptimize(mag.data());
  }
  DestroySpectrumTables(tables);
}
BENCHMARK(BM_ComputeSpectrum720);

// What the spectrum page computes per frame: three channels of one line (colour bars with a
// little noise, R G B), Hanning window. Uses only what every version of the interface has, so
// the same file built against an older tree measures it too.
void BM_ComputeSpectrumThreeChannels(benchmark::State& state) {
  SpectrumTables* tables = CreateSpectrumTables();
  const int bars[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                          {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};
  std::vector<int32_t> lines[3];
  uint32_t x = 3;
  for (int c = 0; c < 3; ++c) {
    lines[c].resize(kFrameWidth);
    for (int i = 0; i < kFrameWidth; ++i) {
      x = x * 1664525u + 1013904223u;
      lines[c][i] = std::clamp(bars[i * 8 / kFrameWidth][c] + static_cast<int>(x >> 29) - 4, 0, 255);
    }
  }
  std::vector<double> re(kFftPoints), im(kFftPoints), mag(kFftPoints);
  for (auto _ : state) {
    for (int c = 0; c < 3; ++c) {
      ComputeSpectrum(lines[c].data(), kFrameWidth, WindowHanning, 40, re.data(), im.data(), mag.data(), tables);
      benchmark::DoNotOptimize(mag.data());
    }
  }
  DestroySpectrumTables(tables);
}
BENCHMARK(BM_ComputeSpectrumThreeChannels);

class BenchWindow final : public ToolWindowLink {
 public:
  bool IsVisible() override { return true; }
  void PostNotify(int) override {}
  PlotCanvas* PageCanvas(int mode) override { return mode >= 0 && mode < 3 ? canvases_[mode] : nullptr; }
  ~BenchWindow() {
    for (PlotCanvas* c : canvases_) delete c;
  }

 private:
  PlotCanvas* canvases_[3] = {new PlotCanvas(kCanvasWidth, kCanvasHeight), new PlotCanvas(kCanvasWidth, kCanvasHeight),
                              new PlotCanvas(kCanvasWidth, kCanvasHeight)};
};

// A 720x576 YUY2 frame: colour bars with a little noise on every byte.
std::vector<uint8_t> BarsFrame() {
  std::vector<uint8_t> f(static_cast<size_t>(kFrameWidth) * kFrameHeight * 2);
  const uint8_t bars[8][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                              {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
  uint32_t x = 7;
  for (int row = 0; row < kFrameHeight; ++row)
    for (int px = 0; px < kFrameWidth; px += 2) {
      const uint8_t* b = bars[px * 8 / kFrameWidth];
      uint8_t* p = &f[(static_cast<size_t>(row) * kFrameWidth + px) * 2];
      const uint8_t v[4] = {b[0], b[1], b[0], b[2]};
      for (int k = 0; k < 4; ++k) {
        x = x * 1664525u + 1013904223u;
        p[k] = static_cast<uint8_t>(std::clamp(v[k] + static_cast<int>(x >> 29) - 4, 0, 255));
      }
    }
  return f;
}

// Each iteration runs one frame and then one plain fill of the same page's pixels, timed
// separately: x_fill (frame time over fill time) compares the two under the same conditions,
// which on a shared machine drift from one second to the next.
void RunFramePath(benchmark::State& state, int mode) {
  AnalysisState analysis;
  analysis.liveSettings = DefaultSettings();
  analysis.liveSettings.Mode = mode;
  analysis.liveSettings.TVLine = 300;
  analysis.liveSettings.FFTDiagMode = Fill;
  analysis.liveSettings.LevDiagMode = Fill;
  FrameFormat format{kFrameWidth, kFrameHeight, 0, PixelFormatYuy2};
  ConfigureState(analysis, format);
  std::vector<uint8_t> frame = BarsFrame();
  ChannelInfo channel{};
  channel.channelNumber = -1;
  FrameInfo info{};
  info.pixels = frame.data();
  info.channelInfo = &channel;
  BenchWindow window;
  uint32_t* pixels = window.PageCanvas(mode)->Pixels();
  volatile int width = kCanvasWidth, height = kCanvasHeight;
  const size_t count = static_cast<size_t>(width) * height;
  using Clock = std::chrono::steady_clock;
  double frameSeconds = 0, fillSeconds = 0;
  uint32_t colour = 0x000040;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    ProcessFrameState(analysis, info, &window);
    benchmark::ClobberMemory();
    const auto t1 = Clock::now();
    std::fill(pixels, pixels + count, colour);
    benchmark::ClobberMemory();
    const auto t2 = Clock::now();
    colour ^= 1;
    const double frameTime = std::chrono::duration<double>(t1 - t0).count();
    frameSeconds += frameTime;
    fillSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(frameTime);
  }
  state.counters["fill_us"] = benchmark::Counter(fillSeconds * 1e6 / state.iterations());
  state.counters["x_fill"] = benchmark::Counter(fillSeconds > 0 ? frameSeconds / fillSeconds : 0);
  ReleaseStateBuffers(analysis);
}

void BM_FramePathOscilloscope(benchmark::State& state) { RunFramePath(state, ModeOscilloscope); }
void BM_FramePathSpectrumFill(benchmark::State& state) { RunFramePath(state, ModeSpectrum); }
void BM_FramePathLevelsFill(benchmark::State& state) { RunFramePath(state, ModeLevels); }
BENCHMARK(BM_FramePathOscilloscope)->UseManualTime();
BENCHMARK(BM_FramePathSpectrumFill)->UseManualTime();
BENCHMARK(BM_FramePathLevelsFill)->UseManualTime();

// The floor: one plain fill of the canvas's pixels. A canvas knows its size only at run time,
// so the count is hidden from the compiler here too...
void BM_CanvasFill(benchmark::State& state) {
  volatile int width = kCanvasWidth, height = kCanvasHeight;
  const size_t count = static_cast<size_t>(width) * height;
  std::vector<uint32_t> pixels(count);
  uint32_t colour = 0x000040;
  for (auto _ : state) {
    std::fill(pixels.data(), pixels.data() + count, colour);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
    colour ^= 1;
  }
}
BENCHMARK(BM_CanvasFill);

// ... and, for comparison, the same fill with the count known at compile time (vectorised).
void BM_CanvasFillKnownSize(benchmark::State& state) {
  std::vector<uint32_t> pixels(static_cast<size_t>(kCanvasWidth) * kCanvasHeight);
  uint32_t colour = 0x000040;
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), colour);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
    colour ^= 1;
  }
}
BENCHMARK(BM_CanvasFillKnownSize);

}  // namespace
