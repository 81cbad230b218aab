// Writing the measurement report: never a half-written file in place of a good one.
#pragma once
#include <string>

enum class ReportWriteResult {
  Written,
  CannotOpen,   // nothing was created or changed
  WriteFailed,  // opened, but the text did not all reach the disk: the old file stands
};

// Writes `text` (binary: the lines carry their own CR LF) to `path`, through a temporary file
// of our own beside it that is flushed to the disk and replaces the file only once complete.
// Only a folder that refuses new files (access denied), holding a writable file, gets the file
// rewritten in place; any other failure to create the temporary file leaves the old one as is.
ReportWriteResult WriteReportFile(const std::wstring& path, const std::string& text);
