// Where the frames come from: anything FFmpeg opens (file, URL, capture device, raw frames on
// stdin), or the bundled host's built-in test signal. Every frame is handed over in the layout
// the analysis takes: YUY2 top-down, or BGR24 bottom-up as the plug-in's frames are.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/options/cli_options.h"
#include "cli/common/diagnostics.h"
#include "cli/common/line_choice.h"
#include "cli/input/plane_layout.h"
#include "cli/results/timeline.h"

// The analysed rows' luma as decoded, at the decoder's own bit depth: the luminance methods
// measure it there, never through the 8-bit conversion. Empty where the decoder gives no luma
// plane (RGB pictures, the built-in signal): the converted frame's luma serves then.
struct LumaRows {
  const uint16_t* samples = nullptr;  // `width` values for each of `rows`
  const int* rows = nullptr;          // ascending
  size_t count = 0;
  int width = 0;
  int bits = 0;
  bool fullRange = false;
  // The samples of `row`; null where it was not read.
  const uint16_t* Row(int row) const {
    for (size_t i = 0; i < count; ++i) {
      if (rows[i] == row) return samples + i * static_cast<size_t>(width);
    }
    return nullptr;
  }
};

struct InputFrame {
  uint8_t* pixels = nullptr;  // Width() x Height() in PixelFormat(); valid until the next call
  int64_t index = 0;          // counts the frames handed over, from 0
  double seconds = 0.0;       // presentation time from the first frame
  // Where a picture was asked for and the decoder's layout allows: its planes, valid until the
  // next call. `pixels` then holds only the rows analysed.
  FramePlanes planes;
  LumaRows luma;  // where SetLumaWanted asked for it
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  int Width() const { return width_; }
  int Height() const { return height_; }
  int PixelFormat() const { return pixelFormat_; }
  // False at the end of the input; anything unusual on the way (a truncated last frame, a read
  // error) has been reported to the Diagnostics by then.
  virtual bool Next(InputFrame* frame) = 0;
  // For the progress bar: the frames the input is expected to hold, 0 when unknown.
  virtual int64_t ExpectedFrames() const { return 0; }
  // Frames lost: those the decoder or the converter could not deliver (Undecoded) and a
  // truncated last raw frame, which has its own warning.
  virtual int64_t Dropped() const { return 0; }
  virtual int64_t Undecoded() const { return 0; }
  // The gaps in the frames' times (more than 1.5 frame durations, or a time repeated): where
  // and how many frames; their sum is counted in Dropped.
  virtual const std::vector<DropRange>& Gaps() const {
    static const std::vector<DropRange> kNone;
    return kNone;
  }
  // Frames delivered although the decoder found errors in them (concealed or flagged corrupt).
  virtual int64_t Damaged() const { return 0; }
  // The reading ended early: a stop, or no frame within the timeout.
  virtual bool Interrupted() const { return false; }
  // The reading ended at a read error, before the input's end.
  virtual bool ReadFailed() const { return false; }
  // A recording (a file, the built-in signal) can be read faster than it plays; a device or a
  // pipe delivers frames as they happen.
  virtual bool IsRecording() const { return true; }
  // Which field of interlaced frames comes first, as the input says.
  virtual FieldOrder Fields() const { return FieldOrder::Unknown; }
  // Frames per second the input declares (for pacing when frames carry no time).
  virtual double FrameRate() const { return 25.0; }
  // The analysis reads these rows of each frame: a source may then convert only the rows around
  // them and leave the others as they were. None (the default) asks for whole frames.
  virtual void SetAnalysedRows(const std::vector<int>& rows) { (void)rows; }
  // The frame to come is wanted as a picture: the source gives its planes where it can, else
  // converts it whole.
  virtual void SetPictureWanted(bool wanted) { (void)wanted; }
  // Each frame's analysed rows are wanted as decoded too (InputFrame::luma).
  virtual void SetLumaWanted(bool wanted) { (void)wanted; }

 protected:
  int width_ = 0;
  int height_ = 0;
  int pixelFormat_ = 0;
};

constexpr int kBuiltInWidth = 720;
constexpr int kBuiltInHeight = 576;
constexpr int kBuiltInFrames = 100;
constexpr double kBuiltInRate = 25.0;

// Opens the input the options name (the built-in signal when there is none) and reads its first
// frame, so that every way an input can be unusable shows here. On failure returns null, with
// the error reported and its exit code in *exitCode.
std::unique_ptr<FrameSource> OpenFrameSource(const CliOptions& options, Diagnostics& diag, int* exitCode);
