// The live window without a display: where the picture and the panel stand, what a key or a
// click changes, the title, and the panel beside the picture (the page as the tool window
// shows it, with the three read-outs large enough to read from a step away).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/output/page_picture.h"
#include "plot/plot_canvas.h"
#include "records/analysis_settings.h"

struct LiveRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The panel: the page picture on top, the read-outs below it.
constexpr int kPanelWidth = 720;
constexpr int kPanelHeight = 576;

struct LiveLayout {
  LiveRect picture;  // the frame scaled to fit, centred in the space left of the panel
  LiveRect panel;    // kPanelWidth x kPanelHeight, at its size, top right
};

// The window a frame of this size opens with: the picture at its size up to 720x576.
void DefaultWindowSize(int frameWidth, int frameHeight, int* width, int* height);
LiveLayout LayoutWindow(int windowWidth, int windowHeight, int frameWidth, int frameHeight);
// The frame's line under a window point; -1 off the picture.
int LineAt(const LiveLayout& layout, int frameHeight, int x, int y);

// What the keys change, as the tool window's controls would.
struct LiveControls {
  int line = 0;
  std::vector<int> lines;  // several lines analysed: the keys and a click step through these
  int page = ModeOscilloscope;
  int colorMode = 0;
  bool paused = false;
};

enum class LiveCommand { LineUp, LineDown, TenUp, TenDown, NextPage, Page1, Page2, Page3, Colour, Pause };

// Applies the command (the line kept inside the frame's `height` lines); returns the notice
// of what changed, empty when nothing did.
std::string ApplyCommand(LiveControls& controls, LiveCommand command, int height);
std::string PickLine(LiveControls& controls, int line, int height);

// "lineview — NAME — line N — PAGE"
std::string LiveTitle(const std::string& inputName, const LiveControls& controls);
// The input as the title names it: a file by its name, a device as given.
std::string LiveInputName(const std::string& input, const std::string& format);

// The read-outs as the window shows them from the start: the means of the rings of the
// colour space over the entries measured so far, `measured` of them (50 once the rings are
// full; before, the rest of each ring is still zero). Returns how many frames the means cover.
int LiveReadouts(const double* const snrHistory[ChannelCount], int colorMode, int64_t measured, double snr[3]);

// The panel's status line: "frame N   RGB", "   mean of N frames" while the rings fill,
// "   paused", "   input ended".
// `snrMethod` (SnrKind) other than the tool window's: the read-out is that method's, said so.
std::string LiveStatus(int64_t frame, int colorMode, int frames, bool paused, bool ended, int snrMethod = 0);

struct PanelText {
  TextPainter* labels = nullptr;  // the pages' axis labels (may be null: no labels)
  TextPainter* value = nullptr;   // the read-outs' figures
  TextPainter* name = nullptr;    // the channel names and the status line
};

// Redraws `panel` (kPanelWidth x kPanelHeight): the page of `s.Mode` from `canvas` with its
// labels, the three SNR read-outs "%.2f" as the tool window shows them, and a status line.
// The labels depend on the settings alone: unless they changed, only the canvas and the
// read-outs are drawn again.
void ComposePanel(Picture& panel, const PlotCanvas& canvas, const AnalysisSettings& s, const double snr[3],
                  const std::string& status, const PanelText& text, bool labelsChanged = true);
