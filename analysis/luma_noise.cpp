#include "analysis/luma_noise.h"

#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// In place, radix 2; `x.size()` a power of two.
void Fft(std::vector<std::complex<double>>& x) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2.0 * kPi / static_cast<double>(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1.0;
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = x[i + k], v = x[i + k + len / 2] * w;
        x[i + k] = u + v, x[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

// BandGain at each bin of a transform of `length` points, kept for the next line of the same
// band: a run measures thousands of lines alike.
const std::vector<double>& BinGains(const NoiseBand& band, size_t length) {
  thread_local std::vector<double> gains;
  thread_local NoiseBand kept;
  const bool same = gains.size() == length && kept.sampleRateHz == band.sampleRateHz && kept.lowHz == band.lowHz &&
                    kept.highHz == band.highHz && kept.weighted == band.weighted &&
                    kept.tauSeconds == band.tauSeconds && kept.a == band.a;
  if (!same) {
    gains.resize(length);
    for (size_t k = 0; k < length; ++k) {
      const double bin = static_cast<double>(k <= length / 2 ? k : length - k);
      gains[k] = BandGain(band, bin * band.sampleRateHz / static_cast<double>(length));
    }
    kept = band;
  }
  return gains;
}

}  // namespace

double UnifiedWeightingLossDb(double hz, double tauSeconds, double a) {
  const double wt = 2.0 * kPi * hz * tauSeconds;
  const double zero = (1.0 + 1.0 / a) * wt, pole = wt / a;
  return 10.0 * std::log10((1.0 + zero * zero) / (1.0 + pole * pole));
}

double BandGain(const NoiseBand& band, double hz) {
  if (hz < band.lowHz || hz > band.highHz) return 0.0;
  return band.weighted ? std::pow(10.0, -UnifiedWeightingLossDb(hz, band.tauSeconds, band.a) / 10.0) : 1.0;
}

double WhiteNoiseShare(const NoiseBand& band) {
  const double nyquist = band.sampleRateHz / 2.0;
  if (!(nyquist > 0)) return 0.0;
  constexpr int kSteps = 20000;
  double sum = 0.0;
  for (int i = 0; i < kSteps; ++i) sum += BandGain(band, nyquist * (i + 0.5) / kSteps);
  return sum / kSteps;
}

double LumaNoisePower(const uint16_t* samples, int count, const NoiseBand& band) {
  if (count < 3 || !(band.sampleRateHz > 0)) return NAN;
  // The least-squares line through the samples: a quiet line's level and slope, not noise.
  const double n = count, mid = (n - 1) / 2.0;
  double mean = 0.0, slope = 0.0, spread = 0.0;
  for (int i = 0; i < count; ++i) mean += samples[i];
  mean /= n;
  for (int i = 0; i < count; ++i) slope += (i - mid) * (samples[i] - mean), spread += (i - mid) * (i - mid);
  slope /= spread;
  // Zero-padded: the sum below is then the power of the samples through the band's filter.
  size_t length = 1;
  while (length < static_cast<size_t>(count)) length <<= 1;
  // Kept between lines: a run measures one line a frame, each the same length.
  thread_local std::vector<std::complex<double>> x;
  x.assign(length, 0.0);
  for (int i = 0; i < count; ++i) x[i] = samples[i] - mean - slope * (i - mid);
  Fft(x);
  const std::vector<double>& gains = BinGains(band, length);
  double power = 0.0;
  for (size_t k = 0; k < length; ++k) power += gains[k] * std::norm(x[k]);
  return power / (n * static_cast<double>(length));
}

double NoiseSnrDb(double referenceCodes, double power) {
  if (std::isnan(power)) return NAN;
  if (power <= 0.0) return INFINITY;
  return 10.0 * std::log10(referenceCodes * referenceCodes / power);
}
