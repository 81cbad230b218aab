#include "ui/pages_win.h"

#include <commctrl.h>

#include <utility>

#include "plot/plot_canvas_win.h"
#include "resources/resource_ids.h"
#include "ui/axis_labels.h"
#include "ui/scope_ranges.h"

namespace {

const wchar_t* const kStyleItems[] = {L"Контур", L"Заполнение", L"Точка"};
const wchar_t* const kWindowItems[] = {L"None", L"Hamming", L"Hanning", L"Blackmen"};

constexpr COLORREF kLabelColor = RGB(0x60, 0x00, 0x60);

void SetRange(HWND spin, SpinRange range) { SetSpinRange(spin, range.lower, range.upper); }

void SetSpin(HWND spin, HWND buddy, SpinRange range) {
  SetSpinBuddy(spin, buddy);
  SetRange(spin, range);
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
      PlotCanvas* canvas = nullptr;
      {
        AnalysisLockGuard hold(state_.analysisLock);
        canvas = std::exchange(canvas_, nullptr);
      }
      // Frames reach a canvas only through canvas_ and under the lock: none can reach it now.
      DestroyPlotCanvas(canvas);
      return false;
    }
    case WM_PAINT:
      PaintLabels();
      return true;
    default:
      return OnPageMessage(msg, wParam, lParam, result);
  }
}

void PageDialog::PaintLabels() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(Handle(), &ps);
  if (dc == nullptr) return;
  // The canvas is only read here, on the window thread that alone creates and destroys it.
  if (canvas_ != nullptr) {
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(Handle(), WM_GETFONT, 0, 0)));
    SetTextColor(dc, kLabelColor);
    // The page's own grey behind the text, the colour its erase paints: left to the context, an
    // erase done before this paint (a window of this thread uncovering the page) leaves white.
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_3DFACE));
    const MeasureTextFn measure = [dc](const std::string& text) {
      SIZE size{};
      GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
      return TextExtent{size.cx, size.cy};
    };
    const AnalysisSettings s = SnapshotSettings(live());
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    for (const AxisLabel& label : PageAxisLabels(Mode(), canvas_->plotRect, measure, s, dpi)) {
      TextOutA(dc, label.x, label.y, label.text.c_str(), static_cast<int>(label.text.size()));
    }
    SelectObject(dc, oldFont);
  }
  EndPaint(Handle(), &ps);
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
  // A hand-edited file may hold an inverted pair: the page shows what the waveform uses.
  const ScopeValues v = EffectiveScopeValues(s.WhiteLevel, s.BlackLevel, s.StartCount, s.StopCount);
  const ScopeRanges r = ScopeSpinRanges(v);
  SetSpin(Item(IDC_WHITE_SPIN), Item(IDC_WHITE_EDIT), r.white);
  SetSpin(Item(IDC_BLACK_SPIN), Item(IDC_BLACK_EDIT), r.black);
  SetSpin(Item(IDC_START_SPIN), Item(IDC_START_EDIT), r.start);
  SetSpin(Item(IDC_STOP_SPIN), Item(IDC_STOP_EDIT), r.stop);
  // "100.0" fills a field its spin has narrowed: with the edit's default margins its last
  // digit is cut at 96 DPI.
  for (int id : {IDC_WHITE_EDIT, IDC_BLACK_EDIT, IDC_START_EDIT, IDC_STOP_EDIT}) {
    SendMessageW(Item(id), EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(1, 1));
  }
  SetSpinPosition(Item(IDC_WHITE_SPIN), v.white);
  SetItemText(IDC_WHITE_EDIT, Widen(FormatLevel(v.white)));
  SetSpinPosition(Item(IDC_BLACK_SPIN), v.black);
  SetItemText(IDC_BLACK_EDIT, Widen(FormatLevel(v.black)));
  SetSpinPosition(Item(IDC_START_SPIN), v.start);
  SetItemText(IDC_START_EDIT, Widen(FormatPercent(v.start)));
  SetSpinPosition(Item(IDC_STOP_SPIN), v.stop);
  SetItemText(IDC_STOP_EDIT, Widen(FormatPercent(v.stop)));
}

