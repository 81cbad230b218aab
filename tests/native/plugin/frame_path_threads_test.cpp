// The frame path on a video thread against a window thread that opens and closes the tool
// window (its visibility and page canvases change under analysisLock), reads the published
// results the way the window's notice handler does, and writes settings fields without the
// lock. Run under ThreadSanitizer (preset native-tsan) it checks the locking of the whole pattern.
#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

// A visible window with a canvas per page, as the frame path finds the open tool window.
class OpenWindow final : public ToolWindowLink {
 public:
  bool IsVisible() override { return true; }
  void PostNotify(int) override { posted.fetch_add(1, std::memory_order_relaxed); }
  PlotCanvas* PageCanvas(int mode) override { return mode >= 0 && mode < 3 ? &canvases[mode] : nullptr; }
  PlotCanvas canvases[3] = {PlotCanvas(320, 120), PlotCanvas(320, 120), PlotCanvas(320, 120)};
  std::atomic<int> posted{0};
};

}  // namespace

// A host that breaks the calling order: ReleaseBuffers and Configure with new formats (two very
// wide ones among them) on one thread while its video thread keeps calling ProcessFrame. Each
// frame sees a whole set of buffers or none; under ThreadSanitizer this checks the locking of
// the reconfiguration. Afterwards the next ordinary frame is marked and measured exactly.
TEST(FramePathReconfiguration, ReleaseAndConfigureStormAgainstFrames) {
  const FrameFormat formats[] = {{131072, 4, 0, PixelFormatYuy2}, {100000, 6, 0, PixelFormatBgr24},
                                 {720, 576, 0, PixelFormatYuy2},  {720, 576, 0, PixelFormatBgr24},
                                 {64, 16, 0, PixelFormatYuy2},    {0, 0, 0, PixelFormatYuy2}};
  size_t largest = 0;
  for (const FrameFormat& f : formats) {
    largest = std::max(largest, static_cast<size_t>(f.width) * f.height * (f.pixelFormat == PixelFormatBgr24 ? 3 : 2));
  }
  AnalysisState state;
  state.liveSettings = DefaultSettings();
  ConfigureState(state, formats[2]);
  OpenWindow window;

  std::atomic<bool> stormDone{false};
  std::atomic<int> framesCalled{0}, framesReturned{0};
  std::thread video([&] {
    // The host's frame is as large as the largest format: whichever format the plug-in holds
    // when a frame comes, the frame has its bytes.
    std::vector<uint8_t> pixels(largest, 128);
    ChannelInfo channel{};
    channel.channelNumber = -1;
    FrameInfo frame{};
    frame.pixels = pixels.data();
    frame.channelInfo = &channel;
    for (int n = 0; !stormDone.load() || n < 20; ++n) {
      StoreSetting(state.liveSettings.Mode, n % 3);
      framesCalled.fetch_add(1);
      ProcessFrameState(state, frame, &window);
      framesReturned.fetch_add(1);
    }
  });
  const int rounds = 60;
  for (int round = 0; round < rounds; ++round) {
    ReleaseStateBuffers(state);
    ConfigureState(state, formats[round % 6]);
    if (round % 4 == 3) ConfigureState(state, formats[(round + 1) % 6]);  // twice, no release between
    std::this_thread::yield();
  }
  stormDone = true;
  video.join();
  EXPECT_EQ(framesReturned.load(), framesCalled.load());
  EXPECT_GE(framesCalled.load(), 20);
  // Configure lowered the line to each height (the empty format's: to -1), and the frames
  // clamped it back into their frame.
  EXPECT_EQ(LoadSetting(state.liveSettings.TVLine), -1);

  // An ordinary session again: 720x576 YUY2, flat grey, line 100 on the scope page.
  ReleaseStateBuffers(state);
  StoreSetting(state.liveSettings.TVLine, 100);
  StoreSetting(state.liveSettings.Mode, 0);
  ConfigureState(state, formats[2]);
  std::vector<uint8_t> pixels(720 * 576 * 2, 128);
  ChannelInfo channel{};
  channel.channelNumber = -1;
  FrameInfo frame{};
  frame.pixels = pixels.data();
  frame.channelInfo = &channel;
  ProcessFrameState(state, frame, &window);
  // The red marker on lines 100 and 101 over grey 128: Y +76, U -43, V +127 (clamped to 255).
  int wrong = 0;
  for (int line = 0; line < 576; ++line) {
    const bool marked = line == 100 || line == 101;
    const uint8_t want[4] = {static_cast<uint8_t>(marked ? 204 : 128), static_cast<uint8_t>(marked ? 85 : 128),
                             static_cast<uint8_t>(marked ? 204 : 128), static_cast<uint8_t>(marked ? 255 : 128)};
    for (int i = 0; i < 720 * 2; ++i) wrong += pixels[static_cast<size_t>(line) * 720 * 2 + i] != want[i % 4];
  }
  EXPECT_EQ(wrong, 0);
  // Flat grey lies at the noise floor: 20 log10(220 / 0.036060891) dB, one entry in a ring of 50
  // that Configure emptied.
  const double floorSnr = 20 * std::log10(220 / 0.036060891);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(state.snrDisplay[c], floorSnr / 50, 1e-9) << c;
  for (int i = 1; i < 50; ++i) ProcessFrameState(state, frame, &window);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(state.snrDisplay[c], floorSnr, 1e-9) << c;
  ReleaseStateBuffers(state);
}
