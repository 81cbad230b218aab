// Dialog keyboard handling for a modeless window inside a host whose message loop knows
// nothing of it: a WH_GETMESSAGE hook on the window's thread passes the keys meant for the
// window through IsDialogMessage, so Tab, the arrow keys and Space work as in any dialog.
#pragma once
#include <windows.h>

// Sent to the dialog for Ctrl+Tab (wParam 1) and Ctrl+Shift+Tab (wParam -1, as WPARAM).
constexpr UINT kMsgCycleTab = WM_APP + 0x32;

class DialogKeyboardHook {
 public:
  DialogKeyboardHook() = default;
  ~DialogKeyboardHook() { Remove(); }
  DialogKeyboardHook(const DialogKeyboardHook&) = delete;
  DialogKeyboardHook& operator=(const DialogKeyboardHook&) = delete;

  // On the dialog's own thread. Installing twice keeps the one hook (for the newer dialog).
  bool Install(HWND dialog);
  void Remove();
  bool Installed() const { return hook_ != nullptr; }

  // How often the hook procedure has run since the process started: a removed hook never runs.
  static long CallCount();

 private:
  static LRESULT CALLBACK Procedure(int code, WPARAM wParam, LPARAM lParam);
  HHOOK hook_ = nullptr;
};
