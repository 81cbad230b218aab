// The live window's hand-off between two threads: the run analyses on a thread of its own and
// tells this session (its RunObserver) each frame; the window's thread takes the newest picture
// and hands back the keys' changes. The window never holds the analysis back: a frame that
// comes while the window still holds the last picture is analysed without one. A recording is
// paced at its frame rate unless --no-pacing.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/common/diagnostics.h"
#include "cli/input/frame_source.h"
#include "cli/live/live_view.h"
#include "cli/options/cli_options.h"
#include "cli/run/run_observer.h"

class HeadlessWindow;

// One analysed frame as the window shows it.
struct LivePicture {
  std::vector<uint8_t> pixels;  // with the line marked
  std::vector<uint8_t> clean;   // as read, for an analysis again with other controls
  // Or the decoder's planes as they came (unmarked), with the rows to mark over them.
  FramePlanes::Layout layout = FramePlanes::None;
  std::vector<uint8_t> plane[3];
  int pitch[3] = {};
  std::vector<int> marks;
  std::unique_ptr<PlotCanvas> canvas;
  AnalysisSettings settings{};
  double snr[3] = {};
  int snrMethod = 0;  // SnrKind of the read-outs: a luminance method's shows Y alone
  int frames = 0;  // how many frames the read-outs are the mean of
  int64_t index = -1;

  LivePicture();
  void KeepPlanes(const FramePlanes& from, int height);
  FramePlanes Planes() const;
  // The kept planes in the analysis's layout, into `clean`, for an analysis again.
  bool ConvertPlanes(int width, int height, int pixelFormat);
  // The page `mode` as drawn on `window`, when it is one of the three.
  void TakeCanvas(HeadlessWindow& window, int mode);
};

// What the analysis thread and the window thread share, each field under `mutex_`. The
// analysis applies the window's controls between frames, as the frame path reads the tool
// window's settings once per frame, and prints the window's notices then, naming the frame
// from which they hold.
class LiveSession final : public RunObserver {
 public:
  // `wake` tells the window's thread that something changed; any thread may call it.
  LiveSession(const CliOptions& o, Diagnostics& diag, std::function<void()> wake)
      : pacingAllowed_(o.pacing), diag_(diag), wake_(std::move(wake)) {}

  // ---- the analysis thread ----
  void Started(AnalysisState& state, FrameSource& source, const std::vector<int>& rows) override;
  bool NextFrame() override;
  bool WantsPicture() const override { return wantPicture_; }
  int ShownRow() const override { return shownRow_; }
  bool ShowFrame(const InputFrame& frame) override;
  void FrameAnalysed(const InputFrame& frame, AnalysisState& state, HeadlessWindow& window, bool shown) override;
  void LumaMeasured(int kind, double db) override { lumaKind_ = kind, lumaDb_ = db; }
  void Finished(int status) override;

  // ---- the window thread ----
  bool IsStarted(int* width, int* height, int* pixelFormat, LiveControls* controls);
  bool IsFinished(int* status);
  // Swaps in the newest picture; false when there is none.
  bool Take(LivePicture& front);
  void Change(const LiveControls& controls, const std::string& notice);
  void NoticeLocked(const std::string& text);
  void Quit();
  // After the analysis thread has ended.
  int64_t Analysed() const { return analysed_; }
  int64_t Skipped() const { return skipped_; }

 private:
  using Clock = std::chrono::steady_clock;

  // Under the lock.
  void Notice(const std::string& text);
  // Whether the frame gets a picture; a paced frame waits here for its time.
  bool Due(const InputFrame& frame);
  void Wake() { wake_(); }

  const bool pacingAllowed_;
  int lumaKind_ = 0;  // the analysis thread's alone, as the back picture is
  double lumaDb_ = 0.0;
  Diagnostics& diag_;
  const std::function<void()> wake_;

  std::mutex mutex_;
  std::condition_variable changed_;
  AnalysisState* state_ = nullptr;
  int width_ = 0, height_ = 0, pixelFormat_ = 0;
  std::vector<int> rows_;  // the rows analysed
  bool started_ = false, finished_ = false, quit_ = false;
  int status_ = kExitOk;
  LiveControls controls_;
  std::vector<std::string> notices_;
  bool backFull_ = false;
  LivePicture back_;

  // The analysis thread's own.
  bool paced_ = false;
  double frameSeconds_ = 0.04;
  bool clockSet_ = false;
  Clock::time_point origin_;
  bool wantPicture_ = false;
  int shownRow_ = 0;
  int64_t handedAt_ = -1;  // analysed_ when the back picture was handed over
  int64_t analysed_ = 0;
  int64_t skipped_ = 0;
  bool runYuv_ = false;             // the CSV's colour space
  int64_t measured_[2] = {0, 0};  // frames measured in RGB, in YUV
};
