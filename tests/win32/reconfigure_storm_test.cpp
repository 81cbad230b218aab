// A host that breaks the calling order: one of its threads calls ReleaseBuffers and Configure
// with ever new formats (two very wide ones among them: 131072x4 YUY2, 100000x6 BGR24) while its
// video thread keeps calling ProcessFrame, and the window thread switches pages. The viewer must
// not go down: every frame returns, and once the storm is over the next ordinary frame carries
// the exact marker and SNR. Frames that lose the race are ignored, as frames outside Configure..ReleaseBuffers are.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "win32/tool_window_harness.h"

namespace {

using namespace lvtest;

const FrameFormat kFormats[] = {{131072, 4, 0, PixelFormatYuy2}, {100000, 6, 0, PixelFormatBgr24},
                                {720, 576, 0, PixelFormatYuy2},  {720, 576, 0, PixelFormatBgr24},
                                {64, 16, 0, PixelFormatYuy2},    {131072, 4, 0, PixelFormatBgr24}};

size_t FrameBytes(const FrameFormat& f) {
  return static_cast<size_t>(f.width) * f.height * (f.pixelFormat == PixelFormatBgr24 ? 3 : 2);
}

// Ends the process with a message when the frames stop coming: a deadlock would otherwise only
// show as the time limit of the whole program.
class Watchdog {
 public:
  explicit Watchdog(std::atomic<int>& progress) : progress_(progress), thread_([this] { Run(); }) {}
  ~Watchdog() {
    done_ = true;
    thread_.join();
  }

 private:
  void Run() {
    int last = -1;
    DWORD since = GetTickCount();
    while (!done_) {
      Sleep(100);
      if (progress_ != last) last = progress_, since = GetTickCount();
      if (GetTickCount() - since > 20000) {
        std::fprintf(stderr, "watchdog: no frame returned for 20 s: deadlock\n");
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }
  std::atomic<int>& progress_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// A fault on any thread ends the program at once, with what and where, instead of starting
// Wine's debugger (which waits until the time limit).
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* e) {
  std::fprintf(stderr, "crash: exception 0x%08lX at address %p on thread %lu\n",
               static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode), e->ExceptionRecord->ExceptionAddress,
               static_cast<unsigned long>(GetCurrentThreadId()));
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

TEST(ReconfigureStorm, ReleaseAndConfigureOnOneThreadFramesOnAnother) {
  SetUnhandledExceptionFilter(ReportCrash);
  HWND host = CreateHostWindow();
  ASSERT_NE(host, nullptr);
  PluginHost plugin(L"reconfigure_storm");
  ASSERT_TRUE(plugin.Load());
  const PluginDescriptor& d = *plugin.d;
  d.LoadSettings();
  plugin.Configure(720, 576);
  HWND tool = plugin.Open(host);
  ASSERT_TRUE(IsWindow(tool));
  HWND tab = GetDlgItem(tool, IDC_TAB);

  size_t largest = 0;
  for (const FrameFormat& f : kFormats) largest = std::max(largest, FrameBytes(f));
  std::atomic<bool> stormDone{false};
  std::atomic<int> called{0}, returned{0};
  Watchdog watchdog(returned);
  std::thread video([&] {
    // The host's frame buffer holds the largest format: whichever format the plug-in was given
    // last, a frame has its bytes (the plug-in cannot know a frame's size).
    std::vector<uint8_t> pixels(largest, 128);
    ChannelInfo channel{};
    channel.channelNumber = -1;
    FrameInfo frame{};
    frame.pixels = pixels.data();
    frame.channelInfo = &channel;
    for (int n = 0; !stormDone || n < 50; ++n) {
      ++called;
      d.ProcessFrame(&frame);
      ++returned;
      // A chance for the other takers of the lock, as a real host's frame pacing gives them.
      SwitchToThread();
    }
  });
  std::thread storm([&] {
    for (int round = 0; round < 300; ++round) {
      d.ReleaseBuffers();
      FrameFormat f = kFormats[round % 6];
      d.Configure(&f);
      if (round % 5 == 4) {  // a second Configure without ReleaseBuffers
        f = kFormats[(round + 3) % 6];
        d.Configure(&f);
      }
      if (round % 3 == 0) SwitchToThread();
    }
    stormDone = true;
  });
  // The window thread meanwhile: notices, the TV-line range after each Configure, tab switches
  // (every page's analysis runs on the wide lines).
  for (int k = 0; !stormDone; ++k) {
    Pump(15);
    ClickTab(tab, k % 3);
  }
  storm.join();
  video.join();
  EXPECT_EQ(returned.load(), called.load());
  std::printf("%d frames during 300 reconfigurations\n", returned.load());

  // The storm is over: an ordinary format again, and ordinary frames on the scope page.
  ClickTab(tab, 0);
  d.ReleaseBuffers();
  plugin.Configure(720, 576);
  PumpPostedSoFar();
  // Heights of 4 and 6 lowered the line to 3, and the window shows it.
  ASSERT_EQ(Text(GetDlgItem(tool, IDC_TVLINE_EDIT)), L"3");
  Yuy2Frame frame(720, 576);
  d.ProcessFrame(&frame.info);
  PumpPostedSoFar();
  // Lines 3 and 4 carry the red marker over grey 128: Y +76, U -43, V +127 (clamped).
  for (int line = 0; line < 576; ++line) {
    const bool marked = line == 3 || line == 4;
    const uint8_t want[4] = {static_cast<uint8_t>(marked ? 204 : 128), static_cast<uint8_t>(marked ? 85 : 128),
                             static_cast<uint8_t>(marked ? 204 : 128), static_cast<uint8_t>(marked ? 255 : 128)};
    int wrong = 0;
    for (int i = 0; i < 720 * 2; ++i) wrong += frame.Row(line)[i] != want[i % 4];
    ASSERT_EQ(wrong, 0) << "line " << line;
  }
  // Flat grey lies at the noise floor, 20 log10(220 / 0.036060891) = 75.708 dB, and Configure
  // emptied the rings: one entry of 50 is 1.514; fifty entries are the whole of it.
  HWND scope = Page(tool, 0);
  for (int id : {IDC_SNR_FIRST, IDC_SNR_SECOND, IDC_SNR_THIRD}) EXPECT_EQ(Text(GetDlgItem(scope, id)), L"1.51");
  for (int i = 1; i < 50; ++i) {
    frame.Fill(128, 128, 128);
    d.ProcessFrame(&frame.info);
  }
  PumpPostedSoFar();
  for (int id : {IDC_SNR_FIRST, IDC_SNR_SECOND, IDC_SNR_THIRD}) EXPECT_EQ(Text(GetDlgItem(scope, id)), L"75.71");
  plugin.Unload();
  DestroyWindow(host);
}

}  // namespace