// A spin's new position narrows or widens its partner's range; nothing is redrawn, the next
// frame shows the new lines.
bool ScopePage::OnPageMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR&) {
  if ((msg != WM_VSCROLL && msg != WM_HSCROLL) || LOWORD(wParam) != SB_THUMBPOSITION) return false;
  const int p = static_cast<short>(HIWORD(wParam));
  const HWND source = reinterpret_cast<HWND>(lParam);
  if (msg == WM_VSCROLL && source == Item(IDC_WHITE_SPIN)) {
    StoreSetting(live().WhiteLevel, p);
    SetRange(Item(IDC_BLACK_SPIN), SpinRange{0, p});
    SetItemText(IDC_WHITE_EDIT, Widen(FormatLevel(p)));
  } else if (msg == WM_VSCROLL && source == Item(IDC_BLACK_SPIN)) {
    StoreSetting(live().BlackLevel, p);
    SetRange(Item(IDC_WHITE_SPIN), SpinRange{p, 255});
    SetItemText(IDC_BLACK_EDIT, Widen(FormatLevel(p)));
  } else if (msg == WM_HSCROLL && source == Item(IDC_START_SPIN)) {
    StoreSetting(live().StartCount, p);
    SetRange(Item(IDC_STOP_SPIN), SpinRange{p, 1000});
    SetItemText(IDC_START_EDIT, Widen(FormatPercent(p)));
  } else if (msg == WM_HSCROLL && source == Item(IDC_STOP_SPIN)) {
    StoreSetting(live().StopCount, p);
    SetRange(Item(IDC_START_SPIN), SpinRange{0, p});
    SetItemText(IDC_STOP_EDIT, Widen(FormatPercent(p)));
  }
  return false;  // every scroll notice goes on to the default handling
}

// --- Spectrum ------------------------------------------------------------------------------

SpectrumPage::SpectrumPage(AnalysisState& state) : PageDialog(state, IDD_SPECTRUM_PAGE) {}

void SpectrumPage::OnInit() {
  const AnalysisSettings s = SnapshotSettings(live());
  SetSpin(Item(IDC_SENSITIVITY_SPIN), Item(IDC_SENSITIVITY_EDIT), SpinRange{0, 1});
  FillCombo(IDC_STYLE_COMBO, kStyleItems, 3, s.FFTDiagMode);
  FillCombo(IDC_WINDOW_COMBO, kWindowItems, 4, s.WindowFunction);
  const int32_t sensitivity = EffectiveSensitivity(s.FFTSensitivity);
  SetSpinPosition(Item(IDC_SENSITIVITY_SPIN), sensitivity);  // the spin keeps it within 0..1
  SetItemText(IDC_SENSITIVITY_EDIT, FormatWide("%d", sensitivity));
}

bool SpectrumPage::OnPageMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR&) {
  if (msg == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE) {
    if (LOWORD(wParam) == IDC_WINDOW_COMBO) StoreSetting(live().WindowFunction, ComboSelection(IDC_WINDOW_COMBO));
    if (LOWORD(wParam) == IDC_STYLE_COMBO) StoreSetting(live().FFTDiagMode, ComboSelection(IDC_STYLE_COMBO));
    return true;
  }
  if (msg == WM_VSCROLL && LOWORD(wParam) == SB_THUMBPOSITION &&
      reinterpret_cast<HWND>(lParam) == Item(IDC_SENSITIVITY_SPIN)) {
    // The spin's range is 0..1: it reports 1 for its upper arrow and 0 for its lower one.
    const int32_t s = StepSensitivity(LoadSetting(live().FFTSensitivity), static_cast<short>(HIWORD(wParam)) != 0);
    StoreSetting(live().FFTSensitivity, s);
    SetItemText(IDC_SENSITIVITY_EDIT, FormatWide("%d", s));
    // The labels change at once; the plot keeps its picture until the next frame.
    InvalidateRect(Handle(), nullptr, TRUE);
    if (PlotCanvas* canvas = Canvas()) {
      const RECT plot = {canvas->plotRect.left, canvas->plotRect.top, canvas->plotRect.right, canvas->plotRect.bottom};
      ValidateRect(Handle(), &plot);
    }
    UpdateWindow(Handle());
  }
  return false;  // every scroll notice goes on to the default handling
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
