// The tool window through the real DLL: a host window of class "TMain" opens it with the
// descriptor's OpenToolWindow, frames come through ProcessFrame, user actions arrive as the
// messages the controls would get, and everything is checked by looking at the windows.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/settings_file_text.h"
#include "lineview_version.h"
#include "win32/tool_window_harness.h"

namespace {

using namespace lvtest;

class ToolWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    HostCommands().clear();
    host_ = CreateHostWindow();
    ASSERT_NE(host_, nullptr);
    plugin_ = std::make_unique<PluginHost>(L"toolwin");
    ASSERT_TRUE(plugin_->Load());
  }
  void TearDown() override {
    plugin_.reset();
    if (IsWindow(host_)) DestroyWindow(host_);
    Pump(20);
  }

  // LoadSettings from `ini` (when given), Configure with `height` (when not 0), open the window.
  HWND Start(const std::string& ini = "", int height = 576) {
    if (!ini.empty()) WriteFile(plugin_->Ini(), ini);
    plugin_->d->LoadSettings();
    if (height > 0) plugin_->Configure(720, height);
    tool_ = plugin_->Open(host_);
    return tool_;
  }
  HWND Item(int id) const { return GetDlgItem(tool_, id); }
  bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void Feed(Yuy2Frame& frame, int count = 1) {
    for (int i = 0; i < count; ++i) plugin_->d->ProcessFrame(&frame.info);
    Pump(30);
  }
  std::string SavedIni() {
    plugin_->Shutdown();
    return ReadFile(plugin_->Ini());
  }

  HWND host_ = nullptr;
  HWND tool_ = nullptr;
  std::unique_ptr<PluginHost> plugin_;
};

std::string IniWith(const std::string& from, const std::string& to) { return WithLine(kDefaultSettingsFile, from, to); }

std::string IniAt(int x, int y) {
  return IniWith("DlgWndPosX=-100\r\nDlgWndPosY=-100",
                 "DlgWndPosX=" + std::to_string(x) + "\r\nDlgWndPosY=" + std::to_string(y));
}

TEST_F(ToolWindow, IsOwnedByTheHostAndShowsTheTabsOfTheStoredMode) {
  ASSERT_NE(Start(IniWith("\nMode=0", "\nMode=2")), nullptr);
  EXPECT_EQ(ToolWindows().size(), 1u);
  EXPECT_TRUE(IsWindowVisible(tool_));
  EXPECT_EQ(GetWindow(tool_, GW_OWNER), host_);

  HWND tab = Item(IDC_TAB);
  ASSERT_EQ(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0), 3);
  const wchar_t* captions[] = {L"Осциллограф", L"Спектроанализатор", L"Уровни"};
  for (int i = 0; i < 3; ++i) {
    wchar_t text[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(std::wstring(text), captions[i]) << i;
  }
  EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 2);
  for (int mode = 0; mode < 3; ++mode) {
    ASSERT_NE(Page(tool_, mode), nullptr) << mode;
    EXPECT_EQ(IsWindowVisible(Page(tool_, mode)) != FALSE, mode == 2) << mode;
  }

  // The user picks a tab: its page alone shows and the choice is what the settings keep.
  ClickTab(tab, 0);
  Pump(30);
  EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 0);
  for (int mode = 0; mode < 3; ++mode) EXPECT_EQ(IsWindowVisible(Page(tool_, mode)) != FALSE, mode == 0) << mode;
  EXPECT_EQ(IniValue(SavedIni(), "Mode"), "0");
}

// Where the window opens: (x, y) of the stored position, host rectangle, expected placement.
class Placement : public ToolWindow {
 protected:
  void OpenOver(const std::string& ini, int hx, int hy, int hw, int hh) {
    SetWindowPos(host_, nullptr, hx, hy, hw, hh, SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_NE(Start(ini), nullptr);
    GetWindowRect(tool_, &tool);
    GetWindowRect(host_, &host);
  }
  void ExpectCentredOnScreen() {
    const int w = tool.right - tool.left, h = tool.bottom - tool.top;
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_GE(tool.left, 0);
    EXPECT_GE(tool.top, 0);
    EXPECT_LE(tool.right, sw);
    EXPECT_LE(tool.bottom, sh);
    // Centres coincide, up to the halving of odd sizes.
    EXPECT_LE(std::abs((tool.left + w / 2) - (host.left + host.right) / 2), 1);
    EXPECT_LE(std::abs((tool.top + h / 2) - (host.top + host.bottom) / 2), 1);
  }
  RECT tool{}, host{};
};

TEST_F(Placement, NoStoredPositionCentresOverTheHost) {
  OpenOver(kDefaultSettingsFile, 300, 200, 640, 480);
  ExpectCentredOnScreen();
}

TEST_F(Placement, CentredPositionIsPulledOntoTheScreen) {
  // A small host in the top-left corner: the centred window would start above and left of it.
  OpenOver(kDefaultSettingsFile, 0, 0, 120, 90);
  EXPECT_EQ(tool.left, 0);
  EXPECT_EQ(tool.top, 0);
}

TEST_F(Placement, CentredPositionIsPulledBackFromTheRightAndBottom) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  OpenOver(kDefaultSettingsFile, sw - 120, sh - 90, 120, 90);
  EXPECT_EQ(tool.right, sw);
  EXPECT_EQ(tool.bottom, sh);
  EXPECT_GE(tool.left, 0);
}

