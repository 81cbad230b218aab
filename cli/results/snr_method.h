// How a run measures SNR, said wherever a figure goes: the tool window's way (`line`), or the
// luminance noise of a quiet line in a defined band, flat (`unweighted`) or through the
// unified weighting network (`weighted`), against the nominal luminance amplitude.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/luma_noise.h"

enum SnrKind { SnrLine = 0, SnrUnweighted = 1, SnrWeighted = 2 };

struct SnrMethod {
  int kind = SnrLine;
  NoiseBand band;            // the luminance methods' band, sample rate and network
  double reference = 0.0;    // the nominal luminance amplitude, codes
  int bits = 8;              // of the samples measured
  int first = 0, last = -1;   // the measuring interval's samples
  double intervalUs[2] = {};  // the same from the line's first active sample
  double floorDb = 0.0;      // what a perfect quantiser of `bits` alone reads

  bool Luma() const { return kind != SnrLine; }
  // The channels a run measures: the colour space's three, or luminance alone.
  int Channels() const { return Luma() ? 1 : 3; }
};

// The sample rate of a line `width` samples wide by the sampling it follows (13.5 MHz for 720
// and 704, 12.27 for 640, 14.75 for 768, four times the colour subcarrier for 910 and 1135);
// 0 for any other width.
double StandardSampleRate(int width);
// The top of the noise band: 4.2 MHz for 525-line pictures (480 or 486 rows), else 5.0 MHz.
double NoiseBandTop(int height);
// The nominal luminance amplitude in codes of `bits`: 219 steps of limited range, 255 of full.
double NominalAmplitude(int bits, bool fullRange);

// The method of `kind` for a line `width` samples wide (at `sampleRateHz`) of a picture of
// `height` rows with samples of `bits`, measured over samples first..last.
SnrMethod MakeSnrMethod(int kind, double sampleRateHz, int height, int bits, bool fullRange, int first, int last);

// The running read-out of a luminance method: the noise power averaged over the last second of
// frames, as a meter integrates it, then taken to dB.
class PowerMeanMeter {
 public:
  explicit PowerMeanMeter(int frames = 25) : ring_(frames > 0 ? frames : 1, 0.0) {}
  void Add(double power);
  double Db(double reference) const;

 private:
  std::vector<double> ring_;
  size_t next_ = 0, count_ = 0;
};

// The power mean of ratios in dB: the ratio of the mean noise power they stand for.
double PowerMeanDb(const double* db, size_t count);

// One analysed line measured by a luminance method, frame after frame.
class LumaLineMeter {
 public:
  LumaLineMeter() = default;
  LumaLineMeter(const SnrMethod& method, double framesPerSecond)
      : method_(method), second_(static_cast<int>(framesPerSecond + 0.5)) {}
  // One frame's line (its measuring interval is the method's).
  void Add(const uint16_t* line);
  double FrameDb() const { return frameDb_; }
  // Over the last second of frames.
  double RunningDb() const { return second_.Db(method_.reference); }
  const SnrMethod& Method() const { return method_; }

 private:
  SnrMethod method_;
  PowerMeanMeter second_;
  double frameDb_ = 0.0;
};
