// lineview-host.exe: drives the plug-in DLL the way a TV viewer does. The main window
// (class "TMain", title "Kestrova") exists before the DLL is loaded, frames come from a video
// thread of their own, and everything but ProcessFrame runs on the window thread.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/channel_list.h"
#include "host/frame_view.h"
#include "host/host_options.h"
#include "host/test_signals.h"
#include "plugin/host_contract.h"

namespace {

constexpr UINT kMsgFrameReady = WM_APP + 1;
constexpr UINT kMsgVideoDone = WM_APP + 2;
constexpr UINT kMsgStartScreenshots = WM_APP + 3;
constexpr UINT kMsgEndSession = WM_APP + 4;  // wakes the main loop to end the session
constexpr UINT_PTR kScreenshotTimer = 7;
// How long a page runs before it is captured: a few frames drawn, the labels painted.
constexpr UINT kScreenshotSettleMs = 800;
constexpr wchar_t kToolWindowCaption[] = L"KVP_LineView плагин";
constexpr int kToolTabControlId = 5072;
const char* const kPageNames[] = {"scope", "spectrum", "levels"};  // the tool window's tabs
// Noisy signals cycle through a few precomputed noise frames, so the picture lives
// without generating noise on the video thread at frame rate.
constexpr int kNoiseVariants = 4;
constexpr size_t kNoiseVariantBudget = size_t(64) << 20;

enum ExitCode { ExitOk = 0, ExitBadOptions = 2, ExitNoPlugin = 3, ExitWrongVersion = 4, ExitNoWindow = 5 };

std::string ToUtf8(const wchar_t* text, int length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
  return out;
}

// 8-bit text of the host contract (Windows-1251), read at most `limit` bytes, as UTF-8.
std::string Cp1251ToUtf8(const char* text, size_t limit) {
  if (text == nullptr) return "(null)";
  const size_t length = strnlen(text, limit);
  if (length == 0) return "";
  const int n = MultiByteToWideChar(1251, 0, text, int(length), nullptr, 0);
  std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(1251, 0, text, int(length), &wide[0], n);
  return ToUtf8(wide.data(), int(wide.size()));
}

std::string HexBytes(const char* text, size_t limit) {
  std::string out;
  if (text == nullptr) return out;
  const size_t length = strnlen(text, limit);
  char buf[4];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", unsigned(uint8_t(text[i])));
    out += buf;
  }
  return out;
}

std::string DescribeChannel(const TestChannel& c) {
  char buf[160];
  if (c.number < 0) {
    std::snprintf(buf, sizeof buf, "input %d \"%s\"", int(c.number), Cp1251ToUtf8(c.name, 64).c_str());
  } else {
    std::snprintf(buf, sizeof buf, "channel %d \"%s\" %.2f MHz (%s)", int(c.number),
                  Cp1251ToUtf8(c.name, 64).c_str(), c.frequencyHz * 1e-6, TestSignalName(c.signal));
  }
  return buf;
}

// 32-bit pixels, rows top-down: the layout of the host's picture and of its captures.
BITMAPINFO TopDownBitmapInfo(int width, int height) {
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  return bmi;
}