TEST_F(Placement, StoredPositionPartlyOffScreenIsKept) {
  OpenOver(IniAt(-50, 20), 300, 200, 640, 480);
  EXPECT_EQ(tool.left, -50);
  EXPECT_EQ(tool.top, 20);
}

TEST_F(Placement, StoredPositionRightOfTheScreenIsRecentred) {
  OpenOver(IniAt(GetSystemMetrics(SM_CXSCREEN), 10), 300, 200, 640, 480);
  ExpectCentredOnScreen();
}

TEST_F(Placement, StoredPositionBelowTheScreenIsRecentred) {
  OpenOver(IniAt(10, GetSystemMetrics(SM_CYSCREEN)), 300, 200, 640, 480);
  ExpectCentredOnScreen();
}

// A position saved on a monitor that is gone: kept only while enough of the caption bar (about
// 100 x 20 pixels) lies on a monitor to drag the window back by it.
TEST_F(Placement, StoredPositionWithoutAGrabbableCaptionIsRecentred) {
  OpenOver(IniAt(-3000, -3000), 300, 200, 640, 480);
  ExpectCentredOnScreen();
}

TEST_F(Placement, StoredPositionAtTheEndOfTheNumbersIsRecentred) {
  OpenOver(IniAt(2147483647, -2147483647 - 1), 300, 200, 640, 480);
  ExpectCentredOnScreen();
}

TEST_F(Placement, StoredPositionShowingOnlyACornerIsRecentred) {
  OpenOver(IniAt(GetSystemMetrics(SM_CXSCREEN) - 80, GetSystemMetrics(SM_CYSCREEN) - 124), 300, 200, 640, 480);
  ExpectCentredOnScreen();
}

TEST_F(Placement, StoredPositionWithEnoughCaptionOnTheScreenIsKept) {
  const int x = GetSystemMetrics(SM_CXSCREEN) - 150, y = GetSystemMetrics(SM_CYSCREEN) - 60;
  OpenOver(IniAt(x, y), 300, 200, 640, 480);
  EXPECT_EQ(tool.left, x);
  EXPECT_EQ(tool.top, y);
}

// "Первый" as the host hands it over: Windows-1251 bytes.
const char kPervyi1251[] = "\xCF\xE5\xF0\xE2\xFB\xE9";

TEST_F(ToolWindow, ChannelGroupFollowsTheHostsChannel) {
  ASSERT_NE(Start(), nullptr);
  Yuy2Frame frame(720, 576);
  struct Case {
    int code;  // channelNumber + 1
    const wchar_t* number;
    const wchar_t* frequency;
    int checked;  // the radio that is on afterwards
  };
  const Case cases[] = {
      {5, L"5", L"175.25", IDC_SOURCE_TV},
      {-1, L"--", L"---", IDC_SOURCE_VHS},
      {0, L"0", L"175.25", IDC_SOURCE_TV},
      {-2, L"--", L"---", IDC_SOURCE_SVHS},
      {-3, L"--", L"---", IDC_SOURCE_SVHS},  // an unknown input leaves the radios as they were
  };
  for (const Case& c : cases) {
    frame.SetChannel(c.code - 1, kPervyi1251, 175250000);
    Feed(frame);
    EXPECT_EQ(Text(Item(IDC_CHANNEL_NUMBER)), c.number) << c.code;
    EXPECT_EQ(Text(Item(IDC_CHANNEL_FREQUENCY)), c.frequency) << c.code;
    EXPECT_EQ(Text(Item(IDC_CHANNEL_NAME)), L"Первый") << c.code;
    for (int id : {IDC_SOURCE_TV, IDC_SOURCE_VHS, IDC_SOURCE_SVHS}) EXPECT_EQ(Checked(id), id == c.checked) << c.code << " " << id;
  }
  EXPECT_TRUE(HostCommands().empty());  // showing the channel commands nothing

  // Name and frequency come with a change of number only.
  frame.SetChannel(7, "B", 49750000);
  Feed(frame);
  EXPECT_EQ(Text(Item(IDC_CHANNEL_NUMBER)), L"8");
  EXPECT_EQ(Text(Item(IDC_CHANNEL_FREQUENCY)), L"49.75");
  EXPECT_EQ(Text(Item(IDC_CHANNEL_NAME)), L"B");
  frame.SetChannel(7, "C", 55250000);
  Feed(frame);
  EXPECT_EQ(Text(Item(IDC_CHANNEL_NAME)), L"B");
  EXPECT_EQ(Text(Item(IDC_CHANNEL_FREQUENCY)), L"49.75");
}

