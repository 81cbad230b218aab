#include "cli/results/snr_method.h"

#include <cmath>

double StandardSampleRate(int width) {
  switch (width) {
    case 720:
    case 704:
      return 13.5e6;
    case 640:
      return 13.5e6 * 10.0 / 11.0;  // square pixels of 525-line pictures
    case 768:
      return 14.75e6;
    case 910:
      return 315e6 / 88.0 * 4.0;  // four times the NTSC subcarrier
    case 1135:
      return 4433618.75 * 4.0;  // four times the PAL subcarrier
    default:
      return 0.0;
  }
}

double NoiseBandTop(int height) { return height == 480 || height == 486 ? 4.2e6 : 5.0e6; }

double NominalAmplitude(int bits, bool fullRange) { return (fullRange ? 255.0 : 219.0) * std::ldexp(1.0, bits - 8); }

SnrMethod MakeSnrMethod(int kind, double sampleRateHz, int height, int bits, bool fullRange, int first, int last) {
  SnrMethod m;
  m.kind = kind;
  if (!m.Luma()) return m;
  m.bits = bits;
  m.band.sampleRateHz = sampleRateHz;
  // A band above half the sample rate cannot be sampled: it ends there.
  m.band.highHz = std::fmin(NoiseBandTop(height), sampleRateHz / 2.0);
  m.band.weighted = kind == SnrWeighted;
  m.reference = NominalAmplitude(bits, fullRange);
  m.first = first, m.last = last;
  m.intervalUs[0] = first * 1e6 / sampleRateHz;
  m.intervalUs[1] = (last + 1) * 1e6 / sampleRateHz;
  // Rounding to whole codes adds white noise of 1/12 code squared.
  m.floorDb = NoiseSnrDb(m.reference, WhiteNoiseShare(m.band) / 12.0);
  return m;
}

void PowerMeanMeter::Add(double power) {
  if (std::isnan(power)) return;
  ring_[next_] = power;
  next_ = (next_ + 1) % ring_.size();
  if (count_ < ring_.size()) ++count_;
}

double PowerMeanMeter::Db(double reference) const {
  if (count_ == 0) return NAN;
  double sum = 0.0;
  for (size_t i = 0; i < count_; ++i) sum += ring_[i];
  return NoiseSnrDb(reference, sum / static_cast<double>(count_));
}

double PowerMeanDb(const double* db, size_t count) {
  double sum = 0.0;
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    if (std::isnan(db[i])) continue;
    sum += std::pow(10.0, -db[i] / 10.0), ++n;
  }
  if (n == 0) return NAN;
  return sum > 0.0 ? -10.0 * std::log10(sum / static_cast<double>(n)) : INFINITY;
}

void LumaLineMeter::Add(const uint16_t* line) {
  const double power = LumaNoisePower(line + method_.first, method_.last - method_.first + 1, method_.band);
  frameDb_ = NoiseSnrDb(method_.reference, power);
  second_.Add(power);
}