// One line per event, flushed at once, so the log is complete even if the plug-in crashes us.
class HostLog {
 public:
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    file_ = _wfopen(FromUtf8(path).c_str(), L"wb");
    return file_ != nullptr;
  }
  ~HostLog() {
    if (file_) std::fclose(file_);
  }
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!file_) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
    std::lock_guard<std::mutex> hold(lock_);
    std::fprintf(file_, "[%9.1f ms] %s\n", ms, text);
    std::fflush(file_);
  }

 private:
  FILE* file_ = nullptr;
  std::mutex lock_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class Host {
 public:
  explicit Host(const HostOptions& options) : options_(options) {}

  int Run(HINSTANCE instance);
  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  HostLog& Log() { return log_; }

 private:
  bool CreateMainWindow(HINSTANCE instance);
  int LoadPlugin();
  void VideoThread();
  const std::vector<uint8_t>& Picture(TestSignal signal, int frameIndex);
  void PublishPicture(const uint8_t* frame);
  void StopVideo();
  void FinishSession();
  void RequestSessionEnd();
  void OnHostCommand(int code);
  void OnPaint(HWND hwnd);
  void ScreenshotStep();
  bool WriteFrameBmp(const std::wstring& path);
  void LogFrameTimes();

  HostOptions options_;
  HostLog log_;
  HWND window_ = nullptr;
  HMODULE plugin_ = nullptr;
  PluginDescriptor* descriptor_ = nullptr;
  bool configured_ = false;
  bool finished_ = false;
  bool endRequested_ = false;
  int exitCode_ = ExitOk;

  std::mutex tunerLock_;
  TunerState tuner_;

  std::thread video_;
  std::mutex stopLock_;
  std::condition_variable stopSignal_;
  bool stopRequested_ = false;
  std::atomic<int> framesDelivered_{0};

  // Pictures per signal, made on the video thread on first use.
  std::vector<std::vector<uint8_t>> pictures_[kTestSignalCount];

  // The last delivered frame, after the plug-in marked it, as top-down BGRA. The video thread
  // only ever try-locks it, so it never waits for a paint.
  std::mutex displayLock_;
  std::vector<uint32_t> display_;
  std::vector<uint32_t> videoBgra_;  // the video thread's own conversion buffer
  std::atomic<bool> repaintPosted_{false};

  // ProcessFrame times in microseconds, tagged with the tool window's tab at the time.
  struct FrameTime {
    float micros;
    int8_t page;
  };
  std::vector<FrameTime> frameTimes_;  // video thread only, read after it ends
  std::atomic<int> currentPage_{-1};
  HWND toolWindow_ = nullptr;  // window thread only

  // Screenshots: the window thread steps through the tabs on a timer; the video thread keeps
  // delivering frames until it is done.
  std::atomic<bool> screenshotsPending_{false};
  int screenshotStep_ = 0;
};

Host* g_host = nullptr;
void LogSnrReadouts(HostLog& log);

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (g_host) return g_host->HandleMessage(hwnd, msg, wParam, lParam);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool Host::CreateMainWindow(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = L"TMain";
  if (!RegisterClassExW(&wc)) return false;

  // Client area one screen pixel per frame pixel, as far as the screen allows.
  RECT r = {0, 0, options_.width, options_.height};
  const DWORD style = WS_OVERLAPPEDWINDOW;
  AdjustWindowRectEx(&r, style, FALSE, 0);
  const int w = std::min<int>(r.right - r.left, GetSystemMetrics(SM_CXSCREEN));
  const int h = std::min<int>(r.bottom - r.top, GetSystemMetrics(SM_CYSCREEN));
  window_ = CreateWindowExW(0, L"TMain", L"Kestrova", style, 0, 0, w, h, nullptr, nullptr, instance, nullptr);
  if (!window_) return false;
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  return true;
}

int Host::LoadPlugin() {
  std::wstring path = FromUtf8(options_.pluginPath);
  if (path.empty()) {
    wchar_t exe[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, exe, DWORD(sizeof exe / sizeof exe[0]));
    path.assign(exe, n);
    const size_t slash = path.find_last_of(L"\\/");
    path = (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"KVP_LineView.dll";
  }
  log_.Line("plugin: loading %s", ToUtf8(path.c_str(), int(path.size())).c_str());
  plugin_ = LoadLibraryW(path.c_str());
  if (!plugin_) {
    log_.Line("plugin: LoadLibrary failed, error %lu", GetLastError());
    return ExitNoPlugin;
  }
  auto version = reinterpret_cast<PluginVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(plugin_, "Kestrova_Plugin_Version")));
  auto descriptorFn = reinterpret_cast<PluginDescriptorFn>(
      reinterpret_cast<void*>(GetProcAddress(plugin_, "Kestrova_Plugin_PR")));
  if (!version || !descriptorFn) {
    log_.Line("plugin: export missing:%s%s", version ? "" : " Kestrova_Plugin_Version",
              descriptorFn ? "" : " Kestrova_Plugin_PR");
    return ExitNoPlugin;
  }
  const int v = version();
  log_.Line("plugin: Kestrova_Plugin_Version -> %d", v);
  if (v != kPluginContractVersion) {
    log_.Line("plugin: version %d, this host speaks %d: not used", v, kPluginContractVersion);
    return ExitWrongVersion;
  }
  descriptor_ = descriptorFn();
  if (!descriptor_) {
    log_.Line("plugin: Kestrova_Plugin_PR -> null descriptor");
    return ExitNoPlugin;
  }
  log_.Line("plugin: Kestrova_Plugin_PR -> descriptor name bytes [%s] \"%s\", extraText %s%s%s",
            HexBytes(descriptor_->name, 256).c_str(), Cp1251ToUtf8(descriptor_->name, 256).c_str(),
            descriptor_->extraText ? "\"" : "", Cp1251ToUtf8(descriptor_->extraText, 256).c_str(),
            descriptor_->extraText ? "\"" : "");
  return ExitOk;
}

