// The spectrum page: the line stretched to 2048 points, weighted by a window, transformed by a
// radix-2 FFT and shown in dB relative to full scale. The public header of the spectrum's files:
//   simd_lanes.h            lane types, loads and stores, log10 on every lane (inline)
//   spectrum_tables.h/.cpp  the tables, the path (AVX detection); spectrum_tables_layout.h: their contents
//   fft.h/.cpp              the complex transform: Fft per call, Fft2048 from the tables
//   fft_kernels.h           its stages (inline), shared with the real line's transform
//   fft_real.h              the real line's transform on top (inline)
//   spectrum.cpp            resample, window, transform, dB: ComputeSpectrum on each path
//   spectrum_page.cpp       the page: grid and traces
#pragma once
#include <cstdint>

#include "analysis/fft.h"
#include "analysis/spectrum_tables.h"
#include "records/analysis_settings.h"

class PlotCanvas;

constexpr int kSpectrumBins = kFftPoints / 2;  // bins written by ComputeSpectrum
constexpr int kSpectrumDrawnBins = 352;        // bins 0..351 span 0..6.75 MHz on the page

// Linear interpolation of n samples onto m points, keeping the first and the last sample;
// im is zeroed. A line of one sample gives a constant, an empty line zeros. (The reference of
// ComputeSpectrum's resampling, for the tests.)
void ResampleLine(const int32_t* samples, int n, double* re, double* im, int m);

// FFTSensitivity as the computation uses it: 10..110.
int ClampSensitivity(int sensitivity);
// dB per horizontal grid division for a displayed range of s dB: 2, 5 or 10.
int SpectrumGridStep(int s);
// Horizontal grid divisions for a displayed range of s dB (s / SpectrumGridStep(s), truncating).
int SpectrumGridRows(int s);

// Resample, window, transform and scale one channel: bins 0..1023 of `magnitude` get
// (dB + S) * 10, with -110 dB for empty bins; re[0..1023] and im[0..1023] get the transform's
// bins, the same bits as Fft gives them (the work skips what the line's zero imaginary part makes
// exactly zero). re and im must hold kFftPoints values. `tables` may be null (the scalar path's
// own tables are used).
void ComputeSpectrum(const int32_t* samples, int n, int windowFunction, int sensitivity, double* re, double* im,
                     double* magnitude, const SpectrumTables* tables);

// The whole per-frame work of the spectrum page, then Present.
void RenderSpectrum(const AnalysisSettings& s, int n, int32_t* const channels[ChannelCount], double* re,
                    double* im, double* magnitude, const SpectrumTables* tables, PlotCanvas& canvas);
