#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "analysis/level_histogram.h"
#include "analysis/line_sampling.h"
#include "analysis/spectrum.h"
#include "analysis/waveform.h"
#include "plugin/analysis_state.h"
#include "plugin/tool_window_link.h"

namespace {

void* DefaultAllocate(size_t count, size_t size) { return std::calloc(count, size); }
BufferAllocator g_allocate = DefaultAllocate;

// Zero-filled: an odd width or an unknown pixel format leaves elements unsampled, and the
// histogram indexes by sample value. calloc also leaves untouched pages unmapped.
template <class T>
T* AllocateZeroed(size_t count) {
  return static_cast<T*>(g_allocate(count, sizeof(T)));
}

template <class T>
void Free(T*& p) {
  std::free(p);
  p = nullptr;
}

void RememberChannel(AnalysisState& state, const ChannelInfo& info, ToolWindowLink& window) {
  const int32_t code = info.channelNumber + 1;
  if (code == state.currentChannelCode) return;
  state.currentFrequencyHz = info.frequencyHz;
  state.currentChannelCode = code;
  // The host's text is not trusted to be terminated within its 64 bytes.
  std::memcpy(state.currentChannelName, info.channelName, kChannelNameSize);
  state.currentChannelName[kChannelNameSize] = '\0';
  window.PostNotify(2);
  for (double* ring : state.snrHistory) ClearSnrHistory(ring);
}

void SampleAndMark(AnalysisState& state, uint8_t* pixels, int line) {
  const int width = state.width;
  const int height = state.height;
  int32_t* const* ch = state.channels;
  switch (state.pixelFormat) {
    case PixelFormatYuy2:
      if (width >= 2) {
        SampleLineYuy2(pixels, width, height, line, ch[ChannelR], ch[ChannelG], ch[ChannelB], ch[ChannelY],
                       ch[ChannelU], ch[ChannelV]);
      }
      if (width >= 4) {
        MarkLineYuy2(pixels, width, height, line, kMarkerColor);
        if (line + 1 < height) MarkLineYuy2(pixels, width, height, line + 1, kMarkerColor);
      }
      break;
    case PixelFormatBgr24:
      if (width >= 2) {
        SampleLineBgr24(pixels, width, height, line, ch[ChannelR], ch[ChannelG], ch[ChannelB], ch[ChannelY],
                        ch[ChannelU], ch[ChannelV]);
      }
      MarkLineBgr24(pixels, width, height, line, kMarkerColor);
      if (line + 1 < height) MarkLineBgr24(pixels, width, height, line + 1, kMarkerColor);
      break;
    default:
      break;  // unknown layout: the arrays keep their previous contents
  }
}

// The selected page's analysis draws into that page's canvas; the window presents it.
void RunPageAnalysis(AnalysisState& state, const AnalysisSettings& s, ToolWindowLink& window) {
  if (s.Mode < ModeOscilloscope || s.Mode > ModeLevels) return;  // no page: nothing is drawn
  if (PlotCanvas* canvas = window.PageCanvas(s.Mode)) RenderPage(state, s, s.Mode, *canvas);
}

}  // namespace

void RenderPage(AnalysisState& state, const AnalysisSettings& s, int page, PlotCanvas& canvas) {
  const int n = state.width;
  switch (page) {
    case ModeOscilloscope:
      RenderWaveform(s, n, state.channels, state.snrHistory, state.snrHistoryIndex, state.snrDisplay, canvas);
      break;
    case ModeSpectrum:
      RenderSpectrum(s, n, state.channels, state.spectrumReal, state.spectrumImag, state.spectrumMagnitude,
                     state.spectrumTables, canvas);
      break;
    case ModeLevels:
      RenderLevelHistogram(s, n, state.channels, state.levelHistogram, canvas);
      break;
    default:
      break;
  }
}

void SetBufferAllocator(BufferAllocator allocate) { g_allocate = allocate ? allocate : DefaultAllocate; }