int Host::Run(HINSTANCE instance) {
  if (!CreateMainWindow(instance)) {
    log_.Line("host: cannot create the main window, error %lu", GetLastError());
    return ExitNoWindow;
  }
  log_.Line("host: main window class \"TMain\" title \"Kestrova\" created, hwnd %p", static_cast<void*>(window_));

  {
    std::lock_guard<std::mutex> hold(tunerLock_);
    tuner_.channelIndex = FirstChannelWithSignal(options_.signal);
    log_.Line("host: tuned to %s", DescribeChannel(CurrentChannel(tuner_)).c_str());
  }

  const int loaded = LoadPlugin();
  if (loaded != ExitOk) {
    if (plugin_) FreeLibrary(plugin_);
    plugin_ = nullptr;
    finished_ = true;
    DestroyWindow(window_);
    log_.Line("host: exit %d", loaded);
    return loaded;
  }

  if (descriptor_->LoadSettings) {
    log_.Line("call LoadSettings");
    descriptor_->LoadSettings();
  }
  FrameFormat format = {};
  format.width = options_.width;
  format.height = options_.height;
  format.pixelFormat = options_.pixelFormat;
  if (descriptor_->Configure) {
    log_.Line("call Configure width %d height %d pixelFormat %d (%s)", int(format.width), int(format.height),
              int(format.pixelFormat), format.pixelFormat == PixelFormatYuy2 ? "yuy2" : "bgr24");
    const int result = descriptor_->Configure(&format);
    log_.Line("Configure -> %d", result);
    configured_ = true;
  }
  if (options_.openWindow) {
    if (descriptor_->OpenToolWindow) {
      log_.Line("call OpenToolWindow hwnd %p", static_cast<void*>(window_));
      HWND handle = window_;
      descriptor_->OpenToolWindow(&handle);
      log_.Line("OpenToolWindow returned");
    }
  }

  display_.assign(size_t(options_.width) * size_t(options_.height), 0);
  if (options_.frames > 0) {
    log_.Line("video: %d frames at %.2f fps, %dx%d %s", options_.frames, options_.fps, options_.width,
              options_.height, options_.pixelFormat == PixelFormatYuy2 ? "yuy2" : "bgr24");
  } else {
    log_.Line("video: frames at %.2f fps until the window is closed, %dx%d %s", options_.fps, options_.width,
              options_.height, options_.pixelFormat == PixelFormatYuy2 ? "yuy2" : "bgr24");
  }
  video_ = std::thread([this] { VideoThread(); });

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    // Only here is no nested message loop on the stack (the plug-in's About box or save
    // dialog dispatch our messages too): the plug-in may be shut down and unloaded.
    if (endRequested_) FinishSession();
  }
  // The loop also ends on a quit posted by someone else: still shut the plug-in down in order.
  FinishSession();
  log_.Line("host: exit %d", exitCode_);
  return exitCode_;
}

const std::vector<uint8_t>& Host::Picture(TestSignal signal, int frameIndex) {
  auto& variants = pictures_[int(signal)];
  const double sigma = NoiseSigmaFor(options_, signal);
  const size_t bytes = FrameBytes(options_.width, options_.height, options_.pixelFormat);
  int count = 1;
  if (sigma > 0.0) count = bytes * kNoiseVariants <= kNoiseVariantBudget ? kNoiseVariants : 1;
  if (variants.empty()) {
    variants.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
      variants[size_t(i)].resize(bytes);
      FillTestSignal(signal, variants[size_t(i)].data(), options_.width, options_.height, options_.pixelFormat,
                     sigma, uint64_t(int(signal)) * 1000 + uint64_t(i) + 1);
    }
  }
  return variants[size_t(frameIndex) % variants.size()];
}

