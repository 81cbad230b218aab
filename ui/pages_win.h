// The three tab pages of the tool window. Each owns the canvas the frame path draws its plot
// into; the canvas pointer changes only under analysisLock, so a frame never draws into a
// canvas being destroyed.
#pragma once
#include <windows.h>

#include "plugin/analysis_state.h"
#include "ui/dialog_win.h"

class PlotCanvas;

class PageDialog : public Dialog {
 public:
  PageDialog(AnalysisState& state, int templateId) : state_(state), templateId_(templateId) {}
  // Created hidden, as a child of the tab control.
  HWND Create(HINSTANCE module, HWND tabControl) { return CreateModeless(module, templateId_, tabControl); }
  // Read by the frame path with analysisLock held.
  PlotCanvas* Canvas() const { return canvas_; }

 protected:
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  virtual void OnInit() {}
  virtual bool OnPageMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }
  // The page's mode (0 scope, 1 spectrum, 2 levels): which axis labels it paints.
  virtual int Mode() const = 0;
  void PaintLabels();
  // Combo box `id` gets `items` and selects `index` (no selection when it is not one of them).
  void FillCombo(int id, const wchar_t* const* items, int count, int32_t index);
  int32_t ComboSelection(int id) const;

  AnalysisState& state_;
  AnalysisSettings& live() { return state_.liveSettings; }

 private:
  const int templateId_;
  PlotCanvas* canvas_ = nullptr;
};

class ScopePage final : public PageDialog {
 public:
  explicit ScopePage(AnalysisState& state);

 protected:
  int Mode() const override { return 0; }
  void OnInit() override;
  bool OnPageMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};

class SpectrumPage final : public PageDialog {
 public:
  explicit SpectrumPage(AnalysisState& state);

 protected:
  int Mode() const override { return 1; }
  void OnInit() override;
  bool OnPageMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};

class LevelsPage final : public PageDialog {
 public:
  explicit LevelsPage(AnalysisState& state);

 protected:
  int Mode() const override { return 2; }
  void OnInit() override;
  bool OnPageMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};
