// The tool window from the keyboard, in a host whose message loop never calls IsDialogMessage.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ui/keyboard_hook_win.h"
#include "win32/tool_window_harness.h"

namespace {

constexpr int kTab = 5072, kColorRgb = 5088, kColorYuv = 5089, kShowR = 5082, kShowB = 5084;

// The plain loop of a viewer: no IsDialogMessage anywhere.
void Pump(int ms = 60) { lvtest::Pump(DWORD(ms)); }

// A key as the keyboard would queue it to the focused window, modifiers set in the thread's
// key state (posted messages do not change it).
void Key(WORD vk, bool ctrl = false, bool shift = false) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  state[VK_CONTROL] = ctrl ? 0x80 : 0;
  state[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(state);
  HWND focus = GetFocus();
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(focus, WM_KEYDOWN, vk, LPARAM(1 | (scan << 16)));
  if (vk == VK_SPACE) PostMessageW(focus, WM_CHAR, L' ', LPARAM(1 | (scan << 16)));
  Pump(30);
  PostMessageW(GetFocus(), WM_KEYUP, vk, LPARAM(1 | (scan << 16) | (1u << 30) | (1u << 31)));
  Pump(30);
  state[VK_CONTROL] = state[VK_SHIFT] = 0;
  SetKeyboardState(state);
}

class Keyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = lvtest::CreateHostWindow(0, 0, 400, 300);
    ASSERT_NE(host_, nullptr);
    ASSERT_TRUE(plugin_.Load());
    plugin_.d->LoadSettings();
    plugin_.Configure(720, 288);
    tool_ = plugin_.Open(host_);
    ASSERT_NE(tool_, nullptr);
    SetForegroundWindow(tool_);
    SetFocus(GetDlgItem(tool_, kTab));
    Pump(30);
  }
  void TearDown() override {
    plugin_.Unload();
    DestroyWindow(host_);
    Pump(10);
  }

  // Shuts the plug-in down as the host does; returns the settings file it wrote.
  std::string SavedSettings() {
    plugin_.Shutdown();
    return lvtest::ReadFile(plugin_.Ini());
  }

  int FocusId() const { return GetFocus() ? GetDlgCtrlID(GetFocus()) : 0; }
  HWND Page(int index) const {
    HWND tab = GetDlgItem(tool_, kTab);
    int i = 0;
    for (HWND w = GetWindow(tab, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (GetDlgItem(w, 5078) && i++ == index) return w;
    }
    return nullptr;
  }
  int Mode() { return int(SendMessageW(GetDlgItem(tool_, kTab), TCM_GETCURSEL, 0, 0)); }

  // The controls Tab cycles through, in template order: tab stops that are visible and
  // enabled; a control parent is no stop itself, its children stand in its place.
  void TabStops(HWND parent, std::vector<HWND>& out) const {
    for (HWND w = GetWindow(parent, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
      const LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
      const LONG_PTR ex = GetWindowLongPtrW(w, GWL_EXSTYLE);
      if (!(style & WS_VISIBLE) || (style & WS_DISABLED)) continue;
      if (ex & WS_EX_CONTROLPARENT) {
        TabStops(w, out);
      } else if (style & WS_TABSTOP) {
        out.push_back(w);
      }
    }
  }

  HWND host_ = nullptr, tool_ = nullptr;
  lvtest::PluginHost plugin_{L"keyboard"};
};

TEST_F(Keyboard, TabWalksTheVisibleControlsInTemplateOrderBothWays) {
  std::vector<HWND> expected;
  TabStops(tool_, expected);
  ASSERT_GE(expected.size(), 8u);
  // The focus starts on the tab strip, outside the cycle: the first Tab enters it somewhere,
  // and from there every stop follows once, in order, round to the same one again.
  Key(VK_TAB);
  const auto first = std::find(expected.begin(), expected.end(), GetFocus());
  ASSERT_NE(first, expected.end()) << GetDlgCtrlID(GetFocus());
  std::rotate(expected.begin(), first, expected.end());
  std::vector<HWND> seen = {GetFocus()};
  for (size_t i = 1; i < expected.size(); ++i) {
    Key(VK_TAB);
    seen.push_back(GetFocus());
  }
  EXPECT_EQ(seen, expected);
  Key(VK_TAB);
  EXPECT_EQ(GetFocus(), expected.front());
  // Never into a hidden page.
  for (HWND w : seen) EXPECT_TRUE(IsWindowVisible(w)) << GetDlgCtrlID(w);
  // Shift+Tab retraces the cycle backwards.
  for (size_t i = expected.size(); i-- > 0;) {
    Key(VK_TAB, false, true);
    EXPECT_EQ(GetFocus(), expected[i]) << i;
  }
}

TEST_F(Keyboard, DisabledChannelBoxesAreSkippedInYuv) {
  SendDlgItemMessageW(tool_, kColorYuv, BM_CLICK, 0, 0);
  Pump();
  ASSERT_FALSE(IsWindowEnabled(GetDlgItem(tool_, kShowR)));
  std::vector<int> ids;
  for (int i = 0; i < 40; ++i) {
    Key(VK_TAB);
    ids.push_back(FocusId());
  }
  for (int id : {5082, 5083, 5084}) EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0) << id;
  EXPECT_GT(std::count(ids.begin(), ids.end(), 5085), 0);
}

