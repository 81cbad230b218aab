#include "ui/analyzer_dialog_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <iterator>

#include "plugin/host_contract.h"
#include "resources/resource_ids.h"
#include "ui/number_text.h"
#include "ui/report_file_win.h"

namespace {

const wchar_t* const kTabCaptions[] = {L"Осциллограф", L"Спектроанализатор", L"Уровни"};
constexpr int kShowChannelIds[ChannelCount] = {IDC_SHOW_R, IDC_SHOW_G, IDC_SHOW_B,
                                               IDC_SHOW_Y, IDC_SHOW_U, IDC_SHOW_V};
constexpr int kFlashPauseMs = 60;

HWND FindHostMainWindow() { return FindWindowW(L"TMain", L"Kestrova"); }

// How much of the caption bar must lie on a monitor's work area for the user to drag the window
// back: a position saved on a monitor that is gone would otherwise hide the window for good.
constexpr int kGrabWidth = 100;
constexpr int kGrabHeight = 20;
// No monitor lies this far out; a hand-edited position beyond it would overflow the sums below.
constexpr int kFarOut = 1 << 24;

// Whether a window of `width` at (x, y) shows enough of its caption bar on some monitor.
bool CaptionGrabbable(int x, int y, int width) {
  if (x < -kFarOut || x > kFarOut || y < -kFarOut || y > kFarOut || width < 0 || width > kFarOut) return false;
  const RECT caption = {x, y, x + width, y + kGrabHeight};
  HMONITOR monitor = MonitorFromRect(&caption, MONITOR_DEFAULTTONULL);  // the one holding most of it
  MONITORINFO info{};
  info.cbSize = sizeof info;
  RECT visible{};
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info) || !IntersectRect(&visible, &caption, &info.rcWork)) {
    return false;
  }
  return visible.right - visible.left >= kGrabWidth && visible.bottom - visible.top >= kGrabHeight;
}

int32_t* ShowFlag(AnalysisSettings& s, int channel) {
  int32_t* flags[ChannelCount] = {&s.RColor, &s.GColor, &s.BColor, &s.YColor, &s.UColor, &s.VColor};
  return flags[channel];
}

}  // namespace

// --- About box -----------------------------------------------------------------------------

bool AboutDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR& result) {
  switch (msg) {
    case WM_INITDIALOG:
      result = TRUE;
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(Handle(), LOWORD(wParam));
        return true;
      }
      return false;
  }
  return false;
}

// --- Tool window ---------------------------------------------------------------------------

AnalyzerDialog::AnalyzerDialog(AnalysisState& state, MeasurementList& measurements)
    : state_(state), measurements_(measurements), scopePage(state), spectrumPage(state), levelsPage(state), hostMainWindow(FindHostMainWindow()) {}

void AnalyzerDialog::Open(HINSTANCE module, HWND host) {
  if (Handle() != nullptr) {
    SetFocus(Handle());
    Flash(4);
    return;
  }
  hostParent = IsWindow(host) ? host : nullptr;
  static bool controlsReady = false;
  if (!controlsReady) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    controlsReady = InitCommonControlsEx(&icc) != FALSE;
  }
  HWND window = CreateModeless(module, IDD_ANALYZER, hostParent);
  if (window == nullptr) {
    hostParent = nullptr;
    return;
  }
  ShowWindow(window, SW_SHOW);
}

void AnalyzerDialog::Destroy() {
  if (Handle() != nullptr) DestroyWindow(Handle());
  keyboardHook_.Remove();
}

void AnalyzerDialog::Flash(int n) {
  for (int i = 0; i < 2 * n && Handle() != nullptr; ++i) {
    FlashWindow(Handle(), TRUE);
    Sleep(kFlashPauseMs);
  }
}

bool AnalyzerDialog::IsVisible() {
  HWND window = liveWindow_.load(std::memory_order_acquire);
  return window != nullptr && IsWindowVisible(window);
}

void AnalyzerDialog::PostNotify(int wParam) {
  HWND window = liveWindow_.load(std::memory_order_acquire);
  if (window == nullptr) return;
  // A frame thread that runs faster than the window handles its notices would otherwise fill
  // the window's queue, and the window's own posted requests ("Закрыть") would wait behind
  // thousands of them or be refused by a full queue.
  std::atomic<bool>* pending = wParam == 1 ? &resultsPending_ : wParam == 2 ? &channelPending_ : nullptr;
  if (pending != nullptr && pending->exchange(true, std::memory_order_acq_rel)) return;
  if (!PostMessageW(window, kWmLineViewNotify, static_cast<WPARAM>(wParam), 0) && pending != nullptr) {
    pending->store(false, std::memory_order_release);
  }
}