void Host::PublishPicture(const uint8_t* frame) {
  videoBgra_.resize(display_.size());
  FrameToBgra(frame, options_.width, options_.height, options_.pixelFormat, videoBgra_.data());
  if (!displayLock_.try_lock()) return;  // a paint is running: the next frame shows instead
  display_.swap(videoBgra_);
  displayLock_.unlock();
  if (!repaintPosted_.exchange(true)) PostMessageW(window_, kMsgFrameReady, 0, 0);
}

void Host::VideoThread() {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options_.fps));
  const int logEvery = std::max(1, int(options_.fps + 0.5));
  std::vector<uint8_t> frame(FrameBytes(options_.width, options_.height, options_.pixelFormat));
  const TestChannel* lastChannel = nullptr;
  auto due = Clock::now();
  LARGE_INTEGER ticksPerSecond;
  QueryPerformanceFrequency(&ticksPerSecond);
  const int screenshotFrame = std::max(1, options_.frames - int(options_.fps * 4));
  if (!options_.screenshotDir.empty() && options_.openWindow) screenshotsPending_ = true;
  bool screenshotsAsked = false;
  frameTimes_.reserve(size_t(std::min(options_.frames > 0 ? options_.frames : 100000, 1000000)));
  for (int i = 0; options_.frames == 0 || i < options_.frames || screenshotsPending_; ++i) {
    {
      std::unique_lock<std::mutex> hold(stopLock_);
      if (stopSignal_.wait_until(hold, due, [this] { return stopRequested_; })) break;
    }
    TunerState tuner;
    {
      std::lock_guard<std::mutex> hold(tunerLock_);
      tuner = tuner_;
    }
    const TestChannel& channel = CurrentChannel(tuner);
    const std::vector<uint8_t>& picture = Picture(channel.signal, i);
    std::memcpy(frame.data(), picture.data(), frame.size());

    ChannelInfo info = MakeChannelInfo(channel);
    FrameInfo frameInfo;
    std::memset(&frameInfo, 0, sizeof frameInfo);
    frameInfo.pixels = frame.data();
    frameInfo.channelInfo = &info;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    const int result = descriptor_->ProcessFrame ? descriptor_->ProcessFrame(&frameInfo) : 0;
    QueryPerformanceCounter(&t1);
    if (frameTimes_.size() < frameTimes_.capacity()) {
      frameTimes_.push_back(
          {float(double(t1.QuadPart - t0.QuadPart) * 1e6 / double(ticksPerSecond.QuadPart)), int8_t(currentPage_.load())});
    }
    const int delivered = ++framesDelivered_;
    if (screenshotsPending_ && !screenshotsAsked && delivered >= screenshotFrame) {
      screenshotsAsked = true;
      PostMessageW(window_, kMsgStartScreenshots, 0, 0);
    }

    const bool changed = &channel != lastChannel;
    if (delivered <= 3 || delivered % logEvery == 0 || changed) {
      log_.Line("call ProcessFrame #%d %s -> %d", delivered, DescribeChannel(channel).c_str(), result);
    }
    lastChannel = &channel;
    PublishPicture(frame.data());

    // A late frame moves the schedule rather than starting a burst to catch up.
    due += period;
    const auto now = Clock::now();
    if (now > due + period) due = now;
  }
  log_.Line("video: frames delivered: %d", framesDelivered_.load());
  LogFrameTimes();
  PostMessageW(window_, kMsgVideoDone, 0, 0);
}

void Host::StopVideo() {
  {
    std::lock_guard<std::mutex> hold(stopLock_);
    stopRequested_ = true;
  }
  stopSignal_.notify_all();
}

// From a message handler, which may run inside a nested loop of the plug-in's: the session
// ends once the main loop has it back.
void Host::RequestSessionEnd() {
  endRequested_ = true;
  PostMessageW(window_, kMsgEndSession, 0, 0);
}

