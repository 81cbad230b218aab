#include "cli/live/live_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/waveform.h"
#include "cli/common/names.h"
#include "cli/run/headless_window.h"

void DefaultWindowSize(int frameWidth, int frameHeight, int* width, int* height) {
  double scale = 1.0;
  if (frameWidth > 0 && frameHeight > 0) scale = std::min({1.0, 720.0 / frameWidth, 576.0 / frameHeight});
  const int w = static_cast<int>(frameWidth * scale), h = static_cast<int>(frameHeight * scale);
  *width = std::max(w, 320) + kPanelWidth;
  *height = std::max(h, kPanelHeight);
}

LiveLayout LayoutWindow(int windowWidth, int windowHeight, int frameWidth, int frameHeight) {
  LiveLayout l;
  l.panel = {std::max(windowWidth - kPanelWidth, 0), 0, kPanelWidth, kPanelHeight};
  const int areaW = l.panel.x, areaH = windowHeight;
  if (frameWidth <= 0 || frameHeight <= 0 || areaW <= 0 || areaH <= 0) return l;
  // Integer cross-multiplication: the picture keeps the frame's shape to the pixel.
  int w = areaW, h = static_cast<int>(int64_t(areaW) * frameHeight / frameWidth);
  if (h > areaH) h = areaH, w = static_cast<int>(int64_t(areaH) * frameWidth / frameHeight);
  l.picture = {(areaW - w) / 2, (areaH - h) / 2, w, h};
  return l;
}

int LineAt(const LiveLayout& layout, int frameHeight, int x, int y) {
  const LiveRect& r = layout.picture;
  if (r.w <= 0 || r.h <= 0 || x < r.x || x >= r.x + r.w || y < r.y || y >= r.y + r.h) return -1;
  return std::clamp(static_cast<int>(int64_t(y - r.y) * frameHeight / r.h), 0, frameHeight - 1);
}

std::string PickLine(LiveControls& c, int line, int height) {
  line = std::clamp(line, 0, std::max(height - 1, 0));
  if (c.lines.size() > 1) {  // the nearest of the lines analysed
    line = *std::min_element(c.lines.begin(), c.lines.end(),
                             [line](int a, int b) { return std::abs(a - line) < std::abs(b - line); });
  }
  if (line == c.line) return {};
  c.line = line;
  return "line " + std::to_string(line);
}

namespace {

// Several lines analysed: the line `steps` places up or down the sorted list.
std::string StepThroughLines(LiveControls& c, int steps, int height) {
  std::vector<int> sorted = c.lines;
  std::sort(sorted.begin(), sorted.end());
  const auto at = std::lower_bound(sorted.begin(), sorted.end(), c.line);
  const int here = static_cast<int>(at - sorted.begin());
  const int to = std::clamp(here + steps, 0, static_cast<int>(sorted.size()) - 1);
  return PickLine(c, sorted[size_t(to)], height);
}

}  // namespace

std::string ApplyCommand(LiveControls& c, LiveCommand command, int height) {
  if (c.lines.size() > 1) {
    const int steps = command == LiveCommand::LineUp     ? -1
                      : command == LiveCommand::LineDown ? 1
                      : command == LiveCommand::TenUp    ? -10
                      : command == LiveCommand::TenDown  ? 10
                                                         : 0;
    if (steps != 0) return StepThroughLines(c, steps, height);
  }
  auto page = [&c](int p) -> std::string {
    if (p == c.page) return {};
    c.page = p;
    return std::string("page ") + PageName(p);
  };
  switch (command) {
    case LiveCommand::LineUp:
      return PickLine(c, c.line - 1, height);
    case LiveCommand::LineDown:
      return PickLine(c, c.line + 1, height);
    case LiveCommand::TenUp:
      return PickLine(c, c.line - 10, height);
    case LiveCommand::TenDown:
      return PickLine(c, c.line + 10, height);
    case LiveCommand::NextPage:
      // A page outside 0..2 (from a hand-edited file) steps to the first.
      return page(c.page >= ModeOscilloscope && c.page < ModeLevels ? c.page + 1 : ModeOscilloscope);
    case LiveCommand::Page1:
      return page(ModeOscilloscope);
    case LiveCommand::Page2:
      return page(ModeSpectrum);
    case LiveCommand::Page3:
      return page(ModeLevels);
    case LiveCommand::Colour:
      c.colorMode = c.colorMode == 1 ? 0 : 1;
      return c.colorMode == 1 ? "colour yuv" : "colour rgb";
    case LiveCommand::Pause:
      c.paused = !c.paused;
      return c.paused ? "paused" : "running";
  }
  return {};
}