namespace {

// The per-format buffers, moved in and out of the state as one set: a frame sees all of the old
// set or all of the new one, never a mixture or a freed one.
struct WorkingBuffers {
  int32_t* channels[ChannelCount] = {};
  double* snrHistory[ChannelCount] = {};
  double* spectrumReal = nullptr;
  double* spectrumImag = nullptr;
  double* spectrumMagnitude = nullptr;
  double* levelHistogram = nullptr;
  SpectrumTables* spectrumTables = nullptr;
};

void FreeBuffers(WorkingBuffers& b) {
  for (int32_t*& p : b.channels) Free(p);
  for (double*& p : b.snrHistory) Free(p);
  Free(b.spectrumReal);
  Free(b.spectrumImag);
  Free(b.spectrumMagnitude);
  Free(b.levelHistogram);
  DestroySpectrumTables(b.spectrumTables);
  b.spectrumTables = nullptr;
}

// All or nothing: on a failure nothing stays allocated. The SNR rings come zeroed (calloc).
bool AllocateBuffers(WorkingBuffers& b, int width) {
  const size_t n = static_cast<size_t>(width);
  bool ok = true;
  for (int32_t*& p : b.channels) ok = ok && (p = AllocateZeroed<int32_t>(n)) != nullptr;
  for (double*& p : b.snrHistory) ok = ok && (p = AllocateZeroed<double>(kSnrRingLength)) != nullptr;
  ok = ok && (b.spectrumReal = AllocateZeroed<double>(kFftPoints)) != nullptr;
  ok = ok && (b.spectrumImag = AllocateZeroed<double>(kFftPoints)) != nullptr;
  ok = ok && (b.spectrumMagnitude = AllocateZeroed<double>(kFftPoints)) != nullptr;
  ok = ok && (b.levelHistogram = AllocateZeroed<double>(kHistogramBins)) != nullptr;
  ok = ok && (b.spectrumTables = CreateSpectrumTables()) != nullptr;
  if (!ok) FreeBuffers(b);
  return ok;
}

// Swaps the state's buffers with `b`; the caller holds analysisLock.
void ExchangeBuffers(AnalysisState& state, WorkingBuffers& b) {
  for (int c = 0; c < ChannelCount; ++c) {
    std::swap(state.channels[c], b.channels[c]);
    std::swap(state.snrHistory[c], b.snrHistory[c]);
  }
  std::swap(state.spectrumReal, b.spectrumReal);
  std::swap(state.spectrumImag, b.spectrumImag);
  std::swap(state.spectrumMagnitude, b.spectrumMagnitude);
  std::swap(state.levelHistogram, b.levelHistogram);
  std::swap(state.spectrumTables, b.spectrumTables);
}

}  // namespace

// A host may release or reconfigure while its video thread is still inside ProcessFrame (nothing
// in the calling order forbids it, and it crashed the viewer). So the buffers leave and enter the state under
// analysisLock, and the frees and allocations run outside it: a frame waits only for the swap.
void ReleaseStateBuffers(AnalysisState& state) {
  WorkingBuffers old;
  {
    AnalysisLockGuard hold(state.analysisLock);
    ExchangeBuffers(state, old);
  }
  FreeBuffers(old);
}

void ConfigureState(AnalysisState& state, const FrameFormat& format) {
  // A host that configures twice without releasing gets the release it skipped; freeing the old
  // set first keeps the peak memory of a 32-bit process what it was.
  ReleaseStateBuffers(state);

  WorkingBuffers fresh;
  // On a failure the state stays released: frames are ignored.
  if (format.width > 0 && format.height > 0) AllocateBuffers(fresh, format.width);

  {
    AnalysisLockGuard hold(state.analysisLock);
    state.pixelFormat = format.pixelFormat;
    state.width = format.width;
    state.height = format.height;
    if (LoadSetting(state.liveSettings.TVLine) >= format.height) {
      StoreSetting(state.liveSettings.TVLine, format.height - 1);
    }
    std::fill(std::begin(state.snrHistoryIndex), std::end(state.snrHistoryIndex), 0);
    ExchangeBuffers(state, fresh);
  }
  // The released state's nulls, or the set of a Configure that another thread ran meanwhile.
  FreeBuffers(fresh);
}

void ProcessFrameState(AnalysisState& state, const FrameInfo& frame, ToolWindowLink* window) {
  AnalysisLockGuard guard(state.analysisLock);
  if (frame.pixels == nullptr) return;
  // Before Configure, after ReleaseBuffers, or an allocation failed: the frame is ignored. Under
  // the lock the buffers are all there or all gone (ConfigureState, ReleaseStateBuffers).
  if (!state.BuffersReady()) return;
  if (window == nullptr || !window->IsVisible()) return;

  // The window thread may change any field at any moment: read each once, here.
  const AnalysisSettings s = SnapshotSettings(state.liveSettings);

  if (frame.channelInfo != nullptr) RememberChannel(state, *frame.channelInfo, *window);

  const int line = std::clamp(s.TVLine, 0, state.height - 1);
  SampleAndMark(state, frame.pixels, line);
  RunPageAnalysis(state, s, *window);
  window->PostNotify(1);
}
