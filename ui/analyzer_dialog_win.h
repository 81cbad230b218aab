// The plug-in's one modeless tool window: the tab control with the three pages and the strip
// of controls that mirror and change the live settings. The frame path reaches it only through
// ToolWindowLink (visible?, post a notice, a page's canvas).
#pragma once
#include <windows.h>

#include <atomic>

#include "plugin/analysis_state.h"
#include "plugin/tool_window_link.h"
#include "ui/dialog_win.h"
#include "ui/keyboard_hook_win.h"
#include "ui/measurement_list.h"
#include "ui/numeric_edit_win.h"
#include "ui/pages_win.h"

class AboutDialog final : public Dialog {
 protected:
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};

class AnalyzerDialog final : public Dialog, public ToolWindowLink {
 public:
  // Built at library load: looks up the host's main window once, creates nothing.
  AnalyzerDialog(AnalysisState& state, MeasurementList& measurements);

  // OpenToolWindow: creates and shows the window owned by `host`, or focuses and flashes it.
  void Open(HINSTANCE module, HWND host);
  // Shutdown: destroys the window if it exists (its position is stored on the way).
  void Destroy();
  // Inverts the caption 2n times, 60 ms apart: ends as it started.
  void Flash(int n);

  // ToolWindowLink, called by the frame path with analysisLock held.
  bool IsVisible() override;
  void PostNotify(int wParam) override;
  PlotCanvas* PageCanvas(int mode) override;

  HWND HostMainWindow() const { return hostMainWindow; }

 protected:
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnFinalDestroy() override;

 private:
  void OnInitDialog();
  void PlaceWindow();
  void OnNotify(WPARAM p);
  // The TV-line field's range from the last Configure's frame height, and the line itself.
  void ShowTvLine(int32_t tvLine, int32_t height);
  // The page of mode 0, 1 or 2; null for any other mode.
  PageDialog* Page(int mode);
  // Shows the page of `mode` and hides the other two; a mode outside 0..2 changes nothing.
  void ShowPage(int mode);
  // What a click on a tab does: Mode follows, its page shows.
  void SelectPage(int mode);
  // Ctrl+Tab: the next (step 1) or previous (step -1) page, exactly as a click on its tab.
  void CycleTab(int step);
  void OnActivate(bool active);
  void ApplyColourEnableRule(int32_t colorMode);
  void OnCommand(int id, int code);
  void OnVScroll(int code, int position, HWND source);
  void SendHostCommand(int code);
  void AddMeasurement();
  void ClearMeasurements();
  void SaveMeasurements();
  void RefreshMeasurementCount();

  AnalysisState& state_;
  MeasurementList& measurements_;
  HWND hostParent = nullptr;
  AboutDialog aboutBox;
  ScopePage scopePage;
  SpectrumPage spectrumPage;
  LevelsPage levelsPage;
  HWND hostMainWindow = nullptr;
  NumericEdit tvLineEdit;

  // The window as the frame thread sees it: set once the pages exist, cleared when destruction
  // starts, so the frame thread never reaches a half-built or half-destroyed window.
  std::atomic<HWND> liveWindow_{nullptr};
  // A results or channel notice already waiting in the queue: the handler shows the state as
  // it is then, so one waiting notice stands for every frame before it.
  std::atomic<bool> resultsPending_{false};
  std::atomic<bool> channelPending_{false};
  bool inAboutBox_ = false;
  DialogKeyboardHook keyboardHook_;
  HWND focusWhenDeactivated_ = nullptr;
};
