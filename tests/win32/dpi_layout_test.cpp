// The tool window at 96, 120, 144 and 192 DPI: every text fits its control, the canvases fill
// their frames, and the pages' axis labels stand beside their grid lines. Text widths do not
// grow exactly with dialog units, so a label that fits at one DPI can wrap out of sight at
// another. Wine reads the prefix's LogPixels once per process: each DPI runs in child processes
// started after it was set.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/settings_file_text.h"
#include "win32/tool_window_harness.h"

namespace {

using namespace lvtest;

// The width of `text` in the control's font.
int Extent(HWND control, const std::wstring& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

// Room across that the control's text needs (one line: a second is out of sight), and the room
// it has; false for a control without a text of its own (pictures, spins, the tab strip) or hidden.
bool TextRoom(HWND control, int& need, int& have) {
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  wchar_t cls[32] = {};
  GetClassNameW(control, cls, 32);
  const std::wstring text = Text(control);
  RECT r{};
  GetClientRect(control, &r);
  have = r.right;
  need = Extent(control, text);
  if ((style & WS_VISIBLE) == 0) return false;
  if (lstrcmpiW(cls, L"Static") == 0) return (style & SS_TYPEMASK) != SS_BITMAP && !text.empty();
  if (lstrcmpiW(cls, L"Edit") == 0) {
    SendMessageW(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&r));  // inside the margins
    have = r.right - r.left;
    return true;
  }
  if (lstrcmpiW(cls, L"ComboBox") == 0) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    GetComboBoxInfo(control, &info);
    have = info.rcItem.right - info.rcItem.left;
    for (LRESULT i = 0, n = SendMessageW(control, CB_GETCOUNT, 0, 0); i < n; ++i) {
      wchar_t item[64] = {};
      SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      need = std::max(need, Extent(control, item));
    }
    return true;
  }
  if (lstrcmpiW(cls, L"Button") != 0 || text.empty()) return false;
  const LONG_PTR type = style & BS_TYPEMASK;
  // A check box or radio button draws its box and a gap of half a character before the text;
  // the others their edges on both sides.
  const bool boxed = type == BS_AUTOCHECKBOX || type == BS_AUTORADIOBUTTON;
  need += boxed ? GetSystemMetrics(SM_CXMENUCHECK) + Extent(control, L"x") / 2 : 6;
  return true;
}

void CollectCut(HWND parent, std::vector<std::string>& cut) {
  for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    int need = 0, have = 0;
    if (TextRoom(c, need, have) && need > have) {
      cut.push_back(std::to_string(GetDlgCtrlID(c)) + " \"" + Utf8(Text(c)) + "\" needs " + std::to_string(need) +
                    " px, has " + std::to_string(have));
    }
  }
}

// What the tool window shows at this process's DPI, texts at their widest.
TEST(DpiLayout, AtThisDpi) {
  if (const char* dpi = std::getenv("LV_EXPECT_DPI")) {
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSX), std::atoi(dpi));
    ReleaseDC(nullptr, screen);
  }
  HWND host = CreateHostWindow(0, 0, 640, 480);
  PluginHost plugin(L"dpi");
  ASSERT_TRUE(plugin.Load());
  WriteFile(plugin.Ini(), WithLine(kDefaultSettingsFile, "StopCount=950", "StopCount=1000"));
  plugin.d->LoadSettings();
  plugin.Configure(720, 576);
  HWND tool = plugin.Open(host);
  ASSERT_NE(tool, nullptr);
  Yuy2Frame frame(720, 576);
  frame.SetChannel(68, "\xCF\xE5\xF0\xE2\xFB\xE9", 863250000);  // "Первый", channel 69 at 863.25 MHz
  for (int i = 0; i < 3; ++i) plugin.d->ProcessFrame(&frame.info);
  Pump(100);
  // Show the TV line at its widest as well.
  SetWindowTextW(GetDlgItem(tool, IDC_TVLINE_EDIT), L"575");

  std::vector<std::string> cut;
  CollectCut(tool, cut);
  for (int mode = 0; mode < 3; ++mode) {
    HWND page = Page(tool, mode);
    ASSERT_NE(page, nullptr);
    CollectCut(page, cut);
    // The canvas is the frame's client area, whatever the DPI made of it.
    HWND frameControl = GetDlgItem(page, IDC_PLOT_FRAME);
    BITMAP bm{};
    GetObjectW(reinterpret_cast<HBITMAP>(SendMessageW(frameControl, STM_GETIMAGE, IMAGE_BITMAP, 0)), sizeof bm, &bm);
    RECT client{};
    GetClientRect(frameControl, &client);
    EXPECT_EQ(bm.bmWidth, client.right) << "page " << mode;
    EXPECT_EQ(bm.bmHeight, client.bottom) << "page " << mode;
  }
  for (const std::string& c : cut) ADD_FAILURE() << "text cut: control " << c;
  // Only a window wholly on the screen can have its pages read back.
  RECT r{};
  GetWindowRect(tool, &r);
  const char* fits = std::getenv("LV_FITS_MARKER");
  if (fits != nullptr && r.right - r.left <= GetSystemMetrics(SM_CXSCREEN) &&
      r.bottom - r.top <= GetSystemMetrics(SM_CYSCREEN)) {
    WriteFile(std::wstring(fits, fits + std::strlen(fits)), "");
  }
  plugin.Shutdown();
  DestroyWindow(host);
}

// Runs `commandLine` (a program beside this one) and returns its exit code.
DWORD RunBeside(const std::wstring& commandLine) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 9999;
  DWORD code = 9998;
  if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

TEST(DpiLayout, EveryDpi) {
  if (std::getenv("LV_EXPECT_DPI") != nullptr) GTEST_SKIP() << "a child run";
  HKEY desktop = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                            &desktop, nullptr),
            ERROR_SUCCESS);
  DWORD saved = 0, size = sizeof saved;
  const bool hadValue = RegQueryValueExW(desktop, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&saved),
                                         &size) == ERROR_SUCCESS;
  wchar_t exe[MAX_PATH];
  const std::wstring self(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  const std::wstring folder = self.substr(0, self.find_last_of(L"\\/") + 1);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring marker = std::wstring(temp) + L"lv_dpi_fits_" + std::to_wstring(GetCurrentProcessId());
  SetEnvironmentVariableW(L"LV_FITS_MARKER", marker.c_str());
  for (DWORD dpi : {96u, 120u, 144u, 192u}) {
    RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    SetEnvironmentVariableW(L"LV_EXPECT_DPI", std::to_wstring(dpi).c_str());
    DeleteFileW(marker.c_str());
    EXPECT_EQ(RunBeside(L"\"" + self + L"\" --gtest_filter=DpiLayout.AtThisDpi"), 0u) << dpi << " DPI";
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
      EXPECT_EQ(RunBeside(L"\"" + folder + L"win32_pages_test.exe\" --gtest_filter=*Labels*"), 0u) << dpi << " DPI";
    } else {
      std::printf("note: at %lu DPI the tool window is larger than this screen; its labels were not read back\n",
                  static_cast<unsigned long>(dpi));
    }
  }
  DeleteFileW(marker.c_str());
  SetEnvironmentVariableW(L"LV_EXPECT_DPI", nullptr);
  SetEnvironmentVariableW(L"LV_FITS_MARKER", nullptr);
  if (hadValue) {
    RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved), sizeof saved);
  } else {
    RegDeleteValueW(desktop, L"LogPixels");
  }
  RegCloseKey(desktop);
}

}  // namespace