TEST_F(ToolWindow, ChannelArrowsAndSourceRadiosCommandTheHost) {
  ASSERT_NE(Start(), nullptr);
  Yuy2Frame frame(720, 576);
  frame.SetChannel(4, kPervyi1251, 175250000);
  Feed(frame);
  HWND spin = Item(IDC_CHANNEL_SPIN);
  for (int i = 0; i < 3; ++i) ClickSpinArrow(spin, true);
  Pump(50);
  EXPECT_EQ(HostCommands(), (std::vector<WPARAM>{1227, 1227, 1227}));
  HostCommands().clear();
  ClickSpinArrow(spin, false);
  ClickSpinArrow(spin, false);
  Pump(50);
  EXPECT_EQ(HostCommands(), (std::vector<WPARAM>{1228, 1228}));
  HostCommands().clear();

  frame.SetChannel(-2, "", 0);  // the "VHS" input: no channel to step
  Feed(frame);
  ASSERT_TRUE(Checked(IDC_SOURCE_VHS));
  for (int i = 0; i < 3; ++i) ClickSpinArrow(spin, true);
  ClickSpinArrow(spin, false);
  Pump(50);
  EXPECT_TRUE(HostCommands().empty());

  SendMessageW(Item(IDC_SOURCE_SVHS), BM_CLICK, 0, 0);
  Pump(50);
  EXPECT_EQ(HostCommands(), (std::vector<WPARAM>{1249}));
  EXPECT_TRUE(Checked(IDC_SOURCE_SVHS));
  EXPECT_FALSE(Checked(IDC_SOURCE_VHS));
  HostCommands().clear();
  SendMessageW(Item(IDC_SOURCE_TV), BM_CLICK, 0, 0);
  Pump(50);
  SendMessageW(Item(IDC_SOURCE_VHS), BM_CLICK, 0, 0);
  Pump(50);
  EXPECT_EQ(HostCommands(), (std::vector<WPARAM>{1246, 1248}));
}

// The arrows stand beside the channel field, not under it: a click of the mouse at the centre of
// either arrow reaches the up-down, whichever control is on top.
TEST_F(ToolWindow, ChannelArrowsTakeARealClick) {
  ASSERT_NE(Start(), nullptr);
  Yuy2Frame frame(720, 576);
  frame.SetChannel(4, kPervyi1251, 175250000);
  Feed(frame);
  // Above the windows of other test programs.
  SetWindowPos(tool_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RECT spin{};
  GetWindowRect(Item(IDC_CHANNEL_SPIN), &spin);
  const int x = (spin.left + spin.right) / 2, h = spin.bottom - spin.top;
  for (const bool up : {true, false}) {
    ASSERT_EQ(GetAncestor(WindowFromPoint(POINT{x, spin.top + (up ? h / 4 : h * 3 / 4)}), GA_ROOT), tool_);
    ClickScreen(x, spin.top + (up ? h / 4 : h * 3 / 4));
    Pump(100);
  }
  EXPECT_EQ(HostCommands(), (std::vector<WPARAM>{HostCmdChannelUp, HostCmdChannelDown}));
}

// The host's C runtime is the plug-in's: a host that switched it to a decimal comma still gets
// "34.85" and "175.25", as the scope page's "5.0".
TEST_F(ToolWindow, ReadoutsKeepTheDecimalPointInAHostsCommaLocale) {
  ASSERT_NE(Start(), nullptr);
  ASSERT_NE(setlocale(LC_ALL, "Russian"), nullptr);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.2f", 0.5);
  Yuy2Frame frame(720, 576);  // flat grey: every channel at the noise floor, 75.71 dB over 50 frames
  frame.SetChannel(4, kPervyi1251, 175250000);
  Feed(frame, 50);
  const std::wstring snr = Text(GetDlgItem(Page(tool_, 0), IDC_SNR_FIRST));
  const std::wstring frequency = Text(Item(IDC_CHANNEL_FREQUENCY));
  setlocale(LC_ALL, "C");
  ASSERT_STREQ(probe, "0,50");  // the comma locale really took
  EXPECT_EQ(snr, L"75.71");
  EXPECT_EQ(frequency, L"175.25");
}

TEST_F(ToolWindow, YuvDisablesRgbBoxesAndKeepsTheirStates) {
  ASSERT_NE(Start(), nullptr);
  const int rgb[] = {IDC_SHOW_R, IDC_SHOW_G, IDC_SHOW_B};
  const int yuv[] = {IDC_SHOW_Y, IDC_SHOW_U, IDC_SHOW_V};
  EXPECT_TRUE(Checked(IDC_COLOR_RGB));
  for (int id : rgb) EXPECT_TRUE(IsWindowEnabled(Item(id))) << id;
  for (int id : yuv) EXPECT_FALSE(IsWindowEnabled(Item(id))) << id;

  SendMessageW(Item(IDC_SHOW_G), BM_CLICK, 0, 0);
  ASSERT_FALSE(Checked(IDC_SHOW_G));
  SendMessageW(Item(IDC_COLOR_YUV), BM_CLICK, 0, 0);
  Pump(30);
  EXPECT_TRUE(Checked(IDC_COLOR_YUV));
  EXPECT_FALSE(Checked(IDC_COLOR_RGB));
  for (int id : rgb) EXPECT_FALSE(IsWindowEnabled(Item(id))) << id;
  for (int id : yuv) EXPECT_TRUE(IsWindowEnabled(Item(id))) << id;
  EXPECT_TRUE(Checked(IDC_SHOW_R));
  EXPECT_FALSE(Checked(IDC_SHOW_G));
  EXPECT_TRUE(Checked(IDC_SHOW_B));

  SendMessageW(Item(IDC_SHOW_V), BM_CLICK, 0, 0);
  ExpectIniValues(SavedIni(), {{"ColorMode", "1"},
                               {"RColor", "1"},
                               {"GColor", "0"},
                               {"BColor", "1"},
                               {"YColor", "1"},
                               {"VColor", "0"}});
}

TEST_F(ToolWindow, EnterEscOkAndCancelLeaveItOpenCloseDestroysIt) {
  ASSERT_NE(Start(), nullptr);
  // Keys as a host loop delivers them, with and without IsDialogMessage, from the tab control,
  // a check box and the TV-line field.
  for (HWND dialog : {tool_, static_cast<HWND>(nullptr)}) {
    for (int id : {IDC_TAB, IDC_SHOW_R, IDC_TVLINE_EDIT}) {
      for (WPARAM vk : {VK_RETURN, VK_ESCAPE}) {
        SetFocus(Item(id));
        PostMessageW(Item(id), WM_KEYDOWN, vk, 1);
        PostMessageW(Item(id), WM_CHAR, vk, 1);
        PostMessageW(Item(id), WM_KEYUP, vk, 0xC0000001);
        Pump(40, dialog);
        ASSERT_TRUE(IsWindow(tool_)) << id << " " << vk;
        EXPECT_TRUE(IsWindowVisible(tool_)) << id << " " << vk;
      }
    }
  }
  EXPECT_TRUE(Checked(IDC_SHOW_R));
  SendMessageW(tool_, WM_COMMAND, IDOK, 0);
  SendMessageW(tool_, WM_COMMAND, IDCANCEL, 0);
  Pump(40);
  ASSERT_TRUE(IsWindow(tool_));
  EXPECT_TRUE(IsWindowVisible(tool_));

  SendMessageW(tool_, WM_CLOSE, 0, 0);
  Pump(40);
  EXPECT_FALSE(IsWindow(tool_));
  EXPECT_TRUE(ToolWindows().empty());

  // "Закрыть" closes it as well.
  tool_ = plugin_->Open(host_);
  ASSERT_NE(tool_, nullptr);
  SendMessageW(Item(IDC_CLOSE), BM_CLICK, 0, 0);
  Pump(60);
  EXPECT_FALSE(IsWindow(tool_));
}

TEST_F(ToolWindow, SecondOpenCreatesNothing) {
  ASSERT_NE(Start(), nullptr);
  HWND h = host_;
  plugin_->d->OpenToolWindow(&h);
  Pump(50);
  const std::vector<HWND> windows = ToolWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0], tool_);
  EXPECT_TRUE(IsWindowVisible(tool_));
}

