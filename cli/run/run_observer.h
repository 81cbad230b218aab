// What a run tells someone watching it frame by frame (the live window), and what it lets
// them decide: when the next frame is read, and whether a frame gets a picture.
#pragma once
#include <vector>

#include "cli/input/frame_source.h"

struct AnalysisState;
class HeadlessWindow;

class RunObserver {
 public:
  // The analysis is configured; `state.liveSettings` may be changed from now on, as the tool
  // window changes them (all but the line where several `rows` are analysed: the window then
  // shows one of them, ShownRow()).
  virtual void Started(AnalysisState& state, FrameSource& source, const std::vector<int>& rows) = 0;
  // Before the next frame is read; may wait (a pause). False ends the run.
  virtual bool NextFrame() = 0;
  // After NextFrame: whether the frame to come is wanted as a picture (its planes, or the whole
  // frame converted), and which of several rows is shown.
  virtual bool WantsPicture() const = 0;
  virtual int ShownRow() const = 0;
  // The frame is read and about to be analysed; may wait for its time. True when it is to
  // be shown: its page is then drawn.
  virtual bool ShowFrame(const InputFrame& frame) = 0;
  // Before FrameAnalysed, where a luminance method (SnrKind) measures the shown line: its
  // running read-out, which replaces the tool window's.
  virtual void LumaMeasured(int kind, double db) { (void)kind, (void)db; }
  // After the frame path, with the line marked in `frame` and, when shown, the page drawn.
  virtual void FrameAnalysed(const InputFrame& frame, AnalysisState& state, HeadlessWindow& window, bool shown) = 0;
  // The run is over: its exit status.
  virtual void Finished(int status) = 0;

 protected:
  ~RunObserver() = default;
};