// After the last frame: ReleaseBuffers, Shutdown (the tool window goes first, while our
// window still owns it), FreeLibrary, then our own window.
void Host::FinishSession() {
  if (finished_) return;
  finished_ = true;
  StopVideo();
  if (video_.joinable()) video_.join();
  if (descriptor_) {
    if (configured_ && descriptor_->ReleaseBuffers) {
      log_.Line("call ReleaseBuffers");
      descriptor_->ReleaseBuffers();
    }
    if (descriptor_->Shutdown) {
      LogSnrReadouts(log_);
      log_.Line("call Shutdown");
      descriptor_->Shutdown();
    }
  }
  descriptor_ = nullptr;
  if (plugin_) {
    log_.Line("call FreeLibrary");
    FreeLibrary(plugin_);
    plugin_ = nullptr;
  }
  if (IsWindow(window_)) DestroyWindow(window_);
}

void Host::OnHostCommand(int code) {
  const char* name = HostCommandName(code);
  bool known = false;
  TunerState now;
  {
    std::lock_guard<std::mutex> hold(tunerLock_);
    tuner_ = ApplyHostCommand(tuner_, code, &known);
    now = tuner_;
  }
  if (known) {
    log_.Line("command %d %s: now %s", code, name, DescribeChannel(CurrentChannel(now)).c_str());
  } else {
    log_.Line("command %d unknown: ignored", code);
  }
}

void Host::OnPaint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  const BITMAPINFO bmi = TopDownBitmapInfo(options_.width, options_.height);
  SetStretchBltMode(dc, COLORONCOLOR);
  {
    std::lock_guard<std::mutex> hold(displayLock_);
    if (!display_.empty()) {
      StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, options_.width, options_.height, display_.data(),
                    &bmi, DIB_RGB_COLORS, SRCCOPY);
    }
  }
  EndPaint(hwnd, &ps);
}

LRESULT Host::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kWmHostCommand:
      OnHostCommand(int(wParam));
      return 0;
    case kMsgFrameReady:
      repaintPosted_ = false;
      // Looked up again only when the window it had is gone: this runs for every frame.
      if (!IsWindow(toolWindow_)) toolWindow_ = FindWindowW(nullptr, kToolWindowCaption);
      currentPage_ = toolWindow_ ? int(SendDlgItemMessageW(toolWindow_, kToolTabControlId, TCM_GETCURSEL, 0, 0)) : -1;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case kMsgVideoDone:
      RequestSessionEnd();
      return 0;
    case kMsgEndSession:
      return 0;
    case WM_PAINT:
      OnPaint(hwnd);
      return 0;
    case kMsgStartScreenshots:
      screenshotStep_ = 0;
      ScreenshotStep();
      return 0;
    case WM_TIMER:
      if (wParam == kScreenshotTimer) {
        KillTimer(hwnd, kScreenshotTimer);
        ScreenshotStep();
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:
      // The plug-in is shut down in order before the window goes away.
      log_.Line("host: main window closed");
      RequestSessionEnd();
      return 0;
    case WM_DESTROY:
      if (hwnd == window_) PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A BMP file of `bits` laid out as TopDownBitmapInfo(width, height) says.
bool WriteBmpFile(const std::wstring& path, int width, int height, const void* bits) {
  const BITMAPINFO bmi = TopDownBitmapInfo(width, height);
  const DWORD bytes = DWORD(width) * DWORD(height) * 4;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof bmi.bmiHeader;
  file.bfSize = file.bfOffBits + bytes;
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return false;
  bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&bmi.bmiHeader, sizeof bmi.bmiHeader, 1, f) == 1 &&
            std::fwrite(bits, bytes, 1, f) == 1;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

// A copy of what the screen shows inside `window`, as a BMP file.
bool CaptureWindow(HWND window, const std::wstring& path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  const BITMAPINFO bmi = TopDownBitmapInfo(w, h);
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap && bits) {
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    GdiFlush();
    ok = WriteBmpFile(path, w, h, bits);
  }
  if (bitmap) DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  return ok;
}

bool Host::WriteFrameBmp(const std::wstring& path) {
  std::lock_guard<std::mutex> hold(displayLock_);
  return !display_.empty() && WriteBmpFile(path, options_.width, options_.height, display_.data());
}

