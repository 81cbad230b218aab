// The luminance methods against a model written from their definition: a flat line plus
// Gaussian noise of known sigma and spectrum (white, or triangular: amplitude rising with
// frequency), rounded to whole codes. The model integrates the noise's spectrum over the band
// (10 kHz to 5.0 or 4.2 MHz), through the unified weighting network for `weighted`, adds the
// rounding's white 1/12 code squared, and takes dB against 219 steps of the bit depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <random>

#include "cli_test_util.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kWidth = 720;
constexpr double kRate = 13.5e6;
constexpr int kRow = 101;

double Loss(double hz) {  // insertion loss of the unified weighting network, tau 245 ns, a 4.5
  const double wt = 2 * kPi * hz * 245e-9, a = 4.5;
  return 10 * std::log10((1 + std::pow((1 + 1 / a) * wt, 2)) / (1 + std::pow(wt / a, 2)));
}

// The share of a noise of spectrum f^power (0 to half the sample rate) inside the band.
double Share(double power, double top, bool weighted) {
  const int n = 200000;
  double all = 0, band = 0;
  for (int i = 0; i < n; ++i) {
    const double f = (i + 0.5) / n * kRate / 2, p = std::pow(f, power);
    all += p;
    if (f >= 10e3 && f <= top) band += p * (weighted ? std::pow(10, -Loss(f) / 10) : 1.0);
  }
  return band / all;
}

struct Clip {
  const char* name;
  int rows, bits;
  double sigma;
  bool triangular;
};

double ModelDb(const Clip& c, bool weighted) {
  const double top = c.rows == 486 ? 4.2e6 : 5.0e6;
  const double noise = c.sigma * c.sigma * Share(c.triangular ? 2 : 0, top, weighted) + Share(0, top, weighted) / 12;
  const double reference = 219 * std::ldexp(1.0, c.bits - 8);
  return 10 * std::log10(reference * reference / noise);
}

// One row of noise of variance sigma^2: white, or shaped by its spectrum (amplitude k).
std::vector<double> NoiseRow(const Clip& c, std::mt19937_64& rng) {
  std::normal_distribution<double> g(0.0, 1.0);
  std::vector<double> row(kWidth);
  if (!c.triangular) {
    for (double& v : row) v = c.sigma * g(rng);
    return row;
  }
  std::vector<std::complex<double>> spectrum(kWidth);
  double energy = 0;
  for (int k = 1; k < kWidth / 2; ++k) {
    spectrum[k] = std::complex<double>(g(rng), g(rng)) * (k / std::sqrt(2.0));
    spectrum[kWidth - k] = std::conj(spectrum[k]);
    energy += 2.0 * k * k;
  }
  const double scale = c.sigma * kWidth / std::sqrt(energy);
  for (int n = 0; n < kWidth; ++n) {
    std::complex<double> sum = 0;
    for (int k = 0; k < kWidth; ++k) sum += spectrum[k] * std::polar(1.0, 2 * kPi * k * n / kWidth);
    row[n] = sum.real() / kWidth * scale;
  }
  return row;
}

// 100 frames of planar 4:2:0 at the clip's depth (little-endian words above 8 bits): mid grey,
// the measured row noisy.
void WriteClip(const Clip& c, const std::string& path) {
  std::mt19937_64 rng(c.rows * 100 + c.bits);
  const int bytes = c.bits > 8 ? 2 : 1, level = 128 << (c.bits - 8);
  const size_t luma = size_t(kWidth) * c.rows, frame = luma * 3 / 2;
  std::vector<uint16_t> samples(frame, static_cast<uint16_t>(level));
  std::vector<char> out(frame * bytes);
  std::ofstream f(path, std::ios::binary);
  for (int n = 0; n < 100; ++n) {
    const std::vector<double> noise = NoiseRow(c, rng);
    for (int x = 0; x < kWidth; ++x) {
      samples[size_t(kRow) * kWidth + x] = static_cast<uint16_t>(std::clamp(std::lround(level + noise[x]), 0L, (1L << c.bits) - 1));
    }
    for (size_t i = 0; i < frame; ++i) {
      out[i * bytes] = static_cast<char>(samples[i] & 0xff);
      if (bytes == 2) out[i * 2 + 1] = static_cast<char>(samples[i] >> 8);
    }
    f.write(out.data(), static_cast<std::streamsize>(out.size()));
  }
}

