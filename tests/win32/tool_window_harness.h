// A test host for the tool window: a main window of class "TMain" titled "Kestrova" that counts
// the commands it receives, the real DLL loaded from a private folder with its settings file
// beside it, YUY2 frames, a message pump and lookups of the tool window's controls.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "plugin/host_contract.h"
#include "resources/resource_ids.h"

namespace lvtest {

inline const wchar_t kToolCaption[] = L"KVP_LineView плагин";

// Commands posted to the host window, in arrival order (window thread only).
inline std::vector<WPARAM>& HostCommands() {
  static std::vector<WPARAM> commands;
  return commands;
}

// Key-down and character messages the host window received itself (window thread only).
inline int& HostKeys() {
  static int keys = 0;
  return keys;
}

inline LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kWmHostCommand) {
    HostCommands().push_back(wParam);
    return 0;
  }
  if (msg == WM_KEYDOWN || msg == WM_CHAR) ++HostKeys();
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

inline HWND CreateHostWindow(int x = 200, int y = 150, int w = 640, int h = 480) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TMain";
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    registered = RegisterClassW(&wc) != 0;
  }
  HWND host = CreateWindowExW(0, L"TMain", L"Kestrova", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, w, h, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  return host;
}

// Dispatches what is queued for this thread until `done` holds or `ms` have passed.
// With `dialog`, keys go through IsDialogMessage first, as a host loop that calls it would.
template <class Done>
bool PumpUntil(Done done, DWORD ms, HWND dialog = nullptr) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    // A video thread may post faster than this thread handles: the time limit holds anyway.
    while (GetTickCount() - start < ms && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (done()) return true;
    }
    if (done()) return true;
    if (GetTickCount() - start >= ms) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// Dispatches everything posted to this thread before now (and what comes in meanwhile):
// the window's own first refresh is posted while it is created, so after this it has run.
// `each` runs after every message.
template <class Each>
void PumpPostedSoFar(Each each) {
  const UINT marker = WM_APP + 0x2A7;
  PostThreadMessageW(GetCurrentThreadId(), marker, 0, 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == nullptr && msg.message == marker) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    each();
  }
}

inline void PumpPostedSoFar() {
  PumpPostedSoFar([] {});
}

inline void Pump(DWORD ms = 100, HWND dialog = nullptr) {
  PumpUntil([] { return false; }, ms, dialog);
}

inline std::wstring Text(HWND hwnd) {
  wchar_t buf[512] = {};
  GetWindowTextW(hwnd, buf, 512);
  return buf;
}

inline std::string ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

// The value of `key` in an INI text, or `fallback` when absent.
inline std::string IniValue(const std::string& ini, const std::string& key, const std::string& fallback = "?") {
  size_t at = 0;
  while ((at = ini.find(key + "=", at)) != std::string::npos) {
    if (at == 0 || ini[at - 1] == '\n') {
      const size_t from = at + key.size() + 1;
      const size_t to = ini.find_first_of("\r\n", from);
      return ini.substr(from, to == std::string::npos ? std::string::npos : to - from);
    }
    ++at;
  }
  return fallback;
}

struct Yuy2Frame {
  Yuy2Frame(int w, int h, uint8_t y = 128, uint8_t u = 128, uint8_t v = 128)
      : width(w), height(h), pixels(static_cast<size_t>(w) * h * 2) {
    Fill(y, u, v);
    info.pixels = pixels.data();
    info.channelInfo = &channel;
    channel.channelNumber = -1;  // code 0: the plug-in's initial channel, so no change at first
  }
  void Fill(uint8_t y, uint8_t u, uint8_t v) {
    for (size_t i = 0; i + 3 < pixels.size(); i += 4) {
      pixels[i] = y, pixels[i + 1] = u, pixels[i + 2] = y, pixels[i + 3] = v;
    }
  }
  uint8_t* Row(int line) { return pixels.data() + static_cast<size_t>(line) * width * 2; }
  void SetChannel(int number, const char* name1251, int frequencyHz) {
    channel.channelNumber = number;
    std::memset(channel.channelName, 0, sizeof channel.channelName);
    std::strncpy(channel.channelName, name1251, sizeof channel.channelName - 1);
    channel.frequencyHz = frequencyHz;
  }
  int width, height;
  std::vector<uint8_t> pixels;
  ChannelInfo channel{};
  FrameInfo info{};
};

