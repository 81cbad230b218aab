#include "ui/keyboard_hook_win.h"

namespace {

// One tool window per process, so one hook: the procedure has no context argument.
HWND g_dialog = nullptr;
HHOOK g_hook = nullptr;
volatile LONG g_calls = 0;

bool ForDialog(HWND dialog, HWND target) { return target == dialog || IsChild(dialog, target); }

}  // namespace

bool DialogKeyboardHook::Install(HWND dialog) {
  if (!IsWindow(dialog)) return false;
  g_dialog = dialog;
  if (hook_ == nullptr) {
    hook_ = SetWindowsHookExW(WH_GETMESSAGE, &DialogKeyboardHook::Procedure, nullptr, GetCurrentThreadId());
    g_hook = hook_;
  }
  return hook_ != nullptr;
}

void DialogKeyboardHook::Remove() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
  g_hook = nullptr;
  g_dialog = nullptr;
}

long DialogKeyboardHook::CallCount() { return InterlockedCompareExchange(&g_calls, 0, 0); }

LRESULT CALLBACK DialogKeyboardHook::Procedure(int code, WPARAM wParam, LPARAM lParam) {
  InterlockedIncrement(&g_calls);
  MSG* msg = reinterpret_cast<MSG*>(lParam);
  // Only messages being removed from the queue: a peek that leaves one there must not act twice.
  if (code == HC_ACTION && wParam == PM_REMOVE && msg != nullptr && g_dialog != nullptr &&
      msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST && ForDialog(g_dialog, msg->hwnd)) {
    HWND dialog = g_dialog;
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
      // Ctrl+Tab steps the pages as in a property sheet.
      SendMessageW(dialog, kMsgCycleTab, GetKeyState(VK_SHIFT) < 0 ? WPARAM(-1) : WPARAM(1), 0);
      msg->message = WM_NULL;
    } else if (IsDialogMessageW(dialog, msg)) {
      // Consumed by dialog handling: the host's loop dispatches nothing.
      msg->message = WM_NULL;
      msg->wParam = 0;
      msg->lParam = 0;
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}
