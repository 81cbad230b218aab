#include "ui/axis_labels.h"

#include <algorithm>

#include "analysis/spectrum.h"
#include "plot/raster.h"
#include "ui/number_text.h"

namespace {

// No screen has a plot beyond this; refusing larger coordinates and text sizes keeps every
// position below inside int.
constexpr int kMaxCoordinate = 1 << 24;

bool Usable(int32_t v) { return v >= -kMaxCoordinate && v <= kMaxCoordinate; }

bool UsableRect(const PlotRect& r) {
  return Usable(r.left) && Usable(r.top) && Usable(r.right) && Usable(r.bottom);
}

// A distance in pixels at 96 DPI, at `dpi`; a DPI no screen has counts as 96.
int AtDpi(int pixels, int dpi) { return dpi > 0 && dpi <= 4800 ? gdi::MulDiv(pixels, dpi, 96) : pixels; }

class LabelPlacer {
 public:
  LabelPlacer(const PlotRect& rect, const MeasureTextFn& measure, int dpi)
      : rect_(rect), measure_(measure), below_(AtDpi(8, dpi)), x0_(rect.left - AtDpi(20, dpi)) {}

  // The centre line of the labels left of the plot.
  int X0() const { return x0_; }

  // Top-left corner at (x - width/2, y - height/2), halves truncated toward zero.
  void CentredAt(const std::string& text, int x, int y) {
    const TextExtent e = Measure(text);
    labels_.push_back({text, x - e.width / 2, y - e.height / 2});
  }

  // Horizontally centred on x, top 8 pixels (at 96 DPI) below the plot's bottom edge.
  void CentredBelow(const std::string& text, int x) {
    const TextExtent e = Measure(text);
    labels_.push_back({text, x - e.width / 2, rect_.bottom + below_});
  }

  std::vector<AxisLabel> Take() { return std::move(labels_); }

 private:
  TextExtent Measure(const std::string& text) const {
    if (!measure_) return {0, 0};
    TextExtent e = measure_(text);
    e.width = std::clamp(e.width, 0, kMaxCoordinate);
    e.height = std::clamp(e.height, 0, kMaxCoordinate);
    return e;
  }

  const PlotRect& rect_;
  const MeasureTextFn& measure_;
  const int below_;
  const int x0_;
  std::vector<AxisLabel> labels_;
};

}  // namespace

int32_t EffectiveSensitivity(int32_t stored) { return ClampSensitivity(stored); }

int32_t StepSensitivity(int32_t current, bool up) {
  const int32_t s = EffectiveSensitivity(current);
  int32_t next;
  if (up) {
    next = s >= 50 ? s + 10 : s >= 20 ? s + 5 : s + 2;
  } else {
    next = s <= 20 ? s - 2 : s <= 50 ? s - 5 : s - 10;
  }
  return EffectiveSensitivity(next);
}

std::vector<AxisLabel> ScopeAxisLabels(const PlotRect& r, const MeasureTextFn& measure, int dpi) {
  if (!UsableRect(r)) return {};
  LabelPlacer place(r, measure, dpi);
  const int w = r.right - r.left, h = r.bottom - r.top, x0 = place.X0();
  place.CentredAt("255", x0, r.top);
  // Offsets in steps of 16 over a divisor of 255: 0 ends just below the bottom edge.
  for (int v = 240; v >= 0; v -= 16) place.CentredAt(std::to_string(v), x0, r.top + gdi::MulDiv(256 - v, h, 255));
  for (int n = 0; n <= 90; n += 10) place.CentredBelow(std::to_string(n), r.left + gdi::MulDiv(n, w, 100));
  place.CentredBelow("100%", r.right);
  return place.Take();
}

std::vector<AxisLabel> SpectrumAxisLabels(const PlotRect& r, const MeasureTextFn& measure, int32_t sensitivity,
                                          int dpi) {
  if (!UsableRect(r)) return {};
  LabelPlacer place(r, measure, dpi);
  const int w = r.right - r.left, h = r.bottom - r.top, x0 = place.X0();
  const int s = EffectiveSensitivity(sensitivity);
  const int d = SpectrumGridStep(s);
  place.CentredAt("0dB", x0, r.top);
  for (int n = d; n <= s; n += d) place.CentredAt(std::to_string(-n), x0, r.top + gdi::MulDiv(n, h, s));
  // f in hundredths of a MHz; the width spans 0..6.75 MHz.
  for (int f = 0; f <= 650; f += 50) place.CentredBelow(FormatTenths(f / 10), r.left + gdi::MulDiv(f, w, 675));
  place.CentredBelow("MHz", r.right);
  return place.Take();
}

std::vector<AxisLabel> LevelsAxisLabels(const PlotRect& r, const MeasureTextFn& measure, int dpi) {
  if (!UsableRect(r)) return {};
  LabelPlacer place(r, measure, dpi);
  const int w = r.right - r.left, h = r.bottom - r.top, x0 = place.X0();
  place.CentredAt("100%", x0, r.top);
  // Three decades of percent: 0.1, 1.0 and 10.0 at 0, 1 and 2 thirds of the height, so
  // log10(10 v) is exactly the decade index.
  int64_t tenths = 1;
  for (int decade = 0; decade < 3; ++decade, tenths *= 10) {
    const int k = static_cast<int>(static_cast<int64_t>(decade) * h / 3);
    place.CentredAt(FormatTenths(tenths), x0, r.bottom - k);
  }
  for (int n = 0; n <= 240; n += 16) place.CentredBelow(std::to_string(n), r.left + gdi::MulDiv(n, w, 256));
  place.CentredBelow("255", r.right);
  return place.Take();
}

std::vector<AxisLabel> PageAxisLabels(int mode, const PlotRect& plotRect, const MeasureTextFn& measure,
                                      const AnalysisSettings& settings, int dpi) {
  switch (mode) {
    case ModeOscilloscope:
      return ScopeAxisLabels(plotRect, measure, dpi);
    case ModeSpectrum:
      return SpectrumAxisLabels(plotRect, measure, LoadSetting(settings.FFTSensitivity), dpi);
    case ModeLevels:
      return LevelsAxisLabels(plotRect, measure, dpi);
    default:
      return {};
  }
}