TEST_F(ToolWindow, ReopenedWindowKeepsPositionTabLineColoursAndReadouts) {
  ASSERT_NE(Start(), nullptr);
  Yuy2Frame frame(720, 576);
  std::mt19937 gen(7);
  for (int i = 0; i < 5; ++i) {
    for (uint8_t& b : frame.pixels) b = static_cast<uint8_t>(100 + gen() % 20);
    Feed(frame);
  }
  HWND page = Page(tool_, 0);
  const std::wstring snr[3] = {Text(GetDlgItem(page, IDC_SNR_FIRST)), Text(GetDlgItem(page, IDC_SNR_SECOND)),
                               Text(GetDlgItem(page, IDC_SNR_THIRD))};
  EXPECT_NE(snr[0], L"");
  EXPECT_NE(snr[0], L"0.00");

  SetWindowPos(tool_, nullptr, 123, 87, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ClickTab(Item(IDC_TAB), 1);
  ClickSpinArrow(Item(IDC_TVLINE_SPIN), true);
  ClickSpinArrow(Item(IDC_TVLINE_SPIN), true);
  SendMessageW(Item(IDC_COLOR_YUV), BM_CLICK, 0, 0);
  SendMessageW(Item(IDC_SHOW_U), BM_CLICK, 0, 0);
  Pump(30);
  const std::wstring line = Text(Item(IDC_TVLINE_EDIT));
  EXPECT_EQ(line, L"102");
  EXPECT_EQ(SpinPos(Item(IDC_TVLINE_SPIN)), 102);

  SendMessageW(tool_, WM_CLOSE, 0, 0);
  Pump(30);
  ASSERT_FALSE(IsWindow(tool_));
  Feed(frame, 3);  // not analysed while closed: the read-outs stay

  ASSERT_NE(tool_ = plugin_->Open(host_), nullptr);
  RECT r{};
  GetWindowRect(tool_, &r);
  EXPECT_EQ(r.left, 123);
  EXPECT_EQ(r.top, 87);
  EXPECT_EQ(SendMessageW(Item(IDC_TAB), TCM_GETCURSEL, 0, 0), 1);
  for (int mode = 0; mode < 3; ++mode) EXPECT_EQ(IsWindowVisible(Page(tool_, mode)) != FALSE, mode == 1) << mode;
  EXPECT_EQ(Text(Item(IDC_TVLINE_EDIT)), L"102");
  EXPECT_EQ(SpinPos(Item(IDC_TVLINE_SPIN)), 102);
  EXPECT_TRUE(Checked(IDC_COLOR_YUV));
  EXPECT_FALSE(Checked(IDC_COLOR_RGB));
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_SHOW_R)));
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_SHOW_U)));
  EXPECT_FALSE(Checked(IDC_SHOW_U));
  EXPECT_TRUE(Checked(IDC_SHOW_Y));
  page = Page(tool_, 0);
  EXPECT_EQ(Text(GetDlgItem(page, IDC_SNR_FIRST)), snr[0]);
  EXPECT_EQ(Text(GetDlgItem(page, IDC_SNR_SECOND)), snr[1]);
  EXPECT_EQ(Text(GetDlgItem(page, IDC_SNR_THIRD)), snr[2]);
}

