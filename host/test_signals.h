// Built-in test signals of the bundled host: whole frames in either pixel format of the
// host contract, deterministic on every target (own RNG, no library distributions).
//
// Level conventions:
// - YUY2 frames carry BT.601 studio range: Y 16 (black) .. 235 (white), Cb/Cr 16 .. 240
//   around 128, as a capture card delivers them.
// - BGR24 frames carry full-range R'G'B' 0 .. 255.
// So 75 % colour bars are Y 180 white / 16 black in YUY2, and 191 / 0 per component in BGR24.
#pragma once
#include <cstddef>
#include <cstdint>

enum class TestSignal { Bars, Noise, Ramp, Multiburst };

constexpr int kTestSignalCount = 4;

// "bars", "noise", "ramp", "multiburst"; false for any other name.
bool ParseTestSignal(const char* name, TestSignal* signal);
const char* TestSignalName(TestSignal signal);

// Bytes of a whole frame; 0 for a non-positive size, an unknown format or a size whose
// byte count does not fit comfortably in 32 bits (the frame is then not generated).
size_t FrameBytes(int width, int height, int pixelFormat);

// Multiburst layout along the line, which spans kMultiburstLineUs microseconds:
// white flag 1..4 us, black 4..7 us, then burst k (k = 0..5) from 9 + 7k us for 6 us at
// kMultiburstMHz[k], each a sine starting at its zero crossing around 50 % grey with
// +-30 % amplitude; grey 50 % everywhere else.
constexpr double kMultiburstLineUs = 52.0;
constexpr double kMultiburstMHz[6] = {0.5, 1.0, 2.0, 3.0, 4.2, 5.8};
constexpr double kMultiburstFirstUs = 9.0;
constexpr double kMultiburstPitchUs = 7.0;
constexpr double kMultiburstLengthUs = 6.0;

// The luma level (0 black .. 1 white) of the grey signals at line position x of `width`.
double RampLevel(int x, int width);
double MultiburstLevel(int x, int width);

// Each Fill* writes the whole frame (FrameBytes bytes at `pixels`); nothing for a size or
// format that FrameBytes rejects. Every row of these three signals is the same.
void FillColourBars(uint8_t* pixels, int width, int height, int pixelFormat);
void FillRamp(uint8_t* pixels, int width, int height, int pixelFormat);
void FillMultiburst(uint8_t* pixels, int width, int height, int pixelFormat);
// 50 % grey field (Y 126 / RGB 128) with Gaussian noise of `sigma` code values on every byte.
void FillNoiseField(uint8_t* pixels, int width, int height, int pixelFormat, double sigma, uint64_t seed);

// Adds Gaussian noise (standard deviation `sigma` code values) to each of `count` bytes,
// rounding to the nearest level and clamping to 0..255. sigma <= 0 leaves the bytes alone.
void AddGaussianNoise(uint8_t* bytes, size_t count, double sigma, uint64_t seed);

// One signal into a frame. `noiseSigma` is added on top of the bars, ramp and multiburst when
// positive; the noise field always uses it (a field without noise is plain grey).
void FillTestSignal(TestSignal signal, uint8_t* pixels, int width, int height, int pixelFormat, double noiseSigma,
                    uint64_t seed);

// SplitMix64: a small, well-known generator whose outputs are fixed integers on every
// platform, so a seed gives the same frame natively and under Wine.
struct SplitMix64 {
  uint64_t state;
  uint64_t Next();
  // Uniform in (0, 1]: never 0, so a logarithm of it is always finite.
  double NextOpenUnit();
};

// Standard normal deviates by the Box-Muller transform, both of each pair used in turn.
struct GaussianSource {
  explicit GaussianSource(uint64_t seed) : rng{seed} {}
  double Next();

  SplitMix64 rng;
  double spare = 0.0;
  bool hasSpare = false;
};