inline BOOL CALLBACK CollectToolWindow(HWND hwnd, LPARAM p) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId() && Text(hwnd) == kToolCaption) reinterpret_cast<std::vector<HWND>*>(p)->push_back(hwnd);
  return TRUE;
}

// The top-level windows of this process captioned like the tool window.
inline std::vector<HWND> ToolWindows() {
  std::vector<HWND> found;
  EnumWindows(CollectToolWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The pages are the dialog children of the tab control; told apart by their own controls.
inline HWND Page(HWND tool, int mode) {
  HWND tab = GetDlgItem(tool, IDC_TAB);
  for (HWND c = GetWindow(tab, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    const bool scope = GetDlgItem(c, IDC_SNR_FIRST) != nullptr;
    const bool spectrum = GetDlgItem(c, IDC_SENSITIVITY_EDIT) != nullptr && !scope;
    const bool levels = GetDlgItem(c, IDC_PLOT_FRAME) != nullptr && !scope && !spectrum;
    if ((mode == 0 && scope) || (mode == 1 && spectrum) || (mode == 2 && levels)) return c;
  }
  return nullptr;
}

struct OwnedSearch {
  HWND owner, found;
};

inline BOOL CALLBACK MatchOwnedTooltip(HWND hwnd, LPARAM p) {
  auto* f = reinterpret_cast<OwnedSearch*>(p);
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (lstrcmpiW(cls, TOOLTIPS_CLASSW) == 0 && GetWindow(hwnd, GW_OWNER) == f->owner) {
    f->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// The tooltip window owned by `owner`, if any.
inline HWND OwnedTooltip(HWND owner) {
  OwnedSearch f{owner, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchOwnedTooltip, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

inline std::string Utf8(const std::wstring& w) {
  char buf[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, buf, sizeof buf, nullptr, nullptr);
  return buf;
}

inline std::wstring TooltipText(HWND tip) {
  static wchar_t buf[1024];
  buf[0] = L'\0';
  TTTOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.hwnd = nullptr;
  ti.uId = 0;
  ti.lpszText = buf;
  SendMessageW(tip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&ti));
  return buf;
}

// Presses the left button at (x, y), client coordinates of `hwnd`, and lets go.
inline void ClickAt(HWND hwnd, int x, int y) {
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// A click of the mouse itself at screen point (x, y): through the input queue to whichever
// window is on top there.
inline void ClickScreen(int x, int y) {
  SetCursorPos(x, y);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
}

// A press and release on one arrow of an up-down, as the mouse delivers it: the upper
// (vertical) or right (horizontal) half increments.
inline void ClickSpinArrow(HWND spin, bool increment) {
  RECT r{};
  GetClientRect(spin, &r);
  const bool horizontal = (GetWindowLongPtrW(spin, GWL_STYLE) & UDS_HORZ) != 0;
  const int x = horizontal ? (increment ? r.right * 3 / 4 : r.right / 4) : r.right / 2;
  const int y = horizontal ? r.bottom / 2 : (increment ? r.bottom / 4 : r.bottom * 3 / 4);
  ClickAt(spin, x, y);
}

inline void ClickTab(HWND tab, int index) {
  RECT r{};
  SendMessageW(tab, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
  ClickAt(tab, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

inline int SpinPos(HWND spin) { return static_cast<short>(LOWORD(SendMessageW(spin, UDM_GETPOS, 0, 0))); }

inline void TypeInto(HWND edit, const wchar_t* text) {
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, WM_KEYDOWN, VK_DELETE, 0);
  SendMessageW(edit, WM_KEYUP, VK_DELETE, 0);
  for (const wchar_t* c = text; *c; ++c) SendMessageW(edit, WM_CHAR, *c, 1);
}

inline void PressKey(HWND hwnd, WPARAM vk) {
  SendMessageW(hwnd, WM_KEYDOWN, vk, 1);
  if (vk == VK_RETURN || vk == VK_ESCAPE) SendMessageW(hwnd, WM_CHAR, vk, 1);
  SendMessageW(hwnd, WM_KEYUP, vk, 0xC0000001);
}

// Every key of `expected` has its value in the INI text.
inline void ExpectIniValues(const std::string& ini,
                            std::initializer_list<std::pair<const char*, const char*>> expected) {
  for (const auto& [key, value] : expected) EXPECT_EQ(IniValue(ini, key), value) << key;
}

// The DLL as built, beside this test program.
inline std::wstring BuiltDll() {
  std::vector<wchar_t> exe(32768);
  const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
  const std::wstring path(exe.data(), n);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"KVP_LineView.dll";
}

// A folder of this process's own under the temporary folder (lv_TAG_PID\), created.
inline std::wstring ScratchFolder(const std::wstring& tag) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"lv_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

// The descriptor of a loaded copy of the DLL, or null.
inline PluginDescriptor* DescriptorOf(HMODULE module) {
  // Through the generic function pointer type: FARPROC's own signature is meaningless.
  auto pr = reinterpret_cast<PluginDescriptorFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "Kestrova_Plugin_PR")));
  return pr != nullptr ? pr() : nullptr;
}

// A host session that only loads and saves the settings: LoadSettings, a frame format of
// `height` lines when not 0 (Configure clamps TVLine to it), ReleaseBuffers, Shutdown.
inline void SettingsSession(const PluginDescriptor& d, int height) {
  d.LoadSettings();
  if (height > 0) {
    FrameFormat format = {720, height, 0, PixelFormatYuy2};
    d.Configure(&format);
    d.ReleaseBuffers();
  }
  d.Shutdown();
}

// One host session around the real DLL, copied into a folder of its own with its settings file.
class PluginHost {
 public:
  explicit PluginHost(const std::wstring& tag) {
    folder_ = ScratchFolder(tag);
    built_ = BuiltDll();
    dll_ = folder_ + L"KVP_LineView.dll";
  }
  ~PluginHost() {
    Unload();
    DeleteFileW(dll_.c_str());
    DeleteFileW(Ini().c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring Ini() const { return folder_ + L"KVP_LineView.ini"; }

  // The host window should exist first: the plug-in looks it up while loading. A copy that
  // stays mapped (the plug-in pinned it) cannot be overwritten and is loaded as it is.
  bool Load() {
    shutDown_ = false;
    if (GetModuleHandleW(dll_.c_str()) == nullptr && !CopyFileW(built_.c_str(), dll_.c_str(), FALSE)) return false;
    module_ = LoadLibraryW(dll_.c_str());
    if (module_ == nullptr) return false;
    d = DescriptorOf(module_);
    return d != nullptr;
  }
  void Shutdown() {
    if (d != nullptr && !shutDown_) {
      d->ReleaseBuffers();
      d->Shutdown();
      shutDown_ = true;
    }
  }
  void Unload() {
    Shutdown();
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
    d = nullptr;
  }
  void Configure(int width, int height) {
    FrameFormat format{width, height, 0, PixelFormatYuy2};
    d->Configure(&format);
  }
  // Opens the tool window for `host` and lets its first refresh run; returns the window.
  HWND Open(HWND host) {
    HWND h = host;
    d->OpenToolWindow(&h);
    // Ours is the one owned by this host window.
    HWND tool = nullptr;
    for (HWND w : ToolWindows()) {
      if (GetWindow(w, GW_OWNER) == host) tool = w;
    }
    PumpUntil([&] { return IsWindow(tool) && IsWindowVisible(tool); }, 2000);
    Pump(50);
    return tool;
  }

  const PluginDescriptor* d = nullptr;

 private:
  std::wstring folder_, built_, dll_;
  HMODULE module_ = nullptr;
  bool shutDown_ = false;
};

}  // namespace lvtest