PageDialog* AnalyzerDialog::Page(int mode) {
  switch (mode) {
    case ModeOscilloscope:
      return &scopePage;
    case ModeSpectrum:
      return &spectrumPage;
    case ModeLevels:
      return &levelsPage;
    default:
      return nullptr;
  }
}

PlotCanvas* AnalyzerDialog::PageCanvas(int mode) {
  PageDialog* page = Page(mode);
  return page != nullptr ? page->Canvas() : nullptr;
}

void AnalyzerDialog::SendHostCommand(int code) {
  // A host window that did not exist when the plug-in was loaded may exist now.
  if (hostMainWindow == nullptr || !IsWindow(hostMainWindow)) hostMainWindow = FindHostMainWindow();
  if (hostMainWindow != nullptr) PostMessageW(hostMainWindow, kWmHostCommand, static_cast<WPARAM>(code), 0);
}

bool AnalyzerDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (msg) {
    case WM_INITDIALOG:
      OnInitDialog();
      result = FALSE;  // the focus was given to the tab control
      return true;
    case kWmLineViewNotify:
      // Cleared before the state is read: a frame finished from now on posts a notice again.
      if (wParam == 1) resultsPending_.store(false, std::memory_order_release);
      if (wParam == 2) channelPending_.store(false, std::memory_order_release);
      OnNotify(wParam);
      result = 1;
      return true;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header != nullptr && header->idFrom == IDC_TAB && header->code == TCN_SELCHANGE) {
        SelectPage(static_cast<int32_t>(SendMessageW(Item(IDC_TAB), TCM_GETCURSEL, 0, 0)));
        result = 0;
        return true;
      }
      return false;
    }
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return true;
    case DM_GETDEFID:
      // Enter in the window means OK, which does nothing: "Закрыть" only closes when clicked.
      result = MAKELONG(IDOK, DC_HASDEFID);
      return true;
    case WM_VSCROLL:
      OnVScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)), reinterpret_cast<HWND>(lParam));
      return false;  // every scroll notice goes on to the default handling
    case WM_CLOSE:
      DestroyWindow(Handle());
      return true;
    case kMsgCycleTab:
      CycleTab(static_cast<int>(static_cast<INT_PTR>(wParam)) < 0 ? -1 : 1);
      return true;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE);
      return LOWORD(wParam) != WA_INACTIVE && focusWhenDeactivated_ != nullptr;
    case WM_DESTROY: {
      liveWindow_.store(nullptr, std::memory_order_release);
      keyboardHook_.Remove();
      focusWhenDeactivated_ = nullptr;
      tvLineEdit.SetClosing(true);
      RECT r{};
      if (GetWindowRect(Handle(), &r)) {
        AnalysisLockGuard hold(state_.analysisLock);
        state_.windowX = r.left;
        state_.windowY = r.top;
      }
      return false;
    }
  }
  return false;
}

void AnalyzerDialog::OnFinalDestroy() { hostParent = nullptr; }

