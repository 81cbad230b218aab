// The frame path on a video thread against a window thread that opens and closes the tool
// window (its visibility and page canvases change under analysisLock), reads the published
// results the way the window's notice handler does, and writes settings fields without the
// lock. Run under ThreadSanitizer (preset native-tsan) it checks the locking of the whole pattern.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "plot/plot_canvas.h"
#include "plugin/analysis_state.h"
#include "plugin/tool_window_link.h"
#include "settings/settings_table.h"

namespace {

// Everything the window side changes is changed with analysisLock held, as the tool window
// does when it creates and destroys its pages.
class ComingAndGoingWindow final : public ToolWindowLink {
 public:
  bool IsVisible() override { return visible; }
  void PostNotify(int wParam) override {
    posted.fetch_add(1, std::memory_order_relaxed);
    if (wParam == 2) channelNotices.fetch_add(1, std::memory_order_relaxed);
  }
  PlotCanvas* PageCanvas(int mode) override { return mode >= 0 && mode < 3 ? canvases[mode].get() : nullptr; }

  bool visible = false;
  std::unique_ptr<PlotCanvas> canvases[3];
  std::atomic<int> posted{0}, channelNotices{0};
};

}  // namespace

TEST(FramePathWindowLifetime, WindowComesAndGoesWhileFramesRunAndSettingsChange) {
  AnalysisState state;
  state.liveSettings = DefaultSettings();
  const int width = 720, height = 576;
  FrameFormat format{width, height, 0, PixelFormatYuy2};
  ConfigureState(state, format);
  ASSERT_TRUE(state.BuffersReady());
  ComingAndGoingWindow window;

  std::atomic<bool> windowDone{false};
  std::atomic<int> frames{0};
  std::thread video([&] {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 2);
    std::mt19937 gen(3);
    for (uint8_t& b : pixels) b = static_cast<uint8_t>(16 + gen() % 220);
    ChannelInfo channel{};
    FrameInfo frame{};
    frame.pixels = pixels.data();
    frame.channelInfo = &channel;
    const int numbers[] = {4, -2, -3, 7, -1};
    for (int n = 0; !windowDone.load() || n < 50; ++n) {
      channel.channelNumber = numbers[(n / 3) % 5];
      std::snprintf(channel.channelName, sizeof channel.channelName, "ch%d", channel.channelNumber);
      channel.frequencyHz = 49750000 + 1000 * n;
      ProcessFrameState(state, frame, &window);
      frames.fetch_add(1, std::memory_order_relaxed);
    }
  });

  std::mt19937 gen(4);
  int shownCode = 0;
  std::string shownName;
  double shownSnr[3] = {};
  AnalysisSettings& live = state.liveSettings;
  // At least 300 openings, and on until a few hundred frames were analysed in open windows.
  for (int round = 0; round < 300 || (window.posted.load() < 400 && round < 200000); ++round) {
    {
      AnalysisLockGuard hold(state.analysisLock);  // the window and its pages are created
      for (auto& c : window.canvases) c = std::make_unique<PlotCanvas>(40 + gen() % 200, 30 + gen() % 150);
      window.visible = true;
    }
    for (int action = 0; action < 5; ++action) {
      // User actions: single fields, no lock.
      StoreSetting(live.Mode, static_cast<int32_t>(gen() % 3));
      StoreSetting(live.ColorMode, static_cast<int32_t>(gen() % 2));
      StoreSetting((&live.RColor)[gen() % 6], static_cast<int32_t>(gen() % 2));
      StoreSetting(live.TVLine, static_cast<int32_t>(gen() % height));
      StoreSetting(live.FFTSensitivity, static_cast<int32_t>(10 + gen() % 60));
      StoreSetting(live.LevDiagMode, static_cast<int32_t>(gen() % 3));
      // The notice handler: results and channel read under the lock.
      AnalysisLockGuard hold(state.analysisLock);
      for (int i = 0; i < 3; ++i) shownSnr[i] = state.snrDisplay[i];
      shownCode = state.currentChannelCode;
      shownName.assign(state.currentChannelName);
    }
    std::this_thread::yield();
    {
      AnalysisLockGuard hold(state.analysisLock);  // destruction: hidden, pages gone
      window.visible = false;
      for (auto& c : window.canvases) c.reset();
    }
  }
  windowDone = true;
  video.join();

  EXPECT_GT(frames.load(), 0);
  EXPECT_GE(window.posted.load(), 400);
  for (double v : shownSnr) EXPECT_TRUE(std::isfinite(v));
  EXPECT_TRUE(shownCode >= -3 && shownCode <= 8) << shownCode;
  EXPECT_TRUE(shownName.empty() || shownName.rfind("ch", 0) == 0) << shownName;
  ReleaseStateBuffers(state);
}
