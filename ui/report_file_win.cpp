#include "ui/report_file_win.h"

#include <windows.h>

#include <algorithm>

namespace {

bool WriteAll(HANDLE file, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return FlushFileBuffers(file) != FALSE;
}

}  // namespace

ReportWriteResult WriteReportFile(const std::wstring& path, const std::string& text) {
  const std::wstring temp = path + L".tmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const bool ok = WriteAll(file, text);
    const bool closed = CloseHandle(file) != FALSE;
    if (ok && closed && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ReportWriteResult::Written;
    }
    DeleteFileW(temp.c_str());
    return ReportWriteResult::WriteFailed;
  }
  // No new file allowed in the folder: rewrite in place. Not crash-safe, but the only way the
  // report can be saved there at all.
  file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ReportWriteResult::CannotOpen;
  const bool ok = SetEndOfFile(file) && WriteAll(file, text);
  CloseHandle(file);
  return ok ? ReportWriteResult::Written : ReportWriteResult::WriteFailed;
}