void AnalyzerDialog::OnInitDialog() {
  PlaceWindow();

  HWND tab = Item(IDC_TAB);
  for (int i = 0; i < 3; ++i) {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(kTabCaptions[i]);
    SendMessageW(tab, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  // The display area below the strip; the pages reach two pixels further left.
  RECT area{};
  GetClientRect(tab, &area);
  SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  for (int mode = ModeOscilloscope; mode <= ModeLevels; ++mode) {
    if (HWND page = Page(mode)->Create(Module(), tab)) {
      SetWindowPos(page, nullptr, area.left - 2, area.top, area.right - area.left + 2, area.bottom - area.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  HWND channelSpin = Item(IDC_CHANNEL_SPIN);
  SetSpinBuddy(channelSpin, Item(IDC_CHANNEL_NUMBER));
  SetSpinRange(channelSpin, 0, 1);
  SendMessageW(Item(IDC_CHANNEL_NUMBER), EM_SETLIMITTEXT, 2, 0);

  int height = 0;
  {
    AnalysisLockGuard hold(state_.analysisLock);
    height = state_.height;
  }
  tvLineEdit.Setup(IDC_TVLINE_EDIT, Handle(), Item(IDC_TVLINE_SPIN), 0, height - 1, 3);

  SetFocus(tab);
  // The host's message loop may know nothing of dialogs: keys reach dialog handling through
  // the hook instead.
  keyboardHook_.Install(Handle());
  // Notices still waiting when the last window went are gone with its queue entries.
  resultsPending_.store(false, std::memory_order_release);
  channelPending_.store(false, std::memory_order_release);
  liveWindow_.store(Handle(), std::memory_order_release);
  PostMessageW(Handle(), kWmLineViewNotify, 0, 0);
}

void AnalyzerDialog::PlaceWindow() {
  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  RECT own{};
  GetWindowRect(Handle(), &own);
  int x = state_.windowX;
  int y = state_.windowY;
  if ((x == -100 && y == -100) || !CaptionGrabbable(x, y, own.right - own.left)) {
    RECT host{};
    // No host window to centre over: centre over the screen.
    if (hostParent == nullptr || !GetWindowRect(hostParent, &host)) host = RECT{0, 0, screenW, screenH};
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    x = own.left + (host.left + host.right) / 2 - (own.left + own.right) / 2;
    y = own.top + (host.top + host.bottom) / 2 - (own.top + own.bottom) / 2;
    if (x + width >= screenW) x = screenW - width;
    if (y + height >= screenH) y = screenH - height;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    state_.windowX = x;
    state_.windowY = y;
  }
  SetWindowPos(Handle(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void AnalyzerDialog::ShowPage(int mode) {
  if (Page(mode) == nullptr) return;
  for (int i = ModeOscilloscope; i <= ModeLevels; ++i) {
    if (HWND page = Page(i)->Handle()) ShowWindow(page, i == mode ? SW_SHOW : SW_HIDE);
  }
}

void AnalyzerDialog::SelectPage(int mode) {
  StoreSetting(state_.liveSettings.Mode, mode);
  ShowPage(mode);
}

void AnalyzerDialog::CycleTab(int step) {
  HWND tab = Item(IDC_TAB);
  int current = static_cast<int>(SendMessageW(tab, TCM_GETCURSEL, 0, 0));
  if (current < 0 || current > 2) current = step > 0 ? -1 : 3;
  const int next = (current + step + 3) % 3;
  SendMessageW(tab, TCM_SETCURSEL, static_cast<WPARAM>(next), 0);  // sends no TCN_SELCHANGE
  SelectPage(next);
}

// The control that had the focus when the window was left gets it back when the window is
// activated again (also by a click on the caption).
void AnalyzerDialog::OnActivate(bool active) {
  if (!active) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(Handle(), focus)) focusWhenDeactivated_ = focus;
    return;
  }
  if (focusWhenDeactivated_ != nullptr && IsWindow(focusWhenDeactivated_) && IsChild(Handle(), focusWhenDeactivated_) &&
      IsWindowVisible(focusWhenDeactivated_) && IsWindowEnabled(focusWhenDeactivated_)) {
    SetFocus(focusWhenDeactivated_);
  } else {
    focusWhenDeactivated_ = nullptr;  // gone or hidden: the dialog's own choice applies
  }
}

void AnalyzerDialog::ApplyColourEnableRule(int32_t colorMode) {
  if (colorMode != 0 && colorMode != 1) return;
  for (int c = 0; c < ChannelCount; ++c) {
    const bool rgb = c < ChannelY;
    EnableWindow(Item(kShowChannelIds[c]), rgb == (colorMode == 0));
  }
}

void AnalyzerDialog::OnNotify(WPARAM p) {
  // Only the copy is made under the lock: showing a page, checking boxes and setting texts
  // paint and send messages, and a frame waiting for the lock meanwhile would wait for them.
  AnalysisSettings s{};
  int32_t height = 0;
  double snr[3] = {};
  char channelName[kChannelNameSize + 1] = {};
  int32_t code = 0;
  int32_t frequencyHz = 0;
  {
    AnalysisLockGuard hold(state_.analysisLock);
    s = SnapshotSettings(state_.liveSettings);
    height = state_.height;
    std::copy(std::begin(state_.snrDisplay), std::end(state_.snrDisplay), snr);
    std::copy(std::begin(state_.currentChannelName), std::end(state_.currentChannelName), channelName);
    code = state_.currentChannelCode;
    frequencyHz = state_.currentFrequencyHz;
  }
  if (p == 0) {
    if (Page(s.Mode) != nullptr) {
      SendMessageW(Item(IDC_TAB), TCM_SETCURSEL, static_cast<WPARAM>(s.Mode), 0);
      ShowPage(s.Mode);
    }
    const int32_t flags[ChannelCount] = {s.RColor, s.GColor, s.BColor, s.YColor, s.UColor, s.VColor};
    for (int c = 0; c < ChannelCount; ++c) {
      SendMessageW(Item(kShowChannelIds[c]), BM_SETCHECK, static_cast<WPARAM>(flags[c]), 0);
    }
    ShowTvLine(s.TVLine, height);
    if (s.ColorMode == 0) SendMessageW(Item(IDC_COLOR_RGB), BM_SETCHECK, BST_CHECKED, 0);
    if (s.ColorMode == 1) SendMessageW(Item(IDC_COLOR_YUV), BM_SETCHECK, BST_CHECKED, 0);
    ApplyColourEnableRule(s.ColorMode);
    RefreshMeasurementCount();
  }
  if (p == kNoticeFormat) ShowTvLine(s.TVLine, height);  // Configure has clamped it to the new height
  if (p == 0 || p == 1) {
    if (HWND page = scopePage.Handle()) {
      const int ids[3] = {IDC_SNR_FIRST, IDC_SNR_SECOND, IDC_SNR_THIRD};
      for (int i = 0; i < 3; ++i) SetDlgItemTextW(page, ids[i], Widen(FormatHundredths(snr[i])).c_str());
    }
  }
  if (p == 0 || p == 2) {
    SetItemText(IDC_CHANNEL_NAME, FromCodePage1251(channelName, kChannelNameSize));
    if (code < 0) {
      SetItemText(IDC_CHANNEL_NUMBER, L"--");
      SetItemText(IDC_CHANNEL_FREQUENCY, L"---");
    } else {
      SetItemText(IDC_CHANNEL_NUMBER, FormatWide("%d", code));
      SetItemText(IDC_CHANNEL_FREQUENCY, Widen(FormatHundredths(frequencyHz * 0.000001)));
    }
    int checked = 0;
    if (code >= 0) checked = IDC_SOURCE_TV;
    if (code == -1) checked = IDC_SOURCE_VHS;
    if (code == -2) checked = IDC_SOURCE_SVHS;
    if (checked != 0) {
      for (int id : {IDC_SOURCE_TV, IDC_SOURCE_VHS, IDC_SOURCE_SVHS}) {
        SendMessageW(Item(id), BM_SETCHECK, id == checked ? BST_CHECKED : BST_UNCHECKED, 0);
      }
    }
  }
}

// `height` is the last Configure's frame height.
void AnalyzerDialog::ShowTvLine(int32_t tvLine, int32_t height) {
  // Before any Configure the range is 0..-1: the field accepts nothing.
  tvLineEdit.SetRange(0, height - 1);
  SetSpinPosition(Item(IDC_TVLINE_SPIN), tvLine);
  SetItemText(IDC_TVLINE_EDIT, FormatWide("%d", tvLine));
}

void AnalyzerDialog::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  AnalysisSettings& live = state_.liveSettings;
  for (int c = 0; c < ChannelCount; ++c) {
    if (id == kShowChannelIds[c]) {
      StoreSetting(*ShowFlag(live, c), IsChecked(id) ? 1 : 0);
      return;
    }
  }
  switch (id) {
    case IDC_COLOR_RGB:
    case IDC_COLOR_YUV:
      // The two radios form one group of the template, so a click clears the other already;
      // this keeps them exclusive whatever the template's grouping (with both checked, RGB could
      // never be chosen again).
      CheckRadioButton(Handle(), IDC_COLOR_RGB, IDC_COLOR_YUV, id);
      if (IsChecked(IDC_COLOR_RGB)) StoreSetting(live.ColorMode, 0);
      if (IsChecked(IDC_COLOR_YUV)) StoreSetting(live.ColorMode, 1);
      ApplyColourEnableRule(LoadSetting(live.ColorMode));
      break;
    case IDC_SOURCE_TV:
    case IDC_SOURCE_VHS:
    case IDC_SOURCE_SVHS:
      if (IsChecked(IDC_SOURCE_TV)) SendHostCommand(HostCmdSourceTV);
      if (IsChecked(IDC_SOURCE_VHS)) SendHostCommand(HostCmdSourceVHS);
      if (IsChecked(IDC_SOURCE_SVHS)) SendHostCommand(HostCmdSourceSVHS);
      break;
    case IDC_CLOSE:
      PostMessageW(Handle(), WM_CLOSE, 0, 0);
      break;
    case IDC_ABOUT:
      // Owned by the tool window: the window is disabled under the box, so neither a second box
      // nor "Закрыть" can reach it while the modal loop runs.
      if (!inAboutBox_) {
        inAboutBox_ = true;
        aboutBox.RunModal(Module(), IDD_ABOUT, Handle());
        inAboutBox_ = false;
      }
      break;
    case IDC_MEASURE_ADD:
      AddMeasurement();
      break;
    case IDC_MEASURE_CLEAR:
      ClearMeasurements();
      break;
    case IDC_MEASURE_SAVE:
      SaveMeasurements();
      break;
    default:
      break;  // IDOK, IDCANCEL: Enter and Esc never close the window
  }
}

void AnalyzerDialog::OnVScroll(int code, int position, HWND source) {
  if (code != SB_THUMBPOSITION) return;
  if (source == Item(IDC_TVLINE_SPIN)) {
    // The arrows of an empty range (no frame format yet) report positions outside it.
    if (!tvLineEdit.InRange(position)) return;
    StoreSetting(state_.liveSettings.TVLine, position);
    SetItemText(IDC_TVLINE_EDIT, FormatWide("%d", position));
  } else if (source == Item(IDC_CHANNEL_SPIN)) {
    int32_t channelCode = 0;
    {
      AnalysisLockGuard hold(state_.analysisLock);
      channelCode = state_.currentChannelCode;
    }
    if (channelCode >= 0) SendHostCommand(position != 0 ? HostCmdChannelUp : HostCmdChannelDown);
  }
}

// --- Measurement list (its buttons are hidden: wired, but out of the user's reach) ----------

void AnalyzerDialog::AddMeasurement() {
  int32_t frequencyHz = 0;
  double snr = 0.0;
  {
    AnalysisLockGuard hold(state_.analysisLock);
    frequencyHz = state_.currentFrequencyHz;
    snr = state_.snrDisplay[0];
  }
  measurements_.Add(frequencyHz, snr);
  RefreshMeasurementCount();
}

void AnalyzerDialog::ClearMeasurements() {
  measurements_.Clear();
  RefreshMeasurementCount();
}

void AnalyzerDialog::RefreshMeasurementCount() {
  SetItemText(IDC_MEASURE_COUNT, FormatWide("%d", static_cast<int>(measurements_.Count())));
}

void AnalyzerDialog::SaveMeasurements() {
  wchar_t path[MAX_PATH * 4] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Handle();
  ofn.hInstance = Module();
  ofn.lpstrFilter = L"Файлы маски (*.txt)\0*.txt\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = sizeof path / sizeof path[0];
  ofn.lpstrDefExt = L"txt";
  // OFN_NOCHANGEDIR: the host's current folder is the host's business.
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
  KeepModuleLoaded();
  // comdlg32 only for this dialog, not imported: loaded and unloaded with the plug-in, Wine's
  // comdlg32 leaves a Mutex handle behind on every load (and this button is hidden anyway).
  HMODULE comdlg = LoadLibraryW(L"comdlg32.dll");
  using GetSaveFileNameFn = BOOL(WINAPI*)(LPOPENFILENAMEW);
  auto getSaveFileName = comdlg != nullptr ? reinterpret_cast<GetSaveFileNameFn>(reinterpret_cast<void (*)()>(
                                                 GetProcAddress(comdlg, "GetSaveFileNameW")))
                                           : nullptr;
  const bool chosen = getSaveFileName != nullptr && getSaveFileName(&ofn);
  if (comdlg != nullptr) FreeLibrary(comdlg);
  // The host may end the session while the dialog is open: then there is no window to report to.
  if (!chosen || Handle() == nullptr) return;
  const ReportWriteResult result = WriteReportFile(path, ReportText(measurements_));
  if (result == ReportWriteResult::WriteFailed) {
    MessageBoxW(Handle(), L"Не удалось записать файл отчёта.", L"KVP_LineView плагин",
                MB_OK | MB_ICONERROR);
  }
}
