#include "cli/axis_labels_local.h"

#include <cmath>
#include <cstdio>

#include "analysis/spectrum.h"
#include "plot/raster.h"

namespace {

struct Placer {
  const PlotRect& r;
  const MeasureTextFn& measure;
  std::vector<AxisLabel>& out;
  void CentredAt(const std::string& t, int x, int y) {
    const TextExtent e = measure(t);
    out.push_back({t, x - e.width / 2, y - e.height / 2});
  }
  void CentredBelow(const std::string& t, int x) {
    const TextExtent e = measure(t);
    out.push_back({t, x - e.width / 2, r.bottom + 8});
  }
};

std::string Printf(const char* fmt, double v) {
  char b[32];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

}  // namespace

std::vector<AxisLabel> PageAxisLabels(int mode, const PlotRect& r, const MeasureTextFn& measure,
                                      const AnalysisSettings& s) {
  std::vector<AxisLabel> out;
  Placer p{r, measure, out};
  const int w = r.right - r.left, h = r.bottom - r.top, x0 = r.left - 20;
  if (mode == ModeOscilloscope) {
    p.CentredAt("255", x0, r.top);
    for (int v = 240; v >= 0; v -= 16) p.CentredAt(std::to_string(v), x0, r.top + gdi::MulDiv(256 - v, h, 255));
    for (int n = 0; n <= 90; n += 10) p.CentredBelow(std::to_string(n), r.left + gdi::MulDiv(n, w, 100));
    p.CentredBelow("100%", r.right);
  } else if (mode == ModeSpectrum) {
    const int sens = ClampSensitivity(s.FFTSensitivity);
    p.CentredAt("0dB", x0, r.top);
    const int d = sens <= 20 ? 2 : sens <= 50 ? 5 : 10;
    for (int n = d; n <= sens; n += d) p.CentredAt(std::to_string(-n), x0, r.top + gdi::MulDiv(n, h, sens));
    for (int f = 0; f <= 650; f += 50) p.CentredBelow(Printf("%.1f", f * 0.01), r.left + gdi::MulDiv(f, w, 675));
    p.CentredBelow("MHz", r.right);
  } else if (mode == ModeLevels) {
    p.CentredAt("100%", x0, r.top);
    for (double v = 0.1; v <= 10.0; v *= 10.0) {
      const int k = static_cast<int>(std::log10(10.0 * v) * h / 3);
      p.CentredAt(Printf("%.1f", v), x0, r.bottom - k);
    }
    for (int n = 0; n <= 240; n += 16) p.CentredBelow(std::to_string(n), r.left + gdi::MulDiv(n, w, 256));
    p.CentredBelow("255", r.right);
  }
  return out;
}
