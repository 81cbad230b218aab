#include "host/test_signals.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "plugin/host_contract.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kMaxFrameBytes = size_t(1) << 29;

// Three components in 0..1: R', G', B'.
struct Rgb {
  double r, g, b;
};

uint8_t ToByte(double v) {
  const double rounded = std::floor(v + 0.5);
  if (rounded <= 0.0) return 0;
  if (rounded >= 255.0) return 255;
  return static_cast<uint8_t>(rounded);
}

// BT.601 luma, written so that a grey gives exactly its own level (the three weights
// do not add up to exactly 1 in binary, which would move 50 % grey to the level below).
double Luma(const Rgb& c) { return c.g + 0.299 * (c.r - c.g) + 0.114 * (c.b - c.g); }

// Luma and colour differences scaled to studio range.
double StudioY(const Rgb& c) { return 16.0 + 219.0 * Luma(c); }
double StudioCb(const Rgb& c) { return 128.0 + 224.0 * (c.b - Luma(c)) / 1.772; }
double StudioCr(const Rgb& c) { return 128.0 + 224.0 * (c.r - Luma(c)) / 1.402; }

// Writes one line's colours (width entries) into every row of the frame.
void WriteRows(const std::vector<Rgb>& line, uint8_t* pixels, int width, int height, int pixelFormat) {
  if (pixelFormat == PixelFormatYuy2) {
    std::vector<uint8_t> row(size_t(width) * 2);
    for (int x = 0; x + 1 < width; x += 2) {
      const Rgb& a = line[size_t(x)];
      const Rgb& b = line[size_t(x) + 1];
      // The pair shares its chroma: the mean of both pixels.
      row[size_t(x) * 2 + 0] = ToByte(StudioY(a));
      row[size_t(x) * 2 + 1] = ToByte((StudioCb(a) + StudioCb(b)) / 2.0);
      row[size_t(x) * 2 + 2] = ToByte(StudioY(b));
      row[size_t(x) * 2 + 3] = ToByte((StudioCr(a) + StudioCr(b)) / 2.0);
    }
    if (width % 2 != 0) {
      // An odd width leaves half a pair: luma and blue difference of the last pixel.
      const Rgb& a = line[size_t(width) - 1];
      row[size_t(width) * 2 - 2] = ToByte(StudioY(a));
      row[size_t(width) * 2 - 1] = ToByte(StudioCb(a));
    }
    for (int r = 0; r < height; ++r) std::memcpy(pixels + size_t(r) * row.size(), row.data(), row.size());
  } else {
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int x = 0; x < width; ++x) {
      const Rgb& c = line[size_t(x)];
      row[size_t(x) * 3 + 0] = ToByte(255.0 * c.b);
      row[size_t(x) * 3 + 1] = ToByte(255.0 * c.g);
      row[size_t(x) * 3 + 2] = ToByte(255.0 * c.r);
    }
    // Bottom-up, but every row is the same.
    for (int r = 0; r < height; ++r) std::memcpy(pixels + size_t(r) * row.size(), row.data(), row.size());
  }
}

template <typename LevelFn>
void FillGrey(uint8_t* pixels, int width, int height, int pixelFormat, LevelFn level) {
  if (FrameBytes(width, height, pixelFormat) == 0) return;
  std::vector<Rgb> line(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) {
    const double l = level(x, width);
    line[size_t(x)] = {l, l, l};
  }
  WriteRows(line, pixels, width, height, pixelFormat);
}

// Position of the centre of pixel x in microseconds along the active line.
double PixelTimeUs(int x, int width) { return (x + 0.5) * kMultiburstLineUs / width; }

}  // namespace

bool ParseTestSignal(const char* name, TestSignal* signal) {
  static const TestSignal all[kTestSignalCount] = {TestSignal::Bars, TestSignal::Noise, TestSignal::Ramp,
                                                   TestSignal::Multiburst};
  if (name == nullptr) return false;
  for (TestSignal s : all) {
    if (std::strcmp(name, TestSignalName(s)) == 0) {
      *signal = s;
      return true;
    }
  }
  return false;
}

const char* TestSignalName(TestSignal signal) {
  switch (signal) {
    case TestSignal::Bars: return "bars";
    case TestSignal::Noise: return "noise";
    case TestSignal::Ramp: return "ramp";
    case TestSignal::Multiburst: return "multiburst";
  }
  return "?";
}

