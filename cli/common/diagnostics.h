// Messages to the user on stderr: errors that end the run and warnings that let it go on.
// The exit status of a run that finishes is the code of its first warning.
#pragma once
#include <ostream>
#include <string>

#include "cli/common/exit_codes.h"

class Diagnostics {
 public:
  explicit Diagnostics(std::ostream& err) : err_(err) {}

  void Warn(ExitCode code, const std::string& text);
  // Prints the error; returns `code` so a caller can `return diag.Fail(...)`.
  int Fail(ExitCode code, const std::string& text);

  // kExitOk when nothing was reported, otherwise the first warning's code.
  int Status() const { return status_; }
  // The text of the last error, for a summary that names it.
  const std::string& LastError() const { return lastError_; }
  std::ostream& Stream() { return err_; }
  // What an error adds of what happened on the way (the libraries' messages): called once per
  // error; none by default.
  void SetErrorNote(std::string (*note)()) { note_ = note; }
  // A progress line is drawn and not yet ended: a message first ends it, so that no message
  // lands inside it.
  void SetLineOpen(bool open) { lineOpen_ = open; }

 private:
  std::ostream& err_;
  int status_ = kExitOk;
  std::string lastError_;
  bool lineOpen_ = false;
  std::string (*note_)() = nullptr;
};
