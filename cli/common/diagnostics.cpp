#include "cli/common/diagnostics.h"

void Diagnostics::Warn(ExitCode code, const std::string& text) {
  if (lineOpen_) err_ << '\n', lineOpen_ = false;
  err_ << "lineview: warning: " << text << '\n';
  if (status_ == kExitOk) status_ = code;
}

int Diagnostics::Fail(ExitCode code, const std::string& text) {
  // One message: what the libraries said on the way is folded into it.
  lastError_ = text + (note_ ? note_() : std::string());
  if (lineOpen_) err_ << '\n', lineOpen_ = false;
  err_ << "lineview: " << lastError_ << '\n';
  err_.flush();
  return code;
}