double MeasuredDb(const std::string& clip, const Clip& c, const char* method, std::string* json = nullptr) {
  const std::string format = c.bits > 8 ? "yuv420p10le" : "yuv420p";
  const RunResult r = RunShell("cat " + Quote(clip) + " | " + Quote(LineviewExe()) + " -f rawvideo -pix_fmt " + format +
                               " -s 720x" + std::to_string(c.rows) + " --line " + std::to_string(kRow) +
                               " --interval 5:95 --snr " + method + " --json -");
  EXPECT_EQ(r.status, 0) << r.err;
  if (json) *json = r.out;
  SnrStats s;
  return JsonSnr(r.out, "Y", &s) ? s.mean : NAN;
}

TEST(LumaSnr, UnweightedAndWeightedReadTheModelsFigures) {
  const Clip clips[] = {
      {"625 lines, 10 bits, white, sigma 8", 576, 10, 8.0, false},
      {"625 lines, 10 bits, triangular, sigma 8", 576, 10, 8.0, true},
      {"525 lines, 10 bits, white, sigma 8", 486, 10, 8.0, false},
      {"625 lines, 8 bits, white, sigma 2", 576, 8, 2.0, false},
      {"625 lines, 10 bits, white, sigma 2 (half an 8-bit code)", 576, 10, 2.0, false},
  };
  TempDir dir;
  for (const Clip& c : clips) {
    SCOPED_TRACE(c.name);
    const std::string clip = dir / "clip.yuv";
    WriteClip(c, clip);
    std::string json;
    const double unweighted = MeasuredDb(clip, c, "unweighted", &json);
    const double weighted = MeasuredDb(clip, c, "weighted");
    std::printf("%s: unweighted %.2f dB (model %.2f), weighted %.2f dB (model %.2f)\n", c.name, unweighted,
                ModelDb(c, false), weighted, ModelDb(c, true));
    EXPECT_NEAR(unweighted, ModelDb(c, false), 0.3);
    EXPECT_NEAR(weighted, ModelDb(c, true), 0.3);
    EXPECT_NEAR(weighted - unweighted, ModelDb(c, true) - ModelDb(c, false), 0.2);
    const std::string reference = "\"reference\": " + std::to_string(219 << (c.bits - 8));
    EXPECT_NE(json.find(reference), std::string::npos) << json;
    EXPECT_NE(json.find(c.rows == 486 ? "\"high_hz\": 4200000" : "\"high_hz\": 5000000"), std::string::npos) << json;
  }
}

// The network's figures as they are published: 14.8 dB at high frequencies; 7.4 and 12.2 dB
// more than unweighted for white and triangular noise in 5 MHz, 6.8 and 11.5 in 4.2 MHz.
TEST(LumaSnr, ModelMatchesThePublishedWeightingFactors) {
  EXPECT_NEAR(Loss(1e12), 14.8, 0.05);
  const struct {
    double power, top, db;
  } cases[] = {{0, 5e6, 7.4}, {2, 5e6, 12.2}, {0, 4.2e6, 6.8}, {2, 4.2e6, 11.5}};
  for (const auto& c : cases) EXPECT_NEAR(10 * std::log10(Share(c.power, c.top, false) / Share(c.power, c.top, true)), c.db, 0.05);
}

// Gray 8-bit frames: `rows` rows of mid grey, the line at row 4 noisy by frame (sigma per frame).
void WriteGray(const std::string& path, int width, int rows, const std::vector<double>& sigmas) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> g(0.0, 1.0);
  std::ofstream f(path, std::ios::binary);
  std::vector<char> frame(size_t(width) * rows, static_cast<char>(128));
  for (double sigma : sigmas) {
    for (int x = 0; x < width; ++x) frame[size_t(4) * width + x] = static_cast<char>(std::clamp(std::lround(128 + sigma * g(rng)), 0L, 255L));
    f.write(frame.data(), static_cast<std::streamsize>(frame.size()));
  }
}

