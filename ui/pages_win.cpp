#include "ui/pages_win.h"

#include <commctrl.h>

#include "plot/plot_canvas_win.h"
#include "resources/resource_ids.h"

namespace {

const wchar_t* const kStyleItems[] = {L"Контур", L"Заполнение", L"Точка"};
const wchar_t* const kWindowItems[] = {L"None", L"Hamming", L"Hanning", L"Blackmen"};

void SetSpin(HWND spin, HWND buddy, int lower, int upper) {
  if (buddy != nullptr) SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
  SendMessageW(spin, UDM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(upper), static_cast<WORD>(lower)));
}

}  // namespace

bool PageDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (msg) {
    case WM_INITDIALOG: {
      PlotCanvas* canvas = CreatePlotCanvas(Item(IDC_PLOT_FRAME));
      {
        AnalysisLockGuard hold(state_.analysisLock);
        canvas_ = canvas;
      }
      OnInit();
      result = TRUE;
      return true;
    }
    case WM_DESTROY: {
      AnalysisLockGuard hold(state_.analysisLock);
      DestroyPlotCanvas(canvas_);
      canvas_ = nullptr;
      return false;
    }
    default:
      return OnPageMessage(msg, wParam, lParam, result);
  }
}

void PageDialog::FillCombo(int id, const wchar_t* const* items, int count, int32_t index) {
  HWND combo = Item(id);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (int i = 0; i < count; ++i) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
  // An index from a hand-edited file that names no item leaves the box without a selection.
  SendMessageW(combo, CB_SETCURSEL, index >= 0 && index < count ? static_cast<WPARAM>(index) : WPARAM(-1), 0);
}

int32_t PageDialog::ComboSelection(int id) const {
  return static_cast<int32_t>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
}

// --- Oscilloscope --------------------------------------------------------------------------

ScopePage::ScopePage(AnalysisState& state) : PageDialog(state, IDD_SCOPE_PAGE) {}

void ScopePage::OnInit() {
  const AnalysisSettings s = SnapshotSettings(live());
  SetSpin(Item(IDC_WHITE_SPIN), Item(IDC_WHITE_EDIT), s.BlackLevel, 255);
  SetSpin(Item(IDC_BLACK_SPIN), Item(IDC_BLACK_EDIT), 0, s.WhiteLevel);
  SetSpin(Item(IDC_START_SPIN), Item(IDC_START_EDIT), 0, s.StopCount);
  SetSpin(Item(IDC_STOP_SPIN), Item(IDC_STOP_EDIT), s.StartCount, 1000);
  SendMessageW(Item(IDC_WHITE_SPIN), UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(s.WhiteLevel), 0));
  SetItemText(IDC_WHITE_EDIT, FormatWide("%d", s.WhiteLevel));
  SendMessageW(Item(IDC_BLACK_SPIN), UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(s.BlackLevel), 0));
  SetItemText(IDC_BLACK_EDIT, FormatWide("%d", s.BlackLevel));
  SendMessageW(Item(IDC_START_SPIN), UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(s.StartCount), 0));
  SetItemText(IDC_START_EDIT, FormatWide("%3.1f", s.StartCount * 0.1));
  SendMessageW(Item(IDC_STOP_SPIN), UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(s.StopCount), 0));
  SetItemText(IDC_STOP_EDIT, FormatWide("%3.1f", s.StopCount * 0.1));
}

bool ScopePage::OnPageMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

// --- Spectrum ------------------------------------------------------------------------------

SpectrumPage::SpectrumPage(AnalysisState& state) : PageDialog(state, IDD_SPECTRUM_PAGE) {}

void SpectrumPage::OnInit() {
  const AnalysisSettings s = SnapshotSettings(live());
  SetSpin(Item(IDC_SENSITIVITY_SPIN), Item(IDC_SENSITIVITY_EDIT), 0, 1);
  FillCombo(IDC_STYLE_COMBO, kStyleItems, 3, s.FFTDiagMode);
  FillCombo(IDC_WINDOW_COMBO, kWindowItems, 4, s.WindowFunction);
  SendMessageW(Item(IDC_SENSITIVITY_SPIN), UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(s.FFTSensitivity), 0));
  SetItemText(IDC_SENSITIVITY_EDIT, FormatWide("%d", s.FFTSensitivity));
}

bool SpectrumPage::OnPageMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR&) {
  if (msg == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE) {
    if (LOWORD(wParam) == IDC_WINDOW_COMBO) StoreSetting(live().WindowFunction, ComboSelection(IDC_WINDOW_COMBO));
    if (LOWORD(wParam) == IDC_STYLE_COMBO) StoreSetting(live().FFTDiagMode, ComboSelection(IDC_STYLE_COMBO));
    return true;
  }
  return false;
}

// --- Levels --------------------------------------------------------------------------------

LevelsPage::LevelsPage(AnalysisState& state) : PageDialog(state, IDD_LEVELS_PAGE) {}

void LevelsPage::OnInit() { FillCombo(IDC_STYLE_COMBO, kStyleItems, 3, LoadSetting(live().LevDiagMode)); }

bool LevelsPage::OnPageMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR&) {
  if (msg == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == IDC_STYLE_COMBO) {
    StoreSetting(live().LevDiagMode, ComboSelection(IDC_STYLE_COMBO));
    return true;
  }
  return false;
}
