// Writing the measurement report: never a half-written file in place of a good one.
#pragma once
#include <string>

enum class ReportWriteResult {
  Written,
  CannotOpen,   // nothing was created or changed
  WriteFailed,  // opened, but the text did not all reach the disk: the old file stands
};

// Writes `text` (binary: the lines carry their own CR LF) to `path`, through a temporary file
// beside it that replaces the file only once complete. A folder that allows no new file but a
// writable file gets the file rewritten in place.
ReportWriteResult WriteReportFile(const std::wstring& path, const std::string& text);
