#include "ui/numeric_edit_win.h"

#include "ui/dialog_win.h"

#include <cwchar>
#include <string>

namespace {

constexpr UINT_PTR kSubclassId = 0x4E45;  // any id unique among our subclasses of the edit
constexpr UINT_PTR kTimerMoved = 1;       // hides the balloon when the dialog was dragged
constexpr UINT_PTR kTimerExpire = 2;      // the balloon shows for at most 4 s
constexpr UINT kMovedPeriodMs = 50;
constexpr UINT kExpirePeriodMs = 4000;
// Posted to the edit: taking the focus back inside WM_KILLFOCUS would fight the activation
// change that is still under way.
constexpr UINT kMsgReclaimFocus = WM_APP + 0x31;

int Low16(LRESULT v) { return static_cast<short>(LOWORD(static_cast<DWORD>(v))); }
int High16(LRESULT v) { return static_cast<short>(HIWORD(static_cast<DWORD>(v))); }

}  // namespace

NumericEdit::~NumericEdit() { Unbind(); }

void NumericEdit::Unbind() {
  if (edit_ != nullptr && IsWindow(edit_)) {
    KillTimer(edit_, kTimerMoved);
    KillTimer(edit_, kTimerExpire);
    RemoveWindowSubclass(edit_, &NumericEdit::EditProc, kSubclassId);
  }
  edit_ = nullptr;
  balloon = nullptr;  // destroyed with its owner dialog
}

void NumericEdit::Setup(int id, HWND parentDialog, HWND spinControl, int minimum, int maximum, int maxChars) {
  Unbind();
  controlId = id;
  parent = parentDialog;
  spin = spinControl;
  closing_ = false;
  edit_ = GetDlgItem(parentDialog, id);
  if (edit_ == nullptr) return;
  SetWindowSubclass(edit_, &NumericEdit::EditProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));

  if (spin != nullptr) {
    SetSpinBuddy(spin, edit_);
    SetRange(minimum, maximum);
  }
  SendMessageW(edit_, EM_SETLIMITTEXT, static_cast<WPARAM>(maxChars), 0);

  balloon = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_BALLOON,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parentDialog, nullptr,
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parentDialog, GWLP_HINSTANCE)), nullptr);
  balloonTool = TTTOOLINFOW{};
  balloonTool.cbSize = TTTOOLINFOW_V2_SIZE;
  balloonTool.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
  balloonTool.hwnd = nullptr;
  balloonTool.uId = 0;
  balloonTool.hinst = nullptr;
  balloonText_[0] = L'\0';
  balloonTool.lpszText = balloonText_;
  if (balloon != nullptr) {
    SendMessageW(balloon, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&balloonTool));
    SendMessageW(balloon, TTM_SETTITLEW, TTI_ERROR, reinterpret_cast<LPARAM>(L"Ошибка"));
  }
}

void NumericEdit::GetRange(int& lower, int& upper) const {
  const LRESULT range = spin != nullptr ? SendMessageW(spin, UDM_GETRANGE, 0, 0) : 0;
  lower = High16(range);
  upper = Low16(range);
}

void NumericEdit::SetRange(int minimum, int maximum) {
  if (spin != nullptr) SetSpinRange(spin, minimum, maximum);
}

bool NumericEdit::InRange(int value) const {
  int lower = 0, upper = 0;
  GetRange(lower, upper);
  return spin != nullptr && lower <= value && value <= upper;
}

bool NumericEdit::Validate() {
  if (edit_ == nullptr) return false;
  BOOL read = FALSE;
  const int value = static_cast<int>(GetDlgItemInt(parent, controlId, &read, TRUE));
  if (read && InRange(value)) {
    HideBalloon();  // an error about a value that is now accepted would mislead
    SetSpinPosition(spin, value);
    SendMessageW(parent, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, static_cast<WORD>(value)),
                 reinterpret_cast<LPARAM>(spin));
    return true;
  }
  int lower = 0, upper = 0;
  GetRange(lower, upper);
  std::swprintf(balloonText_, sizeof balloonText_ / sizeof balloonText_[0],
                L"Значение должно быть числом от %d до %d", lower, upper);
  balloonTool.lpszText = balloonText_;
  GetWindowRect(edit_, &balloonRect);
  if (balloon != nullptr) {
    SendMessageW(balloon, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&balloonTool));
    SendMessageW(balloon, TTM_TRACKPOSITION, 0, MAKELPARAM(balloonRect.right, balloonRect.bottom));
    SendMessageW(balloon, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&balloonTool));
  }
  SetTimer(edit_, kTimerMoved, kMovedPeriodMs, nullptr);
  SetTimer(edit_, kTimerExpire, kExpirePeriodMs, nullptr);
  return false;
}

