// The SNR read-out against theory: a flat field of known level plus Gaussian noise of known
// sigma, rounded to 8-bit samples as any capture is. The expected ratio is
// 20 log10((white - black + 1) / s), where s is the standard deviation of the rounded noise,
// which has a closed form through the normal distribution function.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "cli/common/exit_codes.h"
#include "cli_test_util.h"

namespace {

constexpr int kWidth = 8192;  // many samples per line keep the estimate's own spread small
constexpr int kHeight = 2;
constexpr int kFrames = 250;  // five full 50-frame rings
constexpr int kLevel = 128;

double Phi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// Variance of clamp(round(level + sigma * Z), 0, 255) for a standard normal Z.
double RoundedVariance(double sigma) {
  double mean = 0, square = 0;
  for (int v = 0; v <= 255; ++v) {
    const double lo = v == 0 ? 0.0 : Phi((v - 0.5 - kLevel) / sigma);
    const double hi = v == 255 ? 1.0 : Phi((v + 0.5 - kLevel) / sigma);
    mean += v * (hi - lo);
    square += double(v) * v * (hi - lo);
  }
  return square - mean * mean;
}

double TheoryDb(double sigma) { return 20.0 * std::log10((235 - 16 + 1) / std::sqrt(RoundedVariance(sigma))); }

void WriteNoisyField(const std::string& path, double sigma, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 2);
  std::ofstream f(path, std::ios::binary);
  for (int n = 0; n < kFrames; ++n) {
    for (size_t i = 0; i < frame.size(); i += 2) {
      const long y = std::lround(kLevel + noise(rng));
      frame[i] = static_cast<uint8_t>(std::clamp(y, 0L, 255L));
      frame[i + 1] = 128;  // U and V flat
    }
    f.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
  }
}

TEST(SnrAccuracy, FlatFieldWithGaussianNoiseMatchesTheClosedFormFrom20To60Db) {
  TempDir dir;
  double lowest = 1e9, highest = -1e9;
  for (double sigma : {22.0, 7.0, 2.2, 0.7, 0.255}) {
    const double expected = TheoryDb(sigma);
    lowest = std::min(lowest, expected);
    highest = std::max(highest, expected);
    const std::string path = dir / "field.yuv";
    WriteNoisyField(path, sigma, static_cast<uint64_t>(sigma * 1000));
    const std::string args = "-f rawvideo -s " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                             " -pix_fmt yuyv422 " + Quote(path) + " --color yuv --line 0 --interval 0:100";
    const RunResult r = Lineview(args);
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const auto rows = CsvRows(r.out);
    ASSERT_EQ(rows.size(), size_t(kFrames));
    // Each 50th read-out is the mean of 50 fresh frames: together, the mean of every frame.
    double sum = 0;
    for (int k = 49; k < kFrames; k += 50) sum += std::stod(rows[size_t(k)][2]);
    const double measured = sum / (kFrames / 50);
    EXPECT_NEAR(measured, expected, 0.05) << "sigma " << sigma;

    // Every frame's own ratio lies near the truth, from the first frame on. Below sigma 0.7 the
    // noise is mostly the rounding to whole levels, and one line's estimate of it spreads more.
    if (sigma < 0.7) continue;
    const RunResult json = Lineview(args + " --json");
    SnrStats y;
    ASSERT_TRUE(JsonSnr(json.out, "Y", &y)) << json.out;
    for (double v : {y.mean, y.min, y.max}) EXPECT_NEAR(v, expected, 0.5) << "sigma " << sigma << json.out;
  }
  EXPECT_LT(lowest, 20.5);
  EXPECT_GT(highest, 59.5);
}

}  // namespace
