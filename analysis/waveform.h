// The oscilloscope page: signal-to-noise ratio over the measuring interval of the line,
// averaged over the last 50 frames per channel, and the waveform with its reference lines.
#pragma once
#include <cstdint>

#include "records/analysis_settings.h"

class PlotCanvas;

constexpr int kSnrRingLength = 50;
// Below this sigma the ratio is capped (a flat interval is not an error).
constexpr double kSnrNoiseFloor = 0.036060891;

// The measuring interval in samples, inclusive, with count = last - first + 1 >= 1.
struct SnrInterval {
  int first;
  int last;
  int count;
};

// Maps StartCount/StopCount (tenths of a percent of the line) onto a line of n samples,
// rounding like MulDiv over n - 1. Hand-edited values are clamped to 0..1000 and an
// inverted pair collapses onto the start, so the interval always lies inside the line.
// n < 1 is treated as 1.
SnrInterval WaveformInterval(int n, int startCount, int stopCount);

// The measuring interval in tenths of a percent, as the ratio and the reference lines use it:
// both clamped to 0..1000, an inverted pair collapsing onto the start.
void ClampMeasuringInterval(int startCount, int stopCount, int* start, int* stop);

// The black and white levels the ratio and the reference lines use: clamped to 0..255,
// white never below black, so the numerator white - black + 1 is at least 1.
void ClampReferenceLevels(int whiteLevel, int blackLevel, int* white, int* black);

// Sets the 50 slots of one ring to 0.0.
void ClearSnrHistory(double* ring);

// Measures samples[first..last] (count = last - first + 1 samples), stores the ratio in dB
// at ring[index], advances index (wrapping at 50) and returns the mean of all 50 slots.
// An empty interval counts as flat; an index outside the ring restarts at slot 0.
double ComputeSnr(const int32_t* samples, int first, int last, int count, double* ring, int32_t& index,
                  int whiteLevel, int blackLevel);

// The SNR step of the page: the three channels of the colour space (ColorMode 1: Y, U, V;
// anything else: R, G, B), shown or not, into their rings and snrDisplay[0..2].
void MeasureWaveform(const AnalysisSettings& s, int n, int32_t* const channels[ChannelCount],
                     double* const snrHistory[ChannelCount], int32_t snrHistoryIndex[ChannelCount],
                     double snrDisplay[3]);

// The whole per-frame work of the oscilloscope page: SNR of the three channels of the colour
// space into their rings and snrDisplay, then grid, traces and reference lines on `canvas`,
// then Present. channels/snrHistory/snrHistoryIndex are indexed by ChannelIndex.
void RenderWaveform(const AnalysisSettings& s, int n, int32_t* const channels[ChannelCount],
                    double* const snrHistory[ChannelCount], int32_t snrHistoryIndex[ChannelCount],
                    double snrDisplay[3], PlotCanvas& canvas);