TEST_F(ToolWindow, ShutdownWithTheWindowOpenSavesItsFinalPosition) {
  ASSERT_NE(Start(), nullptr);
  SetWindowPos(tool_, nullptr, 321, 123, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Pump(20);
  const std::string ini = SavedIni();
  EXPECT_FALSE(IsWindow(tool_));
  EXPECT_EQ(IniValue(ini, "DlgWndPosX"), "321");
  EXPECT_EQ(IniValue(ini, "DlgWndPosY"), "123");
}

// --- The TV-line field -------------------------------------------------------------------

class TvLineField : public ToolWindow {
 protected:
  void Open(int height) {
    ASSERT_NE(Start("", height), nullptr);
    edit = Item(IDC_TVLINE_EDIT);
    spin = Item(IDC_TVLINE_SPIN);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(spin, nullptr);
    SetFocus(edit);
    Pump(20);
    ASSERT_EQ(GetFocus(), edit);
  }
  // Types `text` and presses Enter in the field.
  void Enter(const wchar_t* text) {
    TypeInto(edit, text);
    PressKey(edit, VK_RETURN);
    Pump(20);
  }
  HWND Balloon() const { return OwnedTooltip(tool_); }
  bool BalloonShown() const { return Balloon() != nullptr && IsWindowVisible(Balloon()); }
  static std::wstring Title(HWND tip) {
    wchar_t title[100] = {};
    TTGETTITLE t{};
    t.dwSize = sizeof t;
    t.cch = 100;
    t.pszTitle = title;
    SendMessageW(tip, TTM_GETTITLE, 0, reinterpret_cast<LPARAM>(&t));
    return title;
  }
  // Whether this comctl32 reports a tooltip's title at all (Wine's does not).
  static bool TitlesReadable() {
    HWND probe = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SendMessageW(probe, TTM_SETTITLEW, TTI_ERROR, reinterpret_cast<LPARAM>(L"probe"));
    const bool readable = Title(probe) == L"probe";
    DestroyWindow(probe);
    return readable;
  }
  void Range(int& lower, int& upper) const {
    const DWORD r = static_cast<DWORD>(SendMessageW(spin, UDM_GETRANGE, 0, 0));
    lower = static_cast<short>(HIWORD(r));
    upper = static_cast<short>(LOWORD(r));
  }
  HWND edit = nullptr, spin = nullptr;
};

TEST_F(TvLineField, OutOfRangeAndMalformedEntriesShowTheBalloonAndChangeNothing) {
  Open(288);
  int lower = 1, upper = 0;
  Range(lower, upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 287);
  ASSERT_EQ(SpinPos(spin), 100);

  Enter(L"400");
  ASSERT_NE(Balloon(), nullptr);
  EXPECT_TRUE(BalloonShown());
  EXPECT_EQ(TooltipText(Balloon()), L"Значение должно быть числом от 0 до 287");
  if (TitlesReadable()) {
    EXPECT_EQ(Title(Balloon()), L"Ошибка");
  } else {
    std::printf("note: this comctl32 does not report tooltip titles; the title went unchecked\n");
  }
  EXPECT_EQ(Text(edit), L"400");
  DWORD from = 9, to = 9;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 3u);
  EXPECT_EQ(SpinPos(spin), 100);
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_TRUE(IsWindow(tool_));

  // Esc takes the typed text back and the balloon away.
  PressKey(edit, VK_ESCAPE);
  Pump(20);
  EXPECT_EQ(Text(edit), L"100");
  EXPECT_FALSE(BalloonShown());

  for (const wchar_t* bad : {L"", L"-", L"-5", L"x1", L"288"}) {
    Enter(bad);
    EXPECT_TRUE(BalloonShown()) << "'" << Utf8(bad) << "'";
    EXPECT_EQ(TooltipText(Balloon()), L"Значение должно быть числом от 0 до 287");
    EXPECT_EQ(SpinPos(spin), 100);
    PressKey(edit, VK_ESCAPE);
    Pump(20);
    EXPECT_FALSE(BalloonShown());
  }
  EXPECT_EQ(IniValue(SavedIni(), "TVLine"), "100");
}

TEST_F(TvLineField, AcceptedValueMovesTheSpinAndTheMarkedLine) {
  Open(288);
  Enter(L"12");
  EXPECT_EQ(SpinPos(spin), 12);
  EXPECT_EQ(Text(edit), L"12");
  EXPECT_FALSE(BalloonShown());

  // The next frame marks lines 12 and 13: grey 128/128/128 plus the red marker's offsets
  // Y +76, U -43, V +127 (clamped), every other line untouched.
  Yuy2Frame frame(720, 288);
  Feed(frame);
  for (int line : {0, 11, 12, 13, 14, 100, 287}) {
    const bool marked = line == 12 || line == 13;
    const uint8_t* row = frame.Row(line);
    int wrong = 0;
    for (int i = 0; i < 720 * 2; i += 4) {
      const uint8_t want[4] = {static_cast<uint8_t>(marked ? 204 : 128), static_cast<uint8_t>(marked ? 85 : 128),
                               static_cast<uint8_t>(marked ? 204 : 128), static_cast<uint8_t>(marked ? 255 : 128)};
      for (int k = 0; k < 4; ++k) wrong += row[i + k] != want[k];
    }
    EXPECT_EQ(wrong, 0) << "line " << line;
  }

  // The last accepted value is what Esc brings back, and what the settings keep.
  TypeInto(edit, L"2");
  PressKey(edit, VK_ESCAPE);
  EXPECT_EQ(Text(edit), L"12");
  Enter(L"287");
  EXPECT_EQ(SpinPos(spin), 287);
  EXPECT_EQ(IniValue(SavedIni(), "TVLine"), "287");
}

