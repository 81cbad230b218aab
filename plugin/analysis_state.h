// The one module-wide analysis state shared by the frame path and the tool window,
// and the portable bodies of the host callbacks that work on it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "analysis/level_histogram.h"
#include "analysis/spectrum.h"
#include "analysis/waveform.h"
#include "plugin/analysis_lock.h"
#include "records/analysis_settings.h"
#include "plugin/host_contract.h"

class ToolWindowLink;
struct SpectrumTables;

constexpr int kChannelNameSize = 64;
constexpr int32_t kMarkerColor = 255;  // pure red, R in the low byte

struct AnalysisState {
  AnalysisSettings liveSettings{};
  AnalysisSettings storedSettings{};

  // Frame format, kept after ReleaseBuffers; written under analysisLock.
  int32_t width = 0;
  int32_t height = 0;
  int32_t pixelFormat = 0;

  // Working buffers: all valid between Configure and ReleaseBuffers, all null outside; they and
  // the frame format change only under analysisLock.
  int32_t* channels[ChannelCount] = {};
  double* snrHistory[ChannelCount] = {};
  double* spectrumReal = nullptr;
  double* spectrumImag = nullptr;
  double* spectrumMagnitude = nullptr;
  double* levelHistogram = nullptr;
  SpectrumTables* spectrumTables = nullptr;  // FFT twiddles and window weights, built with the buffers

  int32_t snrHistoryIndex[ChannelCount] = {};
  double snrDisplay[3] = {};

  int32_t currentChannelCode = 0;
  char currentChannelName[kChannelNameSize + 1] = {};
  int32_t currentFrequencyHz = 0;

  // The tool window's remembered screen position ("DlgWndPosX"/"DlgWndPosY"); -100 means none.
  int32_t windowX = 0;
  int32_t windowY = 0;

  AnalysisLock analysisLock;

  bool BuffersReady() const { return channels[0] != nullptr; }
};

// Copies the format, clamps TVLine, allocates every working buffer (releasing first if the host
// skipped ReleaseBuffers). On an allocation failure everything is released: frames are ignored.
// Both take analysisLock (never nested) for the moment the buffers, the format and the ring
// positions change, so a frame on another thread sees the old set or the new one, never a freed
// one; they allocate and free outside it. Call neither with the lock held.
void ConfigureState(AnalysisState& state, const FrameFormat& format);
void ReleaseStateBuffers(AnalysisState& state);
// The whole per-frame work; `window` may be null (no tool window).
void ProcessFrameState(AnalysisState& state, const FrameInfo& frame, ToolWindowLink* window);

// The one page switch, for the plug-in, lineview's runs and its kept frames alike: the analysis
// of `page` on the line sampled last, drawn into `canvas`. Any other page draws nothing.
void RenderPage(AnalysisState& state, const AnalysisSettings& s, int page, PlotCanvas& canvas);

// The working buffers come from calloc; tests put a failing allocator here (null restores calloc).
using BufferAllocator = void* (*)(size_t count, size_t size);
void SetBufferAllocator(BufferAllocator allocate);
