// Luminance noise as a measuring instrument reads it: the r.m.s. of a quiet line's samples
// after its mean and slope are taken away, band-limited and optionally weighted by the unified
// weighting network, against the nominal luminance amplitude.
#pragma once
#include <cstdint>

struct NoiseBand {
  double sampleRateHz = 13.5e6;  // the frequency of one sample of the line
  double lowHz = 10e3;
  double highHz = 5.0e6;
  bool weighted = false;  // the unified weighting network below, or a flat band
  double tauSeconds = 245e-9;
  double a = 4.5;
};

// The network's insertion loss at `hz`, dB: 10 log10[(1 + ((1 + 1/a) w tau)^2) / (1 + (w tau / a)^2)].
double UnifiedWeightingLossDb(double hz, double tauSeconds, double a);

// The band's power gain for each frequency: the network's (as a power ratio) inside the band,
// 0 outside it.
double BandGain(const NoiseBand& band, double hz);

// The share of white noise (flat from 0 to half the sample rate) that the band passes: the
// mean of BandGain over 0..fs/2.
double WhiteNoiseShare(const NoiseBand& band);

// The noise power of `count` samples, in codes squared: the samples with their least-squares
// line taken away, their spectrum band-limited and weighted. NaN for fewer than 3 samples.
double LumaNoisePower(const uint16_t* samples, int count, const NoiseBand& band);

// 10 log10(reference^2 / power): +inf for no noise at all, NaN for NaN.
double NoiseSnrDb(double referenceCodes, double power);