// Steps 0..2 click a tab and let the page run; steps 1..3 capture the page shown before; the
// last step captures the main window and lets the video end.
void Host::ScreenshotStep() {
  const std::wstring dir = FromUtf8(options_.screenshotDir);
  CreateDirectoryW(dir.c_str(), nullptr);
  HWND tool = FindWindowW(nullptr, kToolWindowCaption);
  const int step = screenshotStep_++;
  if (tool && step >= 1 && step <= 3) {
    const std::string name = std::string("tool-") + std::to_string(step - 1) + "-" + kPageNames[step - 1] + ".bmp";
    const bool ok = CaptureWindow(tool, dir + L"\\" + FromUtf8(name));
    log_.Line("screenshot: %s %s", name.c_str(), ok ? "written" : "FAILED");
  }
  if (tool && step <= 2) {
    // A click on the tab, as a user would make it: the tool window hears of it like of any click.
    HWND tab = GetDlgItem(tool, kToolTabControlId);
    RECT item = {};
    if (tab && SendMessageW(tab, TCM_GETITEMRECT, WPARAM(step), LPARAM(&item))) {
      const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
      SendMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
      SendMessageW(tab, WM_LBUTTONUP, 0, at);
    }
    SetTimer(window_, kScreenshotTimer, kScreenshotSettleMs, nullptr);
    return;
  }
  if (!tool) log_.Line("screenshot: no tool window to capture");
  LogSnrReadouts(log_);
  // The main window's picture as it paints it (the tool window may stand in front of it).
  const bool ok = WriteFrameBmp(dir + L"\\host.bmp");
  log_.Line("screenshot: host.bmp %s", ok ? "written" : "FAILED");
  screenshotsPending_ = false;
}

// What the oscilloscope page's three SNR fields show, read like any window's text.
void LogSnrReadouts(HostLog& log) {
  HWND tool = FindWindowW(nullptr, kToolWindowCaption);
  HWND tab = tool ? GetDlgItem(tool, kToolTabControlId) : nullptr;
  for (HWND page = tab ? GetWindow(tab, GW_CHILD) : nullptr; page; page = GetWindow(page, GW_HWNDNEXT)) {
    if (!GetDlgItem(page, 5063)) continue;
    std::string values[3];
    for (int i = 0; i < 3; ++i) {
      wchar_t text[64] = {};
      GetDlgItemTextW(page, 5063 + i, text, 64);
      values[i] = ToUtf8(text, int(wcslen(text)));
    }
    log.Line("tool window: SNR (dB) R/Y: %s  G/U: %s  B/V: %s", values[0].c_str(), values[1].c_str(),
             values[2].c_str());
  }
}

void Host::LogFrameTimes() {
  auto report = [this](const char* what, std::vector<float> t) {
    if (t.empty()) return;
    std::sort(t.begin(), t.end());
    const size_t p99 = std::min(t.size() - 1, size_t(double(t.size()) * 0.99));
    log_.Line("frame time %s: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms over %lu frames", what,
              t[t.size() / 2] / 1000.0, t[p99] / 1000.0, t.back() / 1000.0, static_cast<unsigned long>(t.size()));
  };
  std::vector<float> all;
  std::vector<float> pages[3];
  for (const FrameTime& f : frameTimes_) {
    all.push_back(f.micros);
    if (f.page >= 0 && f.page < 3) pages[f.page].push_back(f.micros);
  }
  report("all", all);
  for (int p = 0; p < 3; ++p) report(kPageNames[p], pages[p]);
}

std::vector<std::string> Arguments() {
  const std::vector<std::wstring> wide = SplitCommandLine(GetCommandLineW());
  std::vector<std::string> args;
  for (size_t i = 1; i < wide.size(); ++i) args.push_back(ToUtf8(wide[i].data(), int(wide[i].size())));
  return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(Arguments(), &options, &error)) {
    std::fprintf(stderr, "lineview-host: %s\n%s", error.c_str(), HostUsage());
    return ExitBadOptions;
  }
  if (options.help) {
    std::fputs(HostUsage(), stdout);
    return ExitOk;
  }
  Host host(options);
  if (!host.Log().Open(options.logPath)) {
    std::fprintf(stderr, "lineview-host: cannot write the log %s\n", options.logPath.c_str());
    return ExitBadOptions;
  }
  g_host = &host;
  const int code = host.Run(instance);
  g_host = nullptr;
  return code;
}
