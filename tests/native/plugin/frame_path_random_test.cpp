// Randomised whole frame path: hand-edited settings (every out-of-range value the analyses
// guard against), odd formats and sizes, channel changes and reconfiguration, with small
// canvases. Run under ASan/UBSan it checks that no frame reads or writes out of bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "plot/plot_canvas.h"
#include "plugin/analysis_state.h"
#include "settings/settings_table.h"
#include "plugin/tool_window_link.h"

namespace {

class SmallCanvasWindow final : public ToolWindowLink {
 public:
  bool IsVisible() override { return true; }
  void PostNotify(int) override {}
  PlotCanvas* PageCanvas(int mode) override {
    return mode >= 0 && mode < 3 && !hidePages ? canvases[mode].get() : nullptr;
  }
  std::unique_ptr<PlotCanvas> canvases[3];
  bool hidePages = false;
};

int32_t Pick(std::mt19937& gen) {
  static const int32_t kEdges[] = {std::numeric_limits<int32_t>::min(), -1000, -2, -1, 0, 1, 2, 3, 4, 9, 10, 11,
                                   19, 20, 21, 49, 50, 51, 55, 109, 110, 111, 234, 235, 254, 255, 256, 999, 1000,
                                   1001, std::numeric_limits<int32_t>::max()};
  if (gen() % 3 == 0) return static_cast<int32_t>(gen());
  return kEdges[gen() % (sizeof kEdges / sizeof kEdges[0])];
}

}  // namespace

TEST(FramePathRandom, ManyFramesWithHandEditedSettingsStaySafe) {
  std::mt19937 gen(20240601);
  AnalysisState state;
  state.liveSettings = DefaultSettings();
  SmallCanvasWindow window;
  std::vector<uint8_t> pixels;
  ChannelInfo channel{};
  FrameInfo frame{};
  const int kWidths[] = {0, 1, 2, 3, 4, 5, 7, 8, 63, 720, 2047, 2048, 2049};
  const int frames = 200000;
  int analysed = 0;
  for (int f = 0; f < frames; ++f) {
    if (f % 400 == 0) {
      // New format, new canvases.
      FrameFormat format{};
      format.width = gen() % 2 ? kWidths[gen() % (sizeof kWidths / sizeof kWidths[0])] : static_cast<int>(gen() % 100);
      format.height = gen() % 20 == 0 ? 0 : 1 + static_cast<int>(gen() % 5);
      format.pixelFormat = gen() % 8 == 0 ? static_cast<int>(gen() % 5) - 1 : static_cast<int>(gen() % 2);
      if (f % 1200 == 0) ReleaseStateBuffers(state);  // sometimes released, sometimes configured over
      state.liveSettings.TVLine = Pick(gen);
      ConfigureState(state, format);
      const size_t bytes = static_cast<size_t>(std::max(format.width, 0)) * std::max(format.height, 0) * 3;
      pixels.assign(bytes + 1, 0);
      for (uint8_t& b : pixels) b = static_cast<uint8_t>(gen());
      for (auto& c : window.canvases) c = std::make_unique<PlotCanvas>(1 + gen() % 40, 1 + gen() % 30);
    }
    // The window edits single fields at any time.
    int32_t* fields = &state.liveSettings.TVLine;
    for (int k = gen() % 4; k > 0; --k) StoreSetting(fields[gen() % kSettingCount], Pick(gen));
    // Mostly real show flags and colour spaces, so traces get drawn.
    AnalysisSettings& live = state.liveSettings;
    for (int32_t* flag : {&live.RColor, &live.GColor, &live.BColor, &live.YColor, &live.UColor, &live.VColor})
      if (gen() % 8 != 0) StoreSetting(*flag, static_cast<int32_t>(gen() % 2));
    if (gen() % 8 != 0) StoreSetting(state.liveSettings.ColorMode, static_cast<int32_t>(gen() % 2));
    StoreSetting(state.liveSettings.Mode, gen() % 10 == 0 ? Pick(gen) : static_cast<int32_t>(gen() % 3));
    window.hidePages = gen() % 50 == 0;
    channel.channelNumber = static_cast<int32_t>(gen() % 3);
    frame.pixels = gen() % 100 == 0 ? nullptr : pixels.data();
    frame.channelInfo = gen() % 100 == 0 ? nullptr : &channel;
    ProcessFrameState(state, frame, &window);
    if (state.BuffersReady() && frame.pixels && !window.hidePages && state.liveSettings.Mode >= 0 &&
        state.liveSettings.Mode <= 2)
      ++analysed;

    if (!state.BuffersReady()) continue;
    for (int c = 0; c < ChannelCount; ++c) {
      ASSERT_GE(state.snrHistoryIndex[c], 0);
      ASSERT_LT(state.snrHistoryIndex[c], kSnrRingLength);
      for (int j = 0; j < kSnrRingLength; ++j) ASSERT_TRUE(std::isfinite(state.snrHistory[c][j])) << f;
    }
    for (double v : state.snrDisplay) ASSERT_TRUE(std::isfinite(v)) << f;
  }
  ReleaseStateBuffers(state);
  EXPECT_GT(analysed, frames / 2);  // most frames really reach an analysis
}
