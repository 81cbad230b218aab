// The live window's display (SDL2): the frame as a texture scaled to fit, the panel beside it
// at its size. For the window's loop and the benchmark.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/input/plane_layout.h"
#include "cli/live/live_view.h"

class LiveDisplay {
 public:
  LiveDisplay();
  ~LiveDisplay();
  LiveDisplay(const LiveDisplay&) = delete;
  LiveDisplay& operator=(const LiveDisplay&) = delete;

  // SDL's video must be initialised. False with *error when no window can be opened.
  bool Open(int frameWidth, int frameHeight, int pixelFormat, const std::string& title, std::string* error);
  void SetTitle(const std::string& title);
  // Uploads the frame (the plug-in's layout, marker painted in) and redraws the panel.
  void Show(const uint8_t* pixels, const PlotCanvas& canvas, const AnalysisSettings& s, const double snr[3],
            const std::string& status);
  // Uploads the decoder's planes as they are, with the rows in `marks` (and each one's next)
  // marked in red over them, and redraws the panel.
  void ShowPlanes(const FramePlanes& planes, const std::vector<int>& marks, const PlotCanvas& canvas,
                  const AnalysisSettings& s, const double snr[3], const std::string& status);
  // Only the panel's status line changes.
  void ShowStatus(const PlotCanvas& canvas, const AnalysisSettings& s, const double snr[3], const std::string& status);
  // Draws the window again from what was last uploaded (exposed, resized).
  void Redraw();
  // The window as shown, as a PNG.
  bool Save(const std::string& path, std::string* error);
  LiveLayout Layout() const;

 private:
  struct Impl;
  Impl* impl_;
};