void NumericEdit::HideBalloon() {
  if (edit_ != nullptr) {
    KillTimer(edit_, kTimerMoved);
    KillTimer(edit_, kTimerExpire);
  }
  if (balloon != nullptr) {
    ShowWindow(balloon, SW_HIDE);
    SendMessageW(balloon, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&balloonTool));
  }
}

void NumericEdit::ShowValue(int n) {
  if (edit_ != nullptr) SetWindowTextW(edit_, std::to_wstring(n).c_str());
}

void NumericEdit::SelectAll() {
  SendMessageW(edit_, EM_SETSEL, 0, -1);
  SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
}

LRESULT CALLBACK NumericEdit::EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR refData) {
  return reinterpret_cast<NumericEdit*>(refData)->OnMessage(hwnd, msg, wParam, lParam);
}

LRESULT NumericEdit::OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_GETDLGCODE: {
      // Enter and Esc belong to the field even when the host's loop runs IsDialogMessage;
      // Tab and the rest keep their dialog meaning.
      const LRESULT code = DefSubclassProc(hwnd, msg, wParam, lParam);
      const MSG* m = reinterpret_cast<const MSG*>(lParam);
      if (m != nullptr && (m->message == WM_KEYDOWN || m->message == WM_CHAR) &&
          (m->wParam == VK_RETURN || m->wParam == VK_ESCAPE)) {
        return code | DLGC_WANTMESSAGE;
      }
      return code;
    }
    case WM_CHAR:
      if (wParam == VK_RETURN || wParam == VK_ESCAPE) return 0;  // no beep, nothing inserted
      break;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        Validate();
        SelectAll();
        return 0;
      }
      if (wParam == VK_ESCAPE) {
        const LRESULT pos = spin != nullptr ? SendMessageW(spin, UDM_GETPOS, 0, 0) : 0;
        ShowValue(Low16(pos));
        HideBalloon();
        return 0;
      }
      break;
    case WM_KILLFOCUS: {
      const LRESULT r = DefSubclassProc(hwnd, msg, wParam, lParam);
      if (!closing_ && !Validate()) {
        int lower = 0, upper = 0;
        GetRange(lower, upper);
        // An empty range accepts nothing: holding the focus would trap the user for good. The
        // focus is reclaimed only from controls of the same window, never from the host's.
        const HWND to = reinterpret_cast<HWND>(wParam);
        const HWND root = GetAncestor(hwnd, GA_ROOT);
        const bool sameWindow = to != nullptr && (to == root || IsChild(root, to));
        if (lower <= upper && sameWindow && IsWindowVisible(parent)) PostMessageW(hwnd, kMsgReclaimFocus, 0, 0);
      }
      if (balloon != nullptr && reinterpret_cast<HWND>(wParam) == balloon) HideBalloon();
      return r;
    }
    case kMsgReclaimFocus:
      if (!closing_ && IsWindowVisible(parent) && GetFocus() != hwnd) {
        SetFocus(hwnd);
        SelectAll();
      }
      return 0;
    case WM_ENABLE:
      if (spin != nullptr) EnableWindow(spin, wParam != 0);
      break;
    case WM_TIMER:
      if (wParam == kTimerMoved) {
        RECT now{};
        GetWindowRect(hwnd, &now);
        if (!EqualRect(&now, &balloonRect)) HideBalloon();
        return 0;
      }
      if (wParam == kTimerExpire) {
        HideBalloon();
        return 0;
      }
      return 0;  // not ours: ignored
    case WM_NCDESTROY:
      Unbind();
      break;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}
