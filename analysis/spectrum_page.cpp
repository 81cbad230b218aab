// The spectrum page: its grid, and the three channels' spectra drawn on it.
#include "analysis/page_style.h"
#include "analysis/spectrum.h"
#include "plot/plot_canvas.h"

int SpectrumGridStep(int s) {
  if (s <= 20) return 2;
  if (s <= 50) return 5;
  return 10;
}

int SpectrumGridRows(int s) { return s / SpectrumGridStep(s); }

void RenderSpectrum(const AnalysisSettings& st, int n, int32_t* const channels[ChannelCount], double* re,
                    double* im, double* magnitude, const SpectrumTables* tables, PlotCanvas& canvas) {
  const int s = ClampSensitivity(st.FFTSensitivity);
  canvas.Clear(kPageBackground);
  canvas.DrawGrid(27, SpectrumGridRows(s), kPageGridColor);
  // Styles outside 0..2 draw nothing; the spectrum is still computed so the buffers stay current.
  const bool drawable = st.FFTDiagMode >= Outline && st.FFTDiagMode <= Points;
  for (int ch = FirstChannel(st); ch < FirstChannel(st) + 3; ++ch) {
    if (!ChannelShown(st, ch)) continue;
    ComputeSpectrum(channels[ch], n, st.WindowFunction, s, re, im, magnitude, tables);
    if (drawable)
      canvas.PlotSeries(magnitude, kSpectrumDrawnBins, kAnalyserTraceColor[ch], kRopMergePen, st.FFTDiagMode, 1,
                        10.0 * s);
  }
  canvas.Present();
}
