// What the tool window's own work costs the frame thread: KVP_LineView.dll (beside this
// program) with its tool window open, 720x576 YUY2 colour bars delivered from a thread of their
// own at 25 fps, while this (the window) thread clicks the three tabs in turn and repaints the
// whole window, once per round. Prints every ProcessFrame's median, 99th percentile and worst
// time, and the worst frame that started within 200 ms after each tab click or repaint.
//
//   window_work_bench [--rounds N]     (default 1: six seconds, three tab clicks, one repaint)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/test_signals.h"
#include "plugin/host_contract.h"
#include "resources/resource_ids.h"
#include "bench/paced_frames_win.h"

namespace {

using namespace lvtest;

constexpr int kWidth = 720, kHeight = 576;
constexpr double kFps = 25;
constexpr double kEventPitchMs = 1200;
constexpr double kAfterEventMs = 200;

// Dispatches this thread's messages until `untilMs` (NowMs clock).
void PumpUntil(double untilMs) {
  for (double now = NowMs(); now < untilMs; now = NowMs()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(untilMs - now) + 1, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void ClickTab(HWND tab, int index) {
  RECT r{};
  SendMessageW(tab, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(tab, WM_LBUTTONUP, 0, at);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 1;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[++i]));
  }

  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TMain";
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, L"TMain", L"Kestrova", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 650, nullptr,
                              nullptr, wc.hInstance, nullptr);
  HMODULE dll = LoadLibraryW(L"KVP_LineView.dll");
  auto pr = dll ? reinterpret_cast<PluginDescriptorFn>(
                      reinterpret_cast<void (*)()>(GetProcAddress(dll, "Kestrova_Plugin_PR")))
                : nullptr;
  PluginDescriptor* d = pr ? pr() : nullptr;
  if (host == nullptr || d == nullptr) {
    std::fprintf(stderr, "window_work_bench: no host window or no KVP_LineView.dll beside the program\n");
    return 1;
  }
  d->LoadSettings();
  FrameFormat format{kWidth, kHeight, 0, PixelFormatYuy2};
  d->Configure(&format);
  HWND hostHandle = host;
  d->OpenToolWindow(&hostHandle);
  HWND tool = FindWindowW(nullptr, L"KVP_LineView плагин");
  HWND tab = tool ? GetDlgItem(tool, IDC_TAB) : nullptr;
  if (tab == nullptr) {
    std::fprintf(stderr, "window_work_bench: the tool window did not open\n");
    return 1;
  }
  PumpUntil(NowMs() + 300);

  std::vector<uint8_t> pixels(FrameBytes(kWidth, kHeight, PixelFormatYuy2));
  FillColourBars(pixels.data(), kWidth, kHeight, PixelFormatYuy2);
  ChannelInfo channel{};
  channel.channelNumber = -1;
  FrameInfo frame{};
  frame.pixels = pixels.data();
  frame.channelInfo = &channel;

  const double runMs = 4 * kEventPitchMs * rounds + kEventPitchMs;
  PacedFrames frames(*d, frame, static_cast<int>(runMs * kFps / 1000), kFps);
  frames.Start();
  const double start = NowMs();
  struct Event {
    const char* what;
    double atMs;
  };
  std::vector<Event> events;
  for (int k = 0; k < 4 * rounds; ++k) {
    PumpUntil(start + kEventPitchMs * (k + 1) - kEventPitchMs / 2);
    const int step = k % 4;
    events.push_back({step == 3 ? "repaint" : step == 0 ? "tab 1" : step == 1 ? "tab 2" : "tab 0", NowMs()});
    if (step < 3) {
      ClickTab(tab, (step + 1) % 3);
    } else {
      RedrawWindow(tool, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    }
  }
  while (!frames.Finished()) PumpUntil(NowMs() + 20);
  frames.Join();

  const std::vector<TimedFrame>& t = frames.Times();
  const FrameTimeSummary s = Summarise(t);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  std::printf("window_work_bench at %d DPI: %zu frames at %.0f fps, %zu tab clicks and repaints\n", dpi, t.size(),
              kFps, events.size());
  std::printf("ProcessFrame: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms\n", s.median, s.p99, s.worst);
  for (const Event& e : events) {
    std::printf("  worst within %.0f ms after %-8s %8.3f ms\n", kAfterEventMs, e.what,
                WorstAfter(t, e.atMs, kAfterEventMs));
  }

  d->ReleaseBuffers();
  d->Shutdown();
  DestroyWindow(host);
  return 0;
}