TEST_F(TvLineField, BalloonGoesAwayWhenACorrectValueIsAccepted) {
  Open(288);
  Enter(L"400");
  ASSERT_TRUE(BalloonShown());
  Enter(L"40");
  EXPECT_EQ(SpinPos(spin), 40);
  EXPECT_FALSE(BalloonShown());
}

TEST_F(TvLineField, FocusReturnsToTheFieldFromAnotherControlButNotFromTheHost) {
  Open(288);
  TypeInto(edit, L"999");
  SendMessageW(Item(IDC_SHOW_R), BM_CLICK, 0, 0);  // the click gives the box the focus first
  Pump(50);
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_TRUE(BalloonShown());
  EXPECT_EQ(SpinPos(spin), 100);
  SendMessageW(Item(IDC_SHOW_R), BM_CLICK, 0, 0);

  SetFocus(Item(IDC_TAB));
  Pump(50);
  EXPECT_EQ(GetFocus(), edit);

  // Going over to the host's own window is the user's right.
  SetFocus(host_);
  Pump(50);
  EXPECT_EQ(GetFocus(), host_);
  EXPECT_EQ(SpinPos(spin), 100);
}

TEST_F(TvLineField, BalloonHidesAfterFourSecondsAndWhenTheWindowMoves) {
  Open(288);
  Enter(L"400");
  ASSERT_TRUE(BalloonShown());
  Pump(4500);
  EXPECT_FALSE(BalloonShown());
  EXPECT_EQ(Text(edit), L"400");

  PressKey(edit, VK_RETURN);
  Pump(20);
  ASSERT_TRUE(BalloonShown());
  RECT r{};
  GetWindowRect(tool_, &r);
  SetWindowPos(tool_, nullptr, r.left + 40, r.top + 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(PumpUntil([&] { return !BalloonShown(); }, 1000));
}

TEST_F(TvLineField, DisablingTheFieldDisablesItsSpin) {
  Open(288);
  EXPECT_TRUE(IsWindowEnabled(spin));
  EnableWindow(edit, FALSE);
  EXPECT_FALSE(IsWindowEnabled(spin));
  EnableWindow(edit, TRUE);
  EXPECT_TRUE(IsWindowEnabled(spin));
}

TEST_F(TvLineField, WithoutAFrameFormatEveryValueFailsAndCloseStillCloses) {
  Open(0);  // Configure never called: height 0
  int lower = 1, upper = 1;
  Range(lower, upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, -1);
  for (const wchar_t* value : {L"0", L"-1", L"5"}) {
    Enter(value);
    EXPECT_TRUE(BalloonShown());
    EXPECT_EQ(TooltipText(Balloon()), L"Значение должно быть числом от 0 до -1");
  }
  // No value can ever be right: the field does not hold the focus, and "Закрыть" closes.
  SendMessageW(Item(IDC_CLOSE), BM_CLICK, 0, 0);
  Pump(100);
  EXPECT_FALSE(IsWindow(tool_));
  EXPECT_TRUE(ToolWindows().empty());
}

// Configure tells an open window of the new format: the range follows it and the field shows
// the line Configure clamped. Before any Configure the arrows store nothing either.
TEST_F(TvLineField, RangeFollowsEveryConfigure) {
  Open(0);
  ClickSpinArrow(spin, true);
  ClickSpinArrow(spin, false);
  Pump(30);
  EXPECT_EQ(Text(edit), L"100");
  int lower = 1, upper = 1;
  plugin_->Configure(720, 576);
  Pump(30);
  Range(lower, upper);
  EXPECT_EQ(upper, 575);
  Enter(L"500");
  EXPECT_FALSE(BalloonShown());
  plugin_->Configure(720, 288);
  Pump(30);
  Range(lower, upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 287);
  EXPECT_EQ(Text(edit), L"287");
  EXPECT_EQ(SpinPos(spin), 287);
  ClickSpinArrow(spin, false);
  Pump(30);
  EXPECT_EQ(IniValue(SavedIni(), "TVLine"), "286");
}

// --- SNR read-outs -----------------------------------------------------------------------

// The signal-to-noise ratio of one sampled line as the scope page defines it: population
// deviation over the measuring interval, a floor, and the white-to-black span over it.
double LineSnr(const std::vector<int>& samples, int startCount, int stopCount) {
  const int n = static_cast<int>(samples.size());
  auto mulDiv = [](long long a, long long b, long long c) { return static_cast<int>(std::llround(double(a * b) / double(c))); };
  const int first = mulDiv(startCount, n - 1, 1000), last = mulDiv(stopCount, n - 1, 1000);
  double mean = 0;
  for (int i = first; i <= last; ++i) mean += samples[i];
  mean /= (last - first + 1);
  double var = 0;
  for (int i = first; i <= last; ++i) var += (samples[i] - mean) * (samples[i] - mean);
  const double sigma = std::max(std::sqrt(var / (last - first + 1)), 0.036060891);
  return 20 * std::log10((235 - 16 + 1) / sigma);
}

int FloorDiv256(int v) { return static_cast<int>(std::floor(v / 256.0)); }
int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

TEST_F(ToolWindow, SnrReadoutsMatchTheNoiseOfTheFrames) {
  ASSERT_NE(Start(IniWith("ColorMode=0", "ColorMode=1")), nullptr);
  Yuy2Frame frame(720, 576);
  std::mt19937 gen(20261208);
  const int line = 100;
  // Six channels: R, G, B, Y, U, V; one SNR per frame per channel.
  std::vector<double> history[6];
  auto feedNoisy = [&](double sy, double su, double sv, int frames) {
    std::normal_distribution<double> unit(0, 1);
    auto ny = [&](std::mt19937& g) { return sy * unit(g); };
    auto nu = [&](std::mt19937& g) { return su * unit(g); };
    auto nv = [&](std::mt19937& g) { return sv * unit(g); };
    for (int f = 0; f < frames; ++f) {
      std::vector<int> ch[6];
      for (auto& c : ch) c.resize(720);
      uint8_t* row = frame.Row(line);
      for (int k = 0; k < 360; ++k) {
        const int y0 = Clamp(static_cast<int>(std::lround(120 + ny(gen))));
        const int y1 = Clamp(static_cast<int>(std::lround(120 + ny(gen))));
        const int u = Clamp(static_cast<int>(std::lround(128 + nu(gen))));
        const int v = Clamp(static_cast<int>(std::lround(128 + nv(gen))));
        row[4 * k] = static_cast<uint8_t>(y0), row[4 * k + 1] = static_cast<uint8_t>(u);
        row[4 * k + 2] = static_cast<uint8_t>(y1), row[4 * k + 3] = static_cast<uint8_t>(v);
        const int du = u - 128, dv = v - 128;
        const int dB = FloorDiv256(454 * du), dG = FloorDiv256(-86 * du) + FloorDiv256(-183 * dv),
                  dR = FloorDiv256(359 * dv);
        const int ys[2] = {y0, y1};
        for (int j = 0; j < 2; ++j) {
          const int i = 2 * k + j;
          ch[0][i] = Clamp(ys[j] + dR), ch[1][i] = Clamp(ys[j] + dG), ch[2][i] = Clamp(ys[j] + dB);
          ch[3][i] = ys[j], ch[4][i] = u, ch[5][i] = v;
        }
      }
      for (int c = 0; c < 6; ++c) history[c].push_back(LineSnr(ch[c], 50, 950));
      plugin_->d->ProcessFrame(&frame.info);
      if (f % 10 == 9) Pump(10);
    }
    Pump(60);
  };
  auto expectReadouts = [&](int firstChannel, const char* what) {
    HWND page = Page(tool_, 0);
    const int ids[3] = {IDC_SNR_FIRST, IDC_SNR_SECOND, IDC_SNR_THIRD};
    for (int i = 0; i < 3; ++i) {
      const std::vector<double>& h = history[firstChannel + i];
      ASSERT_GE(h.size(), 50u);
      double sum = 0;
      for (size_t k = h.size() - 50; k < h.size(); ++k) sum += h[k];
      const std::wstring text = Text(GetDlgItem(page, ids[i]));
      const double shown = std::wcstod(text.c_str(), nullptr);
      EXPECT_NEAR(shown, sum / 50, 0.05) << what << " channel " << i << " shows '" << Utf8(text) << "'";
    }
  };

  // Y, U and V with noise of their own: the three rings of the colour space shown.
  feedNoisy(3.0, 1.5, 6.0, 60);
  expectReadouts(3, "YUV");
  // Noise in luma only, shown as R, G, B; then Y, U, V again, the flat chroma at the floor.
  SendMessageW(Item(IDC_COLOR_RGB), BM_CLICK, 0, 0);
  Pump(20);
  feedNoisy(4.0, 0.0, 0.0, 60);
  expectReadouts(0, "RGB");
  SendMessageW(Item(IDC_COLOR_YUV), BM_CLICK, 0, 0);
  Pump(20);
  feedNoisy(4.0, 0.0, 0.0, 60);
  expectReadouts(3, "YUV, flat chroma");
  HWND page = Page(tool_, 0);
  EXPECT_EQ(Text(GetDlgItem(page, IDC_SNR_SECOND)), L"75.71");  // 20 log10(220 / 0.036060891)
}

// Notices waiting for tool window in this thread's queue, handled one by one; counts them.
int HandleWaitingNotices(HWND tool) {
  int n = 0;
  MSG msg;
  while (PeekMessageW(&msg, tool, kWmLineViewNotify, kWmLineViewNotify, PM_REMOVE)) {
    ++n;
    DispatchMessageW(&msg);
  }
  return n;
}

TEST_F(ToolWindow, FramesFasterThanTheWindowLeaveOneNoticeWaiting) {
  ASSERT_NE(Start(), nullptr);
  Yuy2Frame frame(720, 576);
  HandleWaitingNotices(tool_);
  for (int i = 0; i < 300; ++i) plugin_->d->ProcessFrame(&frame.info);
  EXPECT_EQ(HandleWaitingNotices(tool_), 1);
  // A channel change waits beside the results, once however many frames follow.
  for (int i = 0; i < 300; ++i) {
    frame.SetChannel(i % 2 == 0 ? 4 : 6, "A", 49750000);
    plugin_->d->ProcessFrame(&frame.info);
  }
  EXPECT_EQ(HandleWaitingNotices(tool_), 2);
  // Once handled, the next frame posts again, and the read-outs show the latest frame.
  frame.SetChannel(9, "Z", 55250000);
  plugin_->d->ProcessFrame(&frame.info);
  EXPECT_EQ(HandleWaitingNotices(tool_), 2);
  EXPECT_EQ(Text(Item(IDC_CHANNEL_NUMBER)), L"10");
  EXPECT_EQ(Text(Item(IDC_CHANNEL_NAME)), L"Z");
  // Flat grey is at the floor, 20 log10(220 / 0.036060891) = 75.708 dB, and the channel
  // change emptied the ring: one entry of 50 is 1.514.
  EXPECT_EQ(Text(GetDlgItem(Page(tool_, 0), IDC_SNR_FIRST)), L"1.51");
}

// --- About box ---------------------------------------------------------------------------

struct AboutProbe {
  HWND tool = nullptr;
  WPARAM closeWith = 0;  // VK_RETURN, VK_ESCAPE, or 0 for a click on "OK"
  int ticks = 0;
  bool seen = false, ownedByTool = false, toolDisabled = false, versionShown = false, forced = false;
  bool closeSent = false;
};
AboutProbe g_about;

BOOL CALLBACK MatchAboutBox(HWND hwnd, LPARAM p) {
  auto* f = reinterpret_cast<OwnedSearch*>(p);
  if (hwnd != f->owner && IsWindowVisible(hwnd) && GetDlgItem(hwnd, IDOK) != nullptr &&
      GetWindow(hwnd, GW_OWNER) != nullptr) {
    f->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A visible owned window with an "OK" button other than the tool window.
HWND FindAboutBox(HWND tool) {
  OwnedSearch f{tool, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchAboutBox, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

BOOL CALLBACK HasVersionText(HWND child, LPARAM p) {
  if (Text(child) == L"" LINEVIEW_ABOUT_VERSION) *reinterpret_cast<bool*>(p) = true;
  return TRUE;
}

void CALLBACK AboutTimer(HWND, UINT, UINT_PTR id, DWORD) {
  AboutProbe& a = g_about;
  ++a.ticks;
  HWND box = FindAboutBox(a.tool);
  if (box != nullptr && !a.closeSent) {
    a.seen = true;
    a.ownedByTool = GetWindow(box, GW_OWNER) == a.tool;
    a.toolDisabled = !IsWindowEnabled(a.tool);
    EnumChildWindows(box, HasVersionText, reinterpret_cast<LPARAM>(&a.versionShown));
    HWND target = GetFocus();
    if (target == nullptr || (target != box && !IsChild(box, target))) target = box;
    if (a.closeWith == 0) {
      PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    } else {
      PostMessageW(target, WM_KEYDOWN, a.closeWith, 1);
      PostMessageW(target, WM_KEYUP, a.closeWith, 0xC0000001);
    }
    a.closeSent = true;
  } else if (box != nullptr && a.ticks > 60) {
    a.forced = true;  // it did not close: end it so the test can report that
    EndDialog(box, 0);
  }
  if (box == nullptr && a.closeSent) KillTimer(nullptr, id);
  if (a.ticks > 200) KillTimer(nullptr, id);
}

TEST_F(ToolWindow, AboutBoxIsOwnedByTheWindowAndClosesWithOkEnterAndEsc) {
  ASSERT_NE(Start(), nullptr);
  for (WPARAM how : {WPARAM{0}, WPARAM{VK_RETURN}, WPARAM{VK_ESCAPE}}) {
    g_about = AboutProbe{};
    g_about.tool = tool_;
    g_about.closeWith = how;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, AboutTimer);
    ASSERT_NE(timer, 0u);
    // The box runs its modal loop inside the click; the timer drives it from in there.
    SendMessageW(Item(IDC_ABOUT), BM_CLICK, 0, 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(g_about.seen) << how;
    EXPECT_TRUE(g_about.ownedByTool) << how;
    EXPECT_TRUE(g_about.toolDisabled) << how;
    EXPECT_TRUE(g_about.versionShown) << how;
    EXPECT_FALSE(g_about.forced) << how;
    EXPECT_EQ(FindAboutBox(tool_), nullptr);
    ASSERT_TRUE(IsWindow(tool_));
    EXPECT_TRUE(IsWindowEnabled(tool_));
    EXPECT_TRUE(IsWindowVisible(tool_));
  }
}

// --- The host's window looked up when a command is sent ----------------------------------

TEST(ToolWindowWithoutHost, CommandsReachAHostWindowThatCameLaterAndAreDroppedWithoutOne) {
  HostCommands().clear();
  PluginHost plugin(L"toolwin_late");
  ASSERT_TRUE(plugin.Load());  // no "TMain" window exists yet
  plugin.d->LoadSettings();
  plugin.Configure(720, 576);
  HWND host = CreateHostWindow();
  HWND tool = plugin.Open(host);
  ASSERT_NE(tool, nullptr);
  SendMessageW(GetDlgItem(tool, IDC_SOURCE_SVHS), BM_CLICK, 0, 0);
  Pump(50);
  EXPECT_EQ(HostCommands(), (std::vector<WPARAM>{1249}));

  // The host window goes away under the open tool window: the command has nowhere to go.
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  plugin.Shutdown();
  DestroyWindow(host);
  plugin.Unload();
  HostCommands().clear();
  PluginHost again(L"toolwin_none");
  ASSERT_TRUE(again.Load());
  again.d->LoadSettings();
  tool = again.Open(other);
  ASSERT_NE(tool, nullptr);
  SendMessageW(GetDlgItem(tool, IDC_SOURCE_VHS), BM_CLICK, 0, 0);
  Pump(50);
  EXPECT_TRUE(HostCommands().empty());
  EXPECT_TRUE(IsWindow(tool));
  again.Unload();
  DestroyWindow(other);
}

}  // namespace