size_t FrameBytes(int width, int height, int pixelFormat) {
  if (width <= 0 || height <= 0) return 0;
  size_t bytesPerPixel = 0;
  if (pixelFormat == PixelFormatYuy2) bytesPerPixel = 2;
  if (pixelFormat == PixelFormatBgr24) bytesPerPixel = 3;
  if (bytesPerPixel == 0) return 0;
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * bytesPerPixel;
  if (bytes > kMaxFrameBytes) return 0;
  return size_t(bytes);
}

double RampLevel(int x, int width) {
  if (width <= 1) return 0.0;
  return double(x) / double(width - 1);
}

double MultiburstLevel(int x, int width) {
  const double t = PixelTimeUs(x, width);
  if (t >= 1.0 && t < 4.0) return 1.0;
  if (t >= 4.0 && t < 7.0) return 0.0;
  for (int k = 0; k < 6; ++k) {
    const double start = kMultiburstFirstUs + kMultiburstPitchUs * k;
    if (t >= start && t < start + kMultiburstLengthUs) {
      // MHz times microseconds gives cycles.
      return 0.5 + 0.3 * std::sin(2.0 * kPi * kMultiburstMHz[k] * (t - start));
    }
  }
  return 0.5;
}

void FillColourBars(uint8_t* pixels, int width, int height, int pixelFormat) {
  if (FrameBytes(width, height, pixelFormat) == 0) return;
  // White, yellow, cyan, green, magenta, red, blue, black at 75 % amplitude.
  static const Rgb bars[8] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
  std::vector<Rgb> line(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) {
    const Rgb& c = bars[int64_t(x) * 8 / width];
    line[size_t(x)] = {0.75 * c.r, 0.75 * c.g, 0.75 * c.b};
  }
  WriteRows(line, pixels, width, height, pixelFormat);
}

void FillRamp(uint8_t* pixels, int width, int height, int pixelFormat) {
  FillGrey(pixels, width, height, pixelFormat, RampLevel);
}

void FillMultiburst(uint8_t* pixels, int width, int height, int pixelFormat) {
  FillGrey(pixels, width, height, pixelFormat, MultiburstLevel);
}

void FillNoiseField(uint8_t* pixels, int width, int height, int pixelFormat, double sigma, uint64_t seed) {
  const size_t bytes = FrameBytes(width, height, pixelFormat);
  if (bytes == 0) return;
  FillGrey(pixels, width, height, pixelFormat, [](int, int) { return 0.5; });
  AddGaussianNoise(pixels, bytes, sigma, seed);
}

void AddGaussianNoise(uint8_t* bytes, size_t count, double sigma, uint64_t seed) {
  if (!(sigma > 0.0)) return;  // also rejects NaN
  GaussianSource gauss(seed);
  for (size_t i = 0; i < count; ++i) bytes[i] = ToByte(bytes[i] + sigma * gauss.Next());
}

void FillTestSignal(TestSignal signal, uint8_t* pixels, int width, int height, int pixelFormat, double noiseSigma,
                    uint64_t seed) {
  switch (signal) {
    case TestSignal::Bars: FillColourBars(pixels, width, height, pixelFormat); break;
    case TestSignal::Ramp: FillRamp(pixels, width, height, pixelFormat); break;
    case TestSignal::Multiburst: FillMultiburst(pixels, width, height, pixelFormat); break;
    case TestSignal::Noise: FillNoiseField(pixels, width, height, pixelFormat, noiseSigma, seed); return;
  }
  AddGaussianNoise(pixels, FrameBytes(width, height, pixelFormat), noiseSigma, seed);
}

uint64_t SplitMix64::Next() {
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double SplitMix64::NextOpenUnit() {
  // The top 53 bits, shifted by one so the result lies in (0, 1].
  return double((Next() >> 11) + 1) * (1.0 / 9007199254740992.0);
}

double GaussianSource::Next() {
  if (hasSpare) {
    hasSpare = false;
    return spare;
  }
  const double u1 = rng.NextOpenUnit();
  const double u2 = rng.NextOpenUnit();
  const double radius = std::sqrt(-2.0 * std::log(u1));
  const double angle = 2.0 * kPi * u2;
  spare = radius * std::sin(angle);
  hasSpare = true;
  return radius * std::cos(angle);
}
