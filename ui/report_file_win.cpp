#include "ui/report_file_win.h"

#include <windows.h>

#include "settings/ini_store.h"

namespace {

bool WriteAll(std::FILE* file, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace

ReportWriteResult WriteReportFile(const std::wstring& widePath, const std::string& text) {
  const std::string path = Utf8FromWide(widePath);
  if (path.empty()) return ReportWriteResult::CannotOpen;
  const IniFileSystem& fs = kPortableFileSystem;

  std::string temp;
  if (std::FILE* file = CreateTemporaryFile(fs, path, temp)) {
    const bool written = WriteAll(file, text) && fs.sync(file);
    const bool closed = std::fclose(file) == 0;
    if (written && closed && fs.replace(temp, path)) return ReportWriteResult::Written;
    fs.remove(temp);
    return ReportWriteResult::WriteFailed;
  }
  // Only a folder that refuses new files gets the report rewritten in place; any other failure
  // (a full disk, a name too long) leaves the old report as it is.
  if (!FolderRefusesNewFiles(errno)) return ReportWriteResult::CannotOpen;
  std::FILE* file = fs.open(path, FileOpen::OpenOrCreate);
  if (!file) return ReportWriteResult::CannotOpen;
  // Not crash-safe, but the old report goes only as the new one comes in: the file first grows
  // to the new length (a full disk fails here, before any old byte is touched), then takes the
  // new text, and only then loses what is left of the old one.
  std::fseek(file, 0, SEEK_END);
  const long oldSize = std::ftell(file);
  bool written = oldSize >= 0 && (static_cast<unsigned long>(oldSize) >= text.size() || PortableResize(file, text.size()));
  written = written && std::fseek(file, 0, SEEK_SET) == 0 && WriteAll(file, text) &&
            PortableResize(file, text.size()) && fs.sync(file);
  const bool closed = std::fclose(file) == 0;
  return written && closed ? ReportWriteResult::Written : ReportWriteResult::WriteFailed;
}