TEST(LumaSnr, AWidthWithoutAStandardSamplingNeedsItsSampleRate) {
  TempDir dir;
  const std::string clip = dir / "wide.gray";
  WriteGray(clip, 1000, 8, std::vector<double>(5, 2.0));
  const std::string run = "-f rawvideo -pix_fmt gray -s 1000x8 --line 4 --snr weighted --json " + Quote(clip);
  const RunResult refused = Lineview(run);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("--sample-rate"), std::string::npos) << refused.err;
  const RunResult measured = Lineview(run + " --sample-rate 18.75 --sidecar=" + Quote(dir.Path()));
  EXPECT_EQ(measured.status, 0) << measured.err;
  EXPECT_NE(measured.out.find("\"sample_rate_hz\": 18750000"), std::string::npos) << measured.out;
  // The sidecar keeps the method and the figures: read back, the summary says the same.
  const RunResult back = Lineview("--json --from " + Quote(dir / "wide.gray.lineview.xml.gz"));
  EXPECT_EQ(back.status, 0) << back.err;
  auto method = [](std::string json) {  // the method and the figures, whatever the layout
    json.erase(std::remove_if(json.begin(), json.end(), ::isspace), json.end());
    return json.substr(json.find("\"snr_method\""), json.find("\"quiet_line\"") - json.find("\"snr_method\""));
  };
  EXPECT_EQ(method(back.out), method(measured.out));
  EXPECT_EQ(Lineview("--snr weighted --color rgb").status, 2);
  // An interval too short to hold noise is refused, not measured as NaN.
  EXPECT_EQ(Lineview(run + " --sample-rate 18.75 --interval 50:50.1").status, 2);
}

// A 0.2 s and a 2 s burst of noise on a quiet line, 8 s at 25 frames a second: with a minimum
// duration of 1 s only the long one is a segment, whichever way SNR is measured.
TEST(LumaSnr, SegmentsShorterThanTheMinimumDurationAreDropped) {
  TempDir dir;
  std::vector<double> sigmas(200, 1.0);
  for (int n = 25; n < 30; ++n) sigmas[n] = 20.0;
  for (int n = 100; n < 150; ++n) sigmas[n] = 20.0;
  const std::string clip = dir / "bursts.gray";
  WriteGray(clip, kWidth, 8, sigmas);
  for (const char* method : {"line", "unweighted", "weighted"}) {
    SCOPED_TRACE(method);
    const RunResult r = Lineview("-f rawvideo -pix_fmt gray -s 720x8 -r 25 --line 4 --snr " + std::string(method) +
                                 " --min-snr 35 --min-duration 1 --flag-gap 0 --json -y --sidecar=" +
                                 Quote(dir.Path()) + " " + Quote(clip));
    EXPECT_EQ(r.status, 15) << r.err;  // flagged
    const size_t at = r.out.find("\"segments\": [{");
    ASSERT_NE(at, std::string::npos) << r.out;
    double start = 0, end = 0, duration = 0, worst = 0, mean = 0;
    long long first = 0, last = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "\"segments\": [{\"start\": %lf, \"end\": %lf, \"duration\": %lf, "
                          "\"first_frame\": %lld, \"last_frame\": %lld, \"worst\": %lf, \"mean\": %lf",
                          &start, &end, &duration, &first, &last, &worst, &mean), 7) << r.out;
    EXPECT_NEAR(start, 4.0, 1e-6);
    EXPECT_NEAR(duration, 2.0, 1e-6);
    EXPECT_EQ(first, 100);
    EXPECT_EQ(last, 149);
    EXPECT_LE(worst, mean);
    EXPECT_LT(mean, 35.0);
    EXPECT_EQ(r.out.find("}, {\"start\""), std::string::npos) << "one segment only: " << r.out;
    // The sidecar records the same segment with the thresholds it was judged by.
    const std::string sidecar = RunShell("zcat " + Quote(dir / "bursts.gray.lineview.xml.gz")).out;
    EXPECT_NE(sidecar.find("key=\"lineview.min_duration\" value=\"1\""), std::string::npos);
    EXPECT_NE(sidecar.find("key=\"lineview.segment.1.duration\" value=\"2\""), std::string::npos);
    EXPECT_EQ(sidecar.find("lineview.segment.2."), std::string::npos);
  }
}

}  // namespace
