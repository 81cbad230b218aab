// The spectrum page's analysis per frame in the Windows builds (run under Wine for the 32-bit
// DLL's figure): three channels of one 720-sample line, Hanning window, through the path the
// tables choose. Uses only what every version of the interface has, so the same file built
// against an older tree measures that one too.
//
//   spectrum_bench [--rounds N]
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "analysis/spectrum.h"

namespace {

constexpr int kWidth = 720;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 2000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  // Colour bars with a little noise, R G B: as the native analysis bench has them.
  const int bars[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                          {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};
  std::vector<int32_t> lines[3];
  uint32_t x = 3;
  for (int c = 0; c < 3; ++c) {
    lines[c].resize(kWidth);
    for (int i = 0; i < kWidth; ++i) {
      x = x * 1664525u + 1013904223u;
      lines[c][i] = std::clamp(bars[i * 8 / kWidth][c] + static_cast<int>(x >> 29) - 4, 0, 255);
    }
  }
  SpectrumTables* tables = CreateSpectrumTables();
  std::vector<double> re(kFftPoints), im(kFftPoints), mag(kFftPoints);
  // Batches of 20 calls, so that the timer's resolution does not matter.
  constexpr int kBatch = 20;
  std::vector<double> perCall;
  double sink = 0;
  for (int r = 0; r < rounds / 10 + 10; ++r) {
    const double start = Now();
    for (int b = 0; b < kBatch; ++b) {
      for (int c = 0; c < 3; ++c) {
        ComputeSpectrum(lines[c].data(), kWidth, WindowHanning, 40, re.data(), im.data(), mag.data(), tables);
        sink += mag[100];
      }
    }
    if (r >= 10) perCall.push_back((Now() - start) / kBatch * 1e6);  // the first ten warm up
  }
  DestroySpectrumTables(tables);
  std::sort(perCall.begin(), perCall.end());
  std::printf("spectrum_bench: three channels of a 720-sample line, Hanning: median %.2f us, min %.2f us (%zu batches)%s\n",
              perCall[perCall.size() / 2], perCall.front(), perCall.size(), sink == 0.123 ? " " : "");
  return 0;
}
