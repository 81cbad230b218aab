// The tool window under load: a video thread delivers frames as fast as it can, with the
// channel changing under it, while the window thread switches tabs, colour spaces, shown
// channels and the TV line, moves the window, and closes and reopens it a few hundred times.
// It must end without a crash or a hang, and the settings file must hold the last choices.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "common/settings_file_text.h"
#include "win32/tool_window_harness.h"

namespace {

using namespace lvtest;

// Fails the test (by ending the process with a message) when either thread stops making
// progress: a deadlock would otherwise only show as the time limit of the whole program.
class Watchdog {
 public:
  explicit Watchdog(DWORD stallMs) : stallMs_(stallMs), thread_([this] { Run(); }) {}
  ~Watchdog() {
    done_ = true;
    thread_.join();
  }
  std::atomic<unsigned> windowProgress{0}, videoProgress{0};

 private:
  void Run() {
    unsigned lastWindow = 0, lastVideo = 0;
    DWORD windowSince = GetTickCount(), videoSince = windowSince;
    while (!done_) {
      Sleep(100);
      const DWORD now = GetTickCount();
      if (windowProgress != lastWindow) lastWindow = windowProgress, windowSince = now;
      if (videoProgress != lastVideo) lastVideo = videoProgress, videoSince = now;
      if (now - windowSince > stallMs_ || now - videoSince > stallMs_) {
        std::fprintf(stderr, "watchdog: the %s thread made no progress for %lu ms: deadlock\n",
                     now - windowSince > stallMs_ ? "window" : "video", static_cast<unsigned long>(stallMs_));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }
  const DWORD stallMs_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(ToolWindowStress, FramesWhileTheWindowChangesAndComesAndGoes) {
  HWND host = CreateHostWindow();
  ASSERT_NE(host, nullptr);
  PluginHost plugin(L"toolwin_stress");
  ASSERT_TRUE(plugin.Load());
  plugin.d->LoadSettings();
  plugin.Configure(720, 576);

  Watchdog watchdog(30000);
  std::atomic<bool> stop{false};
  std::atomic<unsigned> frames{0};
  // Stopped and joined on every way out of the test, a failed assertion included.
  struct Joined : std::thread {
    using std::thread::thread;
    std::atomic<bool>* stop = nullptr;
    ~Joined() {
      if (stop != nullptr) *stop = true;
      if (joinable()) join();
    }
  };
  Joined video([&] {
    Yuy2Frame frame(720, 576);
    std::mt19937 gen(1);
    for (uint8_t& b : frame.pixels) b = static_cast<uint8_t>(16 + gen() % 220);
    const int channels[] = {4, 5, -2, -3, -1, 11, -4};
    const char* names[] = {"\xCF\xE5\xF0\xE2\xFB\xE9", "B", "", "", "C", "D", "E"};
    unsigned n = 0;
    while (!stop) {
      const int k = (n / 5) % 7;
      frame.SetChannel(channels[k], names[k], 49750000 + 8000000 * k);
      plugin.d->ProcessFrame(&frame.info);
      ++n;
      ++frames;
      ++watchdog.videoProgress;
      // No pause, only a chance for the window thread: a frame thread that takes the lock
      // again the instant it lets go starves every other taker, which no real host does.
      SwitchToThread();
    }
  });

  video.stop = &stop;
  // The frame thread posts a notice per frame and holds the lock for most of the time, so
  // the window thread lags behind its queue: progress is every message it handles.
  auto handled = [&] { ++watchdog.windowProgress; };

  std::mt19937 gen(2026);
  int mode = 0, colorMode = 0, tvLine = 100;
  int flags[6] = {1, 1, 1, 1, 1, 1};
  const int flagIds[6] = {IDC_SHOW_R, IDC_SHOW_G, IDC_SHOW_B, IDC_SHOW_Y, IDC_SHOW_U, IDC_SHOW_V};
  int x = 0, y = 0;
  bool moved = false;
  const int rounds = 200;
  int opened = 0;
  for (int round = 0; round < rounds; ++round) {
    ++watchdog.windowProgress;
    HWND h = host;
    plugin.d->OpenToolWindow(&h);
    HWND tool = FindWindowW(nullptr, kToolCaption);
    ASSERT_TRUE(IsWindow(tool)) << round;
    opened += ToolWindows().size() == 1;
    // The clicks below go straight to the controls, past the queue: let the window's first
    // refresh run before them, as it would before any real click.
    PumpPostedSoFar(handled);
    for (int action = static_cast<int>(gen() % 6); action >= 0; --action) {
      ++watchdog.windowProgress;
      switch (gen() % 6) {
        case 0:
          mode = static_cast<int>(gen() % 3);
          ClickTab(GetDlgItem(tool, IDC_TAB), mode);
          break;
        case 1:
          colorMode = static_cast<int>(gen() % 2);
          SendMessageW(GetDlgItem(tool, colorMode == 0 ? IDC_COLOR_RGB : IDC_COLOR_YUV), BM_CLICK, 0, 0);
          break;
        case 2: {
          const int c = colorMode * 3 + static_cast<int>(gen() % 3);  // a box of the shown space
          SendMessageW(GetDlgItem(tool, flagIds[c]), BM_CLICK, 0, 0);
          flags[c] = 1 - flags[c];
          break;
        }
        case 3: {
          const bool up = gen() % 2 == 0;
          ClickSpinArrow(GetDlgItem(tool, IDC_TVLINE_SPIN), up);
          tvLine = up ? std::min(tvLine + 1, 575) : std::max(tvLine - 1, 0);
          break;
        }
        case 4:
          x = static_cast<int>(gen() % 400), y = static_cast<int>(gen() % 300);
          SetWindowPos(tool, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
          moved = true;
          break;
        case 5:
          SendMessageW(GetDlgItem(tool, gen() % 2 ? IDC_SOURCE_TV : IDC_SOURCE_VHS), BM_CLICK, 0, 0);
          break;
      }
      Pump(1);
    }
    if (!moved) {
      RECT r{};
      GetWindowRect(tool, &r);
      x = r.left, y = r.top;
      moved = true;
    }
    if (round % 2 == 0) {
      SendMessageW(tool, WM_CLOSE, 0, 0);
    } else {
      SendMessageW(GetDlgItem(tool, IDC_CLOSE), BM_CLICK, 0, 0);
    }
    PumpPostedSoFar(handled);  // the close request "Закрыть" posts is in the queue by now
    ASSERT_FALSE(IsWindow(tool)) << round;
  }
  stop = true;
  video.join();
  PumpPostedSoFar();
  std::printf("%d openings, %u frames\n", rounds, frames.load());
  EXPECT_EQ(opened, rounds);
  EXPECT_GT(frames.load(), 0u);

  plugin.Shutdown();
  Pump(20);
  EXPECT_TRUE(ToolWindows().empty());
  std::string expected = kDefaultSettingsFile;
  auto set = [&](const std::string& key, const std::string& from, int value) {
    expected = WithLine(expected, key + "=" + from + "\r\n", key + "=" + std::to_string(value) + "\r\n");
  };
  set("DlgWndPosX", "-100", x);
  set("DlgWndPosY", "-100", y);
  set("TVLine", "100", tvLine);
  set("ColorMode", "0", colorMode);
  const char* flagKeys[6] = {"RColor", "GColor", "BColor", "YColor", "UColor", "VColor"};
  for (int c = 0; c < 6; ++c) set(flagKeys[c], "1", flags[c]);
  expected = WithLine(expected, "\nMode=0\r\n", "\nMode=" + std::to_string(mode) + "\r\n");
  EXPECT_EQ(ReadFile(plugin.Ini()), expected);
  plugin.Unload();
  DestroyWindow(host);
}

}  // namespace
