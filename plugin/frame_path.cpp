#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

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

void ReleaseStateBuffers(AnalysisState& state) {
  for (int32_t*& p : state.channels) Free(p);
  for (double*& p : state.snrHistory) Free(p);
  Free(state.spectrumReal);
  Free(state.spectrumImag);
  Free(state.spectrumMagnitude);
  Free(state.levelHistogram);
  DestroySpectrumTables(state.spectrumTables);
  state.spectrumTables = nullptr;
}

void ConfigureState(AnalysisState& state, const FrameFormat& format) {
  // A host that configures twice without releasing gets the release it skipped.
  ReleaseStateBuffers(state);

  state.pixelFormat = format.pixelFormat;
  state.width = format.width;
  state.height = format.height;
  if (LoadSetting(state.liveSettings.TVLine) >= format.height) {
    StoreSetting(state.liveSettings.TVLine, format.height - 1);
  }
  if (format.width <= 0 || format.height <= 0) return;  // nothing to analyse: frames are ignored

  const size_t n = static_cast<size_t>(format.width);
  bool ok = true;
  for (int32_t*& p : state.channels) ok = ok && (p = AllocateZeroed<int32_t>(n)) != nullptr;
  for (double*& p : state.snrHistory) ok = ok && (p = AllocateZeroed<double>(kSnrRingLength)) != nullptr;
  std::fill(std::begin(state.snrHistoryIndex), std::end(state.snrHistoryIndex), 0);
  ok = ok && (state.spectrumReal = AllocateZeroed<double>(kFftPoints)) != nullptr;
  ok = ok && (state.spectrumImag = AllocateZeroed<double>(kFftPoints)) != nullptr;
  ok = ok && (state.spectrumMagnitude = AllocateZeroed<double>(kFftPoints)) != nullptr;
  ok = ok && (state.levelHistogram = AllocateZeroed<double>(kHistogramBins)) != nullptr;
  ok = ok && (state.spectrumTables = CreateSpectrumTables()) != nullptr;
  // Never half-allocated: a failure leaves the released state, in which frames are ignored.
  if (!ok) ReleaseStateBuffers(state);
}

void ProcessFrameState(AnalysisState& state, const FrameInfo& frame, ToolWindowLink* window) {
  AnalysisLockGuard guard(state.analysisLock);
  if (frame.pixels == nullptr) return;
  if (!state.BuffersReady()) return;  // before Configure, after ReleaseBuffers, or allocation failed
  if (window == nullptr || !window->IsVisible()) return;

  // The window thread may change any field at any moment: read each once, here.
  const AnalysisSettings s = SnapshotSettings(state.liveSettings);

  if (frame.channelInfo != nullptr) RememberChannel(state, *frame.channelInfo, *window);

  const int line = std::clamp(s.TVLine, 0, state.height - 1);
  SampleAndMark(state, frame.pixels, line);
  RunPageAnalysis(state, s, *window);
  window->PostNotify(1);
}
