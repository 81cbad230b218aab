// The progress bar on stderr: frames, frames per second and the time still to go.
#pragma once
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "cli/common/diagnostics.h"

// One line of the bar, without the carriage return. `total` 0 means unknown (no bar, no ETA);
// `elapsedSeconds` 0 gives no rate yet.
std::string FormatProgress(int64_t frames, int64_t total, double elapsedSeconds, int barWidth);

class ProgressBar {
 public:
  // Draws nothing unless `enabled` (stderr is a terminal and the user did not turn it off).
  ProgressBar(Diagnostics& diag, bool enabled, int64_t total);
  void Update(int64_t frames);
  // The final state, then a new line, so later messages start on a line of their own. At the
  // end of the input the count is the whole: the bar ends full at the real count, whatever
  // the container's duration promised.
  void Finish(int64_t frames, bool inputEnded);

 private:
  void Draw(int64_t frames);
  Diagnostics& diag_;
  bool enabled_;
  int64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  bool drawn_ = false;
};
