#include "ui/dialog_win.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <commctrl.h>

Dialog::~Dialog() {
  // The object may go first (library unload with the window still open): the window must not
  // call into a dead object afterwards.
  if (hwnd_ != nullptr && IsWindow(hwnd_)) {
    SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    DestroyWindow(hwnd_);
  }
}

HWND Dialog::CreateModeless(HINSTANCE module, int templateId, HWND parent) {
  module_ = module;
  return CreateDialogParamW(module, MAKEINTRESOURCEW(templateId), parent, &Dialog::Procedure,
                            reinterpret_cast<LPARAM>(this));
}

void KeepModuleLoaded() {
  static bool pinned = false;
  if (pinned) return;
  HMODULE self = nullptr;
  pinned = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&KeepModuleLoaded), &self) != FALSE;
}

INT_PTR Dialog::RunModal(HINSTANCE module, int templateId, HWND owner) {
  KeepModuleLoaded();
  module_ = module;
  return DialogBoxParamW(module, MAKEINTRESOURCEW(templateId), owner, &Dialog::Procedure,
                         reinterpret_cast<LPARAM>(this));
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK Dialog::Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;

  INT_PTR result = 0;
  const bool handled = self->OnMessage(msg, wParam, lParam, result);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
    self->OnFinalDestroy();
    return FALSE;
  }
  if (!handled) return FALSE;
  switch (msg) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return result;
    default:
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

void SetSpinBuddy(HWND spin, HWND buddy) {
  if (buddy != nullptr) SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
}

void SetSpinRange(HWND spin, int lower, int upper) {
  SendMessageW(spin, UDM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(upper), static_cast<WORD>(lower)));
}

void SetSpinPosition(HWND spin, int position) {
  SendMessageW(spin, UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(position), 0));
}

std::wstring FormatWide(const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return std::wstring(text, text + std::strlen(text));
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring FromCodePage1251(const char* text, size_t limit) {
  if (text == nullptr) return std::wstring();
  const size_t length = strnlen(text, limit);
  if (length == 0) return std::wstring();
  const int n = MultiByteToWideChar(1251, 0, text, static_cast<int>(length), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(1251, 0, text, static_cast<int>(length), &wide[0], n);
  return wide;
}