TEST_F(Keyboard, CtrlTabCyclesThePagesAndModeFollows) {
  const int start = Mode();
  std::vector<int> modes;
  for (int i = 0; i < 3; ++i) {
    Key(VK_TAB, true);
    modes.push_back(Mode());
    EXPECT_TRUE(IsWindowVisible(Page(Mode())));
    EXPECT_FALSE(IsWindowVisible(Page((Mode() + 1) % 3)));
  }
  EXPECT_EQ(modes, (std::vector<int>{(start + 1) % 3, (start + 2) % 3, start}));
  Key(VK_TAB, true, true);
  EXPECT_EQ(Mode(), (start + 2) % 3);
  // Mode reaches the settings file exactly as a click on the tab would have it.
  EXPECT_NE(SavedSettings().find("\r\nMode=" + std::to_string((start + 2) % 3) + "\r\n"), std::string::npos);
}

TEST_F(Keyboard, SpaceTogglesAFocusedCheckBoxAndArrowsMoveBetweenColourSpaces) {
  HWND blue = GetDlgItem(tool_, kShowB);
  SetFocus(blue);
  const LRESULT before = SendMessageW(blue, BM_GETCHECK, 0, 0);
  Key(VK_SPACE);
  EXPECT_NE(SendMessageW(blue, BM_GETCHECK, 0, 0), before);

  SetFocus(GetDlgItem(tool_, kColorRgb));
  Key(VK_DOWN);
  EXPECT_EQ(FocusId(), kColorYuv);
  EXPECT_EQ(SendDlgItemMessageW(tool_, kColorYuv, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(tool_, kShowR)));  // the colour mode changed with it
  Key(VK_UP);
  EXPECT_EQ(FocusId(), kColorRgb);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(tool_, kShowR)));

  const std::string ini = SavedSettings();
  EXPECT_NE(ini.find(before == BST_CHECKED ? "\r\nBColor=0\r\n" : "\r\nBColor=1\r\n"), std::string::npos);
  EXPECT_NE(ini.find("\r\nColorMode=0\r\n"), std::string::npos);
}

TEST_F(Keyboard, EnterAndEscapeNeverCloseAndTheLineFieldKeepsItsKeys) {
  HWND edit = GetDlgItem(tool_, 5099);
  SetFocus(edit);
  SetWindowTextW(edit, L"12");
  Key(VK_RETURN);
  EXPECT_EQ(LOWORD(SendDlgItemMessageW(tool_, 5101, UDM_GETPOS, 0, 0)), 12);
  SetWindowTextW(edit, L"50");
  Key(VK_ESCAPE);  // back to the accepted value
  wchar_t text[16] = {};
  GetWindowTextW(edit, text, 16);
  EXPECT_STREQ(text, L"12");
  SetFocus(GetDlgItem(tool_, kTab));
  Key(VK_RETURN);
  Key(VK_ESCAPE);
  EXPECT_TRUE(IsWindow(tool_));
  EXPECT_TRUE(IsWindowVisible(tool_));
}

TEST_F(Keyboard, KeysForTheHostReachItUnchanged) {
  lvtest::HostKeys() = 0;
  SetFocus(host_);
  for (WORD vk : {WORD('A'), WORD(VK_TAB), WORD(VK_RETURN), WORD(VK_ESCAPE)}) Key(vk);
  EXPECT_EQ(lvtest::HostKeys(), 4 + 4);  // four key downs and their four characters
  EXPECT_TRUE(IsWindow(tool_));
}

TEST_F(Keyboard, FocusComesBackToTheControlThatHadItWhenTheWindowWasLeft) {
  HWND blue = GetDlgItem(tool_, kShowB);
  SetFocus(blue);
  Pump();
  SetActiveWindow(host_);
  Pump();
  SetActiveWindow(tool_);
  Pump();
  EXPECT_EQ(GetFocus(), blue);
}

TEST_F(Keyboard, NoHookIsLeftOnceThePluginIsShutDownAndUnloaded) {
  // A hook left behind would call into the unloaded DLL on the next message.
  plugin_.Unload();
  SetFocus(host_);
  Key('B');
  Key(VK_TAB);
  Pump();
  SUCCEED();
}

// The hook itself, on a window of this test: keys for the dialog go through dialog handling,
// keys for others pass, and a removed hook never runs again.
TEST(KeyboardHook, ActsOnlyForItsDialogAndNeverRunsOnceRemoved) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND dialog = CreateWindowExW(WS_EX_CONTROLPARENT, L"#32770", L"d", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                nullptr, instance, nullptr);
  HWND first = CreateWindowExW(0, L"Button", L"1", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 50, 20, dialog,
                               HMENU(101), instance, nullptr);
  HWND second = CreateWindowExW(0, L"Button", L"2", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 60, 0, 50, 20, dialog,
                                HMENU(102), instance, nullptr);
  ASSERT_TRUE(first && second);
  {
    DialogKeyboardHook hook;
    ASSERT_TRUE(hook.Install(dialog));
    ASSERT_TRUE(hook.Install(dialog));  // a second install keeps the one hook
    SetForegroundWindow(dialog);
    SetFocus(first);
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), second);
    hook.Remove();
    const long calls = DialogKeyboardHook::CallCount();
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), second);  // no dialog handling without the hook
    EXPECT_EQ(DialogKeyboardHook::CallCount(), calls);
  }
  DestroyWindow(dialog);
}

}  // namespace
