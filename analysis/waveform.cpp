#include "analysis/waveform.h"

#include <algorithm>
#include <cmath>

#include "analysis/page_style.h"
#include "plot/plot_canvas.h"
#include "plot/raster.h"

namespace {

constexpr uint32_t kReferenceColor = 0xFFFF00;

// COLORREF per channel of the oscilloscope, indexed by ChannelIndex.
constexpr uint32_t kTraceColor[ChannelCount] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0xFF0000, 0x0000FF};

}  // namespace

SnrInterval WaveformInterval(int n, int startCount, int stopCount) {
  if (n < 1) n = 1;
  int start, stop;
  ClampMeasuringInterval(startCount, stopCount, &start, &stop);
  SnrInterval r;
  r.first = gdi::MulDiv(start, n - 1, 1000);
  r.last = gdi::MulDiv(stop, n - 1, 1000);
  r.count = r.last - r.first + 1;
  return r;
}

void ClampMeasuringInterval(int startCount, int stopCount, int* start, int* stop) {
  *start = std::clamp(startCount, 0, 1000);
  *stop = std::max(std::clamp(stopCount, 0, 1000), *start);
}

void ClampReferenceLevels(int whiteLevel, int blackLevel, int* white, int* black) {
  *black = std::clamp(blackLevel, 0, 255);
  *white = std::max(std::clamp(whiteLevel, 0, 255), *black);
}

void ClearSnrHistory(double* ring) {
  for (int j = 0; j < kSnrRingLength; ++j) ring[j] = 0.0;
}

double ComputeSnr(const int32_t* samples, int first, int last, int count, double* ring, int32_t& index,
                  int whiteLevel, int blackLevel) {
  double sigma = 0.0;
  if (count >= 1 && last - first + 1 == count) {
    double sum = 0.0;
    for (int i = first; i <= last; ++i) sum += samples[i];
    const double inv = 1.0 / count;
    const double mean = sum * inv;
    double total = 0.0;
    for (int i = first; i <= last; ++i) total += std::pow(samples[i] - mean, 2.0);
    sigma = std::sqrt(inv * total);
  }
  if (!(sigma >= kSnrNoiseFloor)) sigma = kSnrNoiseFloor;  // also catches NaN

  int white, black;
  ClampReferenceLevels(whiteLevel, blackLevel, &white, &black);
  const double snr = 20.0 * std::log10((white - black + 1) / sigma);

  if (index < 0 || index >= kSnrRingLength) index = 0;
  ring[index] = snr;
  if (++index == kSnrRingLength) index = 0;

  double total = 0.0;
  for (int j = 0; j < kSnrRingLength; ++j) total += ring[j];
  return total * 0.02;
}

void MeasureWaveform(const AnalysisSettings& s, int n, int32_t* const channels[ChannelCount],
                     double* const snrHistory[ChannelCount], int32_t snrHistoryIndex[ChannelCount],
                     double snrDisplay[3]) {
  if (n < 1) return;  // no samples: the rings and the published values stay as they are
  const SnrInterval iv = WaveformInterval(n, s.StartCount, s.StopCount);
  for (int c = 0; c < 3; ++c) {
    const int ch = FirstChannel(s) + c;
    snrDisplay[c] = ComputeSnr(channels[ch], iv.first, iv.last, iv.count, snrHistory[ch], snrHistoryIndex[ch],
                               s.WhiteLevel, s.BlackLevel);
  }
}

void RenderWaveform(const AnalysisSettings& s, int n, int32_t* const channels[ChannelCount],
                    double* const snrHistory[ChannelCount], int32_t snrHistoryIndex[ChannelCount],
                    double snrDisplay[3], PlotCanvas& canvas) {
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(20, 16, kPageGridColor);
  MeasureWaveform(s, n, channels, snrHistory, snrHistoryIndex, snrDisplay);

  if (n >= 1) {
    for (int ch = FirstChannel(s); ch < FirstChannel(s) + 3; ++ch) {
      if (ChannelShown(s, ch)) canvas.PlotSeries(channels[ch], n, kTraceColor[ch], kRopMergePen, Outline, 1, 255);
    }
  }

  // Drawn last so they cover the traces; clamped like the measurement, so they mark what was measured.
  int white, black;
  ClampReferenceLevels(s.WhiteLevel, s.BlackLevel, &white, &black);
  int start, stop;
  ClampMeasuringInterval(s.StartCount, s.StopCount, &start, &stop);
  canvas.DrawScaledLine(0, black, 1000, black, kReferenceColor, kRopCopyPen, 1000, 255);
  canvas.DrawScaledLine(0, white, 1000, white, kReferenceColor, kRopCopyPen, 1000, 255);
  canvas.DrawScaledLine(start, 0, start, 255, kReferenceColor, kRopCopyPen, 1000, 255);
  canvas.DrawScaledLine(stop, 0, stop, 255, kReferenceColor, kRopCopyPen, 1000, 255);
  canvas.Present();
}
