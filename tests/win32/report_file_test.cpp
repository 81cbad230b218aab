// The measurement report written beside files it must not touch, and over one it may not replace.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tool_window_harness.h"
#include "ui/report_file_win.h"

namespace {

TEST(ReportFile, WritesThroughANameOfItsOwnAndLeavesTheOldReportOnFailure) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"lv_report_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring report = dir + L"\u043e\u0442\u0447\u0451\u0442.txt";  // "отчёт.txt"
  struct Case {
    const char* what;
    DWORD attributes;  // of the old report
    ReportWriteResult result;
  };
  const Case cases[] = {
      {"names beside it taken", FILE_ATTRIBUTE_NORMAL, ReportWriteResult::Written},
      {"read-only report", FILE_ATTRIBUTE_READONLY, ReportWriteResult::WriteFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    lvtest::WriteFile(report, "old report\r\n");
    lvtest::WriteFile(report + L".tmp", "unrelated");
    lvtest::WriteFile(report + L".1.tmp", "unrelated too");
    CreateDirectoryW((report + L".2.tmp").c_str(), nullptr);
    SetFileAttributesW(report.c_str(), c.attributes);
    EXPECT_EQ(WriteReportFile(report, "175,25\t45,6\r\n"), c.result);
    SetFileAttributesW(report.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(lvtest::ReadFile(report), c.result == ReportWriteResult::Written ? "175,25\t45,6\r\n" : "old report\r\n");
    EXPECT_EQ(lvtest::ReadFile(report + L".tmp"), "unrelated");
    EXPECT_EQ(lvtest::ReadFile(report + L".1.tmp"), "unrelated too");
    EXPECT_EQ(GetFileAttributesW((report + L".3.tmp").c_str()), INVALID_FILE_ATTRIBUTES);  // no leftover
    for (const wchar_t* tail : {L"", L".tmp", L".1.tmp"}) DeleteFileW((report + tail).c_str());
    RemoveDirectoryW((report + L".2.tmp").c_str());
  }
  RemoveDirectoryW(dir.c_str());
}

}  // namespace
