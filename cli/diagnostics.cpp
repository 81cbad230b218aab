#include "cli/diagnostics.h"

void Diagnostics::Warn(ExitCode code, const std::string& text) {
  err_ << "lineview: warning: " << text << '\n';
  if (status_ == kExitOk) status_ = code;
}

int Diagnostics::Fail(ExitCode code, const std::string& text) {
  err_ << "lineview: " << text << '\n';
  err_.flush();
  return code;
}
