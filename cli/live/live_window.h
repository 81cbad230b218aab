// `lineview --live`: the run of one input on a thread of its own, watched by a window on this
// one (SDL2) that shows the picture with the line marked, the selected page and the read-outs,
// and answers keys and clicks. The window never holds the analysis back: a frame that comes
// while the window is still busy with the last one is analysed without a picture.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/options/cli_options.h"
#include "cli/common/diagnostics.h"
#include "cli/input/frame_source.h"
#include "cli/live/live_view.h"

class RunObserver;

// `analyse` runs the whole input, telling `observer`; returns its exit status.
int RunLive(const CliOptions& options, Diagnostics& diag, const std::function<int(RunObserver* observer)>& analyse);

// The window itself, for the loop above and the benchmark: the frame as a texture scaled to
// fit, the panel beside it at its size.
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
