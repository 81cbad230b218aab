// The small dialog layer: a window made from a dialog template of the plug-in's own module,
// whose messages reach one virtual handler of the object that created it.
#pragma once
#include <windows.h>

#include <string>

class Dialog {
 public:
  Dialog() = default;
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the window from template `templateId` of `module` (never the host's), owned by or
  // child of `parent`. Returns the window, or null.
  HWND CreateModeless(HINSTANCE module, int templateId, HWND parent);
  // Runs the template as a modal box owned by `owner`; returns the EndDialog result (-1 on failure).
  INT_PTR RunModal(HINSTANCE module, int templateId, HWND owner);

  HWND Handle() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  HINSTANCE Module() const { return module_; }

 protected:
  // One message. Return true when handled; `result` is then the dialog procedure's answer for
  // messages that carry one (WM_INITDIALOG, WM_CTLCOLOR*...) or goes to DWLP_MSGRESULT.
  virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  // After the last message of the window (WM_NCDESTROY): the handle is already cleared.
  virtual void OnFinalDestroy() {}

  void SetItemText(int id, const wchar_t* text) { SetDlgItemTextW(hwnd_, id, text); }
  void SetItemText(int id, const std::wstring& text) { SetDlgItemTextW(hwnd_, id, text.c_str()); }
  bool IsChecked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  HINSTANCE module_ = nullptr;
};

// Keeps the module that holds this code mapped until the process ends. Called before any
// nested message loop of ours (modal boxes, the common dialogs): the host may unload the
// library from a message that loop dispatches, and the loop must return into mapped code.
void KeepModuleLoaded();

// Up-down controls. The range message takes the upper end in the low word; both ends and the
// position are 16-bit values. The buddy is set once: an up-down aligned right shrinks its buddy
// on every UDM_SETBUDDY.
void SetSpinBuddy(HWND spin, HWND buddy);
void SetSpinRange(HWND spin, int lower, int upper);
void SetSpinPosition(HWND spin, int position);

// printf into a wide string (numbers only: the formats are ASCII).
std::wstring FormatWide(const char* format, ...) __attribute__((format(printf, 1, 2)));
// ASCII text (numbers) as UTF-16.
std::wstring Widen(const std::string& ascii);
// 8-bit text of the host contract (Windows-1251) as UTF-16, at most `limit` bytes of it.
std::wstring FromCodePage1251(const char* text, size_t limit);
