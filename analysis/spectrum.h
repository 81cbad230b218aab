// The spectrum page: the line stretched to 2048 points, weighted by a window, transformed by a
// radix-2 FFT and shown in dB relative to full scale.
#pragma once
#include <cstdint>

#include "records/analysis_settings.h"

class PlotCanvas;

constexpr int kFftPoints = 2048;
constexpr int kSpectrumBins = kFftPoints / 2;  // bins written by ComputeSpectrum
constexpr int kSpectrumDrawnBins = 352;        // bins 0..351 span 0..6.75 MHz on the page

enum WindowFunctionCode { WindowNone = 0, WindowHamming = 1, WindowHanning = 2, WindowBlackman = 3 };

// Twiddles of every stage, the bit-reversal swaps and the window weights of the 2048-point
// transform: identical on every frame, so built once per frame format. Using them gives
// bit-identical results to computing everything per call.
struct SpectrumTables;

// The vector width the work runs at. Every path gives the same bits; Avx only where the processor
// has it and the operating system saves its registers.
enum class SpectrumPath { Scalar, Sse2, Avx };
SpectrumPath BestSpectrumPath();

// null when memory is short. allowWideVectors false keeps to the two-lane path.
SpectrumTables* CreateSpectrumTables(bool allowWideVectors = true);
// A path the machine lacks falls back to Sse2 (for tests forcing each path).
SpectrumTables* CreateSpectrumTables(SpectrumPath path);
SpectrumPath TablesPath(const SpectrumTables& tables);
void DestroySpectrumTables(SpectrumTables* tables);

// Linear interpolation of n samples onto m points, keeping the first and the last sample;
// im is zeroed. A line of one sample gives a constant, an empty line zeros.
void ResampleLine(const int32_t* samples, int n, double* re, double* im, int m);

// In place radix-2 decimation-in-frequency transform plus bit reversal, no scaling;
// direction 1 is the forward transform. n must be a power of two (others are left alone).
// The result is always 0.
int Fft(double* re, double* im, int n, int direction);
// The same transform for n = 2048, direction 1, from precomputed tables.
void Fft2048(double* re, double* im, const SpectrumTables& tables);

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
