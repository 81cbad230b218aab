#include "cli/common/diagnostics.h"

#include "cli/input/library_log.h"

void Diagnostics::Warn(ExitCode code, const std::string& text) {
  if (lineOpen_) err_ << '\n', lineOpen_ = false;
  err_ << "lineview: warning: " << text << '\n';
  if (status_ == kExitOk) status_ = code;
}

int Diagnostics::Fail(ExitCode code, const std::string& text) {
  // One message: what FFmpeg said on the way is folded into it.
  lastError_ = text + TakeLibraryNote();
  if (lineOpen_) err_ << '\n', lineOpen_ = false;
  err_ << "lineview: " << lastError_ << '\n';
  err_.flush();
  return code;
}
