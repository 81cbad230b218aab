// An edit control with its up-down made into a field for a whole number within a range: the
// typed text is checked on Enter or when the field loses the focus, a valid number reaches the
// dialog as if the spin had moved to it, an invalid one gets an error balloon at the field.
#pragma once
#include <windows.h>
#include <commctrl.h>

class NumericEdit {
 public:
  NumericEdit() = default;
  ~NumericEdit();
  NumericEdit(const NumericEdit&) = delete;
  NumericEdit& operator=(const NumericEdit&) = delete;

  // Binds to edit `controlId` of `parentDialog` with `spinControl`; the range is taken as 16-bit
  // values at both ends, as the spin holds it.
  void Setup(int controlId, HWND parentDialog, HWND spinControl, int minimum, int maximum, int maxChars);
  bool Validate();
  void HideBalloon();
  void ShowValue(int n);
  // A new range for the spin (16-bit at both ends); an empty one (minimum > maximum) accepts nothing.
  void SetRange(int minimum, int maximum);
  // Whether `value` lies within the spin's range: the only values the field may hand on.
  bool InRange(int value) const;

  HWND Edit() const { return edit_; }
  HWND Balloon() const { return balloon; }
  // The dialog is going away: never reclaim the focus for the field again.
  void SetClosing(bool closing) { closing_ = closing; }

 private:
  static LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR refData);
  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void GetRange(int& lower, int& upper) const;
  void SelectAll();
  void Unbind();

  HWND parent = nullptr;
  int controlId = 0;
  RECT balloonRect{};
  HWND spin = nullptr;
  HWND balloon = nullptr;
  TTTOOLINFOW balloonTool{};

  HWND edit_ = nullptr;
  bool closing_ = false;
  wchar_t balloonText_[128] = {};
};
