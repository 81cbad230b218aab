// A host that shuts the plug-in down and unloads it from its WM_CLOSE handler while one of the
// plug-in's modal loops runs: the loop returns into code still mapped, and the next load of the
// same (now pinned) module starts exactly as a fresh one.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/settings_file_text.h"
#include "tool_window_harness.h"

namespace {

using namespace lvtest;

PluginHost* g_plugin = nullptr;

LRESULT CALLBACK UnloadingHostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) {
    g_plugin->Unload();
    DestroyWindow(hwnd);
    return 0;
  }
  return HostProc(hwnd, msg, wParam, lParam);
}

void CALLBACK CloseHost(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, id);
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

BOOL CALLBACK DescribeControl(HWND hwnd, LPARAM p) {
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  std::wstring line = std::to_wstring(GetDlgCtrlID(hwnd)) + L" " + cls + L" \"" + Text(hwnd) + L"\" " +
                      (IsWindowVisible(hwnd) ? L"shown" : L"hidden") + L" " +
                      (IsWindowEnabled(hwnd) ? L"enabled" : L"disabled") + L" " +
                      std::to_wstring(SendMessageW(hwnd, BM_GETCHECK, 0, 0));
  if (lstrcmpiW(cls, WC_TABCONTROLW) == 0) line += L" tab " + std::to_wstring(SendMessageW(hwnd, TCM_GETCURSEL, 0, 0));
  *reinterpret_cast<std::string*>(p) += Utf8(line) + "\n";
  return TRUE;
}

// What a user sees of a session just started: every control of the tool window and where it is.
std::string FirstSight(PluginHost& plugin) {
  HWND host = CreateHostWindow();
  SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(UnloadingHostProc));
  EXPECT_TRUE(plugin.Load());
  WriteFile(plugin.Ini(), WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=1"));
  plugin.d->LoadSettings();
  plugin.Configure(64, 48);
  HWND tool = plugin.Open(host);
  RECT r{};
  GetWindowRect(tool, &r);
  std::string seen = "at " + std::to_string(r.left) + "," + std::to_string(r.top) + "\n";
  EnumChildWindows(tool, DescribeControl, reinterpret_cast<LPARAM>(&seen));
  return seen;
}

// Shutdown and FreeLibrary, and the host window goes (if the host has not closed it already).
void EndSession(PluginHost& plugin) {
  plugin.Unload();
  if (HWND host = FindWindowW(L"TMain", L"Kestrova")) DestroyWindow(host);
}

TEST(ModalUnload, HostUnloadsThePluginFromInsideItsModalLoops) {
  PluginHost plugin(L"modal_unload");
  g_plugin = &plugin;
  const std::string fresh = FirstSight(plugin);
  EndSession(plugin);
  const std::string freshSave = ReadFile(plugin.Ini());

  for (int command : {IDC_ABOUT, IDC_MEASURE_SAVE}) {
    SCOPED_TRACE(command);
    // A session that changes everything it can, then runs a modal loop the host closes in.
    FirstSight(plugin);
    HWND tool = FindWindowW(nullptr, kToolCaption);
    HWND host = GetWindow(tool, GW_OWNER);
    Yuy2Frame frame(64, 48);
    frame.SetChannel(7, "\xCF\xE5\xF0\xE2\xFB\xE9", 175250000);
    plugin.d->ProcessFrame(&frame.info);
    Pump(50);
    SendMessageW(tool, WM_COMMAND, MAKEWPARAM(IDC_MEASURE_ADD, BN_CLICKED), 0);
    ClickTab(GetDlgItem(tool, IDC_TAB), 2);
    SetTimer(host, 1, 300, CloseHost);
    SendMessageW(tool, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(host));
    EXPECT_FALSE(IsWindow(tool));

    EXPECT_EQ(FirstSight(plugin), fresh);
    EndSession(plugin);
    EXPECT_EQ(ReadFile(plugin.Ini()), freshSave);
  }
}

}  // namespace