std::string LiveTitle(const std::string& inputName, const LiveControls& c) {
  return "lineview \u2014 " + inputName + " \u2014 line " + std::to_string(c.line) + " \u2014 " + PageName(c.page);
}

std::string LiveInputName(const std::string& input, const std::string& format) {
  if (input.empty()) return "colour bars";
  if (input == "-") return "stdin";
  const size_t slash = input.find_last_of('/');
  if (!format.empty() || slash == std::string::npos || slash + 1 == input.size()) return input;
  return input.substr(slash + 1);
}

int LiveReadouts(const double* const snrHistory[ChannelCount], int colorMode, int64_t measured, double snr[3]) {
  const int frames = static_cast<int>(std::clamp<int64_t>(measured, 0, kSnrRingLength));
  const int first = colorMode == 1 ? ChannelY : ChannelR;
  for (int c = 0; c < 3; ++c) {
    double sum = 0;
    for (int i = 0; i < kSnrRingLength; ++i) sum += snrHistory[first + c][i];
    snr[c] = frames > 0 ? sum / frames : 0.0;
  }
  return frames;
}

std::string LiveStatus(int64_t frame, int colorMode, int frames, bool paused, bool ended, int snrMethod) {
  std::string s = "frame " + std::to_string(frame) + (colorMode == 1 ? "   YUV" : "   RGB");
  if (snrMethod != 0) {
    s += std::string("   SNR ") + SnrMethodName(snrMethod) + ": luminance, 1-s power mean";
  } else if (frames < kSnrRingLength) s += "   mean of " + std::to_string(frames) + (frames == 1 ? " frame" : " frames");
  if (paused) s += "   paused";
  if (ended) s += "   input ended";
  return s;
}

namespace {

constexpr uint32_t kValueColor = 0x000000;

void FillRect(Picture& p, int x, int y, int w, int h, uint32_t rgb) {
  for (int r = std::max(y, 0); r < std::min(y + h, p.height); ++r) {
    std::fill(p.pixels.begin() + r * p.width + std::max(x, 0), p.pixels.begin() + r * p.width + std::min(x + w, p.width),
              rgb);
  }
}

}  // namespace

void ComposePanel(Picture& panel, const PlotCanvas& canvas, const AnalysisSettings& s, const double snr[3],
                  const std::string& status, const PanelText& text, bool labelsChanged) {
  if (labelsChanged || panel.width != kPanelWidth || panel.height != kPanelHeight) {
    panel.width = kPanelWidth;
    panel.height = kPanelHeight;
    panel.pixels.assign(size_t(kPanelWidth) * kPanelHeight, kPageWhite);
    const Picture page = ComposePage(s.Mode, canvas, s, text.labels, kPageWidth, kPageHeight);
    for (int y = 0; y < page.height && y < panel.height; ++y) {
      std::copy(page.pixels.begin() + y * page.width,
                page.pixels.begin() + y * page.width + std::min(page.width, panel.width),
                panel.pixels.begin() + y * panel.width);
    }
    // A thin rule between the page and the read-outs.
    FillRect(panel, 8, kPageHeight + 2, kPanelWidth - 16, 1, kLabelColor);
  } else {
    // The labels stand as they were: only the canvas is new.
    const PlotRect& r = canvas.plotRect;
    for (int y = 0; y < canvas.plotHeight && r.top + y < panel.height; ++y) {
      const uint32_t* row = canvas.Pixels() + size_t(y) * canvas.plotWidth;
      uint32_t* to = panel.pixels.data() + size_t(r.top + y) * panel.width + r.left;
      for (int x = 0; x < canvas.plotWidth && r.left + x < panel.width; ++x) to[x] = row[x] & 0xFFFFFF;
    }
    FillRect(panel, 0, kPageHeight + 3, kPanelWidth, kPanelHeight - kPageHeight - 3, kPageWhite);
  }
  const char* const* names = ChannelNames(s.ColorMode);
  const int cell = kPanelWidth / 3;
  const int top = kPageHeight + 10;
  for (int c = 0; c < 3; ++c) {
    const int x = c * cell + 20;
    if (std::isnan(snr[c])) continue;  // a channel the method does not measure
    if (text.name) text.name->Draw(panel, x, top, std::string("SNR ") + names[c] + ", dB", kLabelColor);
    if (text.value) {
      char figure[32];
      std::snprintf(figure, sizeof figure, "%.2f", snr[c]);
      const int y = top + (text.name ? text.name->LineHeight() : 0);
      text.value->Draw(panel, x, y, figure, kValueColor);
    }
  }
  if (text.labels) text.labels->Draw(panel, 20, kPanelHeight - text.labels->LineHeight() - 6, status, kLabelColor);
}
