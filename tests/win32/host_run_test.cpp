// Runs lineview-host.exe (beside this test program, with the DLL) as a separate process and
// reads its log: the calling order a host owes the plug-in, frames delivered, commands answered.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/settings_file_text.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::wstring TempLog(const wchar_t* tag) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + L"lineview_host_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) +
                      L".log";
  DeleteFileW(path.c_str());
  return path;
}

std::string ReadFileText(const std::wstring& path) {
  std::string text;
  if (FILE* f = _wfopen(path.c_str(), L"rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

class HostProcess {
 public:
  explicit HostProcess(const std::wstring& args) {
    std::wstring line = L"\"" + OwnFolder() + L"lineview-host.exe\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    started_ = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) != 0;
  }
  ~HostProcess() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  bool Started() const { return started_; }
  bool Running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  DWORD Id() const { return pi_.dwProcessId; }
  // The exit code, or -1 when the program did not end within a minute.
  int Wait() {
    if (WaitForSingleObject(pi_.hProcess, 60000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return int(code);
  }
  // The child's main window (class "TMain"), once it exists.
  HWND MainWindow() {
    for (int i = 0; i < 600; ++i) {
      Search s{pi_.dwProcessId, nullptr};
      EnumWindows(&Match, reinterpret_cast<LPARAM>(&s));
      if (s.found) return s.found;
      Sleep(100);
    }
    return nullptr;
  }

 private:
  struct Search {
    DWORD pid;
    HWND found;
  };
  static BOOL CALLBACK Match(HWND hwnd, LPARAM lParam) {
    auto* s = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (pid == s->pid && lstrcmpW(cls, L"TMain") == 0) {
      wchar_t title[32] = {};
      GetWindowTextW(hwnd, title, 32);
      if (lstrcmpW(title, L"Kestrova") == 0) {
        s->found = hwnd;
        return FALSE;
      }
    }
    return TRUE;
  }
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

// Waits until the log holds `text` after position `from`; returns its position or npos.
size_t WaitForLog(const std::wstring& log, const std::string& text, size_t from = 0) {
  for (int i = 0; i < 600; ++i) {
    const std::string now = ReadFileText(log);
    const size_t at = from < now.size() ? now.find(text, from) : std::string::npos;
    if (at != std::string::npos) return at;
    Sleep(100);
  }
  return std::string::npos;
}

// Each text must occur, in this order.
void ExpectInOrder(const std::string& log, const std::vector<std::string>& texts) {
  size_t from = 0;
  for (const std::string& t : texts) {
    const size_t at = log.find(t, from);
    ASSERT_NE(at, std::string::npos) << "missing or out of order: " << t << "\n" << log;
    from = at + t.size();
  }
}

int Count(const std::string& log, const std::string& text) {
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

TEST(HostRunTest, DeliversFramesBetweenConfigureAndShutdown) {
  const std::wstring log = TempLog(L"order");
  const std::wstring settings = OwnFolder() + L"KVP_LineView.ini";
  DeleteFileW(settings.c_str());
  HostProcess host(L"--frames 5 --fps 50 --size 64x48 --signal ramp --log \"" + log + L"\"");
  ASSERT_TRUE(host.Started());
  EXPECT_EQ(host.Wait(), 0);
  const std::string text = ReadFileText(log);
  ExpectInOrder(text, {
                          "main window class \"TMain\" title \"Kestrova\" created",
                          "tuned to channel 6",  // the ramp's channel
                          "plugin: loading",
                          "Kestrova_Plugin_Version -> 3",
                          "descriptor name bytes [C0 ED E0",
                          "call LoadSettings",
                          "call Configure width 64 height 48 pixelFormat 0",
                          "Configure -> 1",
                          "call ProcessFrame #1 channel 6",
                          "-> 1",
                          "frames delivered: 5",
                          "call ReleaseBuffers",
                          "call Shutdown",
                          "call FreeLibrary",
                          "host: exit 0",
                      });
  EXPECT_EQ(Count(text, "call OpenToolWindow"), 0);
  EXPECT_EQ(Count(text, "call Configure"), 1);
  DeleteFileW(log.c_str());

  // The run leaves the whole settings file beside the DLL, with the line lowered to the
  // 48-row frames by Configure.
  EXPECT_EQ(ReadFileText(settings), WithLine(kDefaultSettingsFile, "TVLine=100", "TVLine=47"));
  DeleteFileW(settings.c_str());
}

TEST(HostRunTest, OpensTheToolWindowAfterConfigureWithBgrFrames) {
  const std::wstring log = TempLog(L"open");
  HostProcess host(L"--frames 3 --fps 30 --format bgr24 --size 96x72 --open-window --log \"" + log + L"\"");
  ASSERT_TRUE(host.Started());
  EXPECT_EQ(host.Wait(), 0);
  const std::string text = ReadFileText(log);
  ExpectInOrder(text, {"call Configure width 96 height 72 pixelFormat 1", "call OpenToolWindow",
                       "call ProcessFrame #1", "call ProcessFrame #3", "frames delivered: 3", "call ReleaseBuffers",
                       "call Shutdown", "call FreeLibrary"});
  DeleteFileW(log.c_str());
}

TEST(HostRunTest, AnswersHostCommandsAndFramesFollowTheChannel) {
  const std::wstring log = TempLog(L"commands");
  HostProcess host(L"--frames 0 --fps 30 --size 64x48 --log \"" + log + L"\"");
  ASSERT_TRUE(host.Started());
  const HWND window = host.MainWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_NE(WaitForLog(log, "call ProcessFrame #1 channel 1 "), std::string::npos);
  for (int code : {1227, 1227, 1248, 1249, 1246, 1228, 4711}) PostMessageW(window, 0x4C8, WPARAM(code), 0);
  const size_t unknown = WaitForLog(log, "command 4711 unknown");
  ASSERT_NE(unknown, std::string::npos);
  // A frame after the last step carries channel 3.
  ASSERT_NE(WaitForLog(log, "channel 3 ", unknown), std::string::npos);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(host.Wait(), 0);
  const std::string text = ReadFileText(log);
  ExpectInOrder(text, {
                          "command 1227 HostCmdChannelUp: now channel 3 ",
                          "command 1227 HostCmdChannelUp: now channel 6 ",
                          "command 1248 HostCmdSourceVHS: now input -2 \"VHS\"",
                          "command 1249 HostCmdSourceSVHS: now input -3 \"S-VHS\"",
                          "command 1246 HostCmdSourceTV: now channel 6 ",
                          "command 1228 HostCmdChannelDown: now channel 3 ",
                          "command 4711 unknown",
                          "main window closed",
                          "frames delivered:",
                          "call ReleaseBuffers",
                          "call Shutdown",
                          "call FreeLibrary",
                          "host: exit 0",
                      });
  DeleteFileW(log.c_str());
}

struct OwnedBy {
  HWND owner, found;
};

BOOL CALLBACK MatchOwned(HWND hwnd, LPARAM p) {
  auto* s = reinterpret_cast<OwnedBy*>(p);
  if (GetWindow(hwnd, GW_OWNER) == s->owner && IsWindowVisible(hwnd)) s->found = hwnd;
  return s->found == nullptr;
}

// The visible window owned by `owner`, once there is one.
HWND WaitForOwned(HWND owner) {
  for (int i = 0; i < 300; ++i) {
    OwnedBy s{owner, nullptr};
    EnumWindows(MatchOwned, reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    Sleep(100);
  }
  return nullptr;
}

// The user closes the viewer while the plug-in's About box is open: the host ends the session
// only once that modal loop has returned, never from inside it.
TEST(HostRunTest, EndsTheSessionAfterThePluginsModalLoopReturns) {
  const std::wstring log = TempLog(L"about");
  HostProcess host(L"--frames 0 --fps 25 --size 64x48 --open-window --log \"" + log + L"\"");
  ASSERT_TRUE(host.Started());
  const HWND window = host.MainWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_NE(WaitForLog(log, "OpenToolWindow returned"), std::string::npos);
  const HWND tool = WaitForOwned(window);
  ASSERT_NE(tool, nullptr);
  PostMessageW(tool, WM_COMMAND, MAKEWPARAM(5008, BN_CLICKED), 0);  // "О плагине"
  const HWND about = WaitForOwned(tool);
  ASSERT_NE(about, nullptr);
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_NE(WaitForLog(log, "main window closed"), std::string::npos);
  Sleep(500);
  EXPECT_TRUE(host.Running());
  EXPECT_EQ(ReadFileText(log).find("call Shutdown"), std::string::npos);
  PostMessageW(about, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(host.Wait(), 0);
  ExpectInOrder(ReadFileText(log),
                {"main window closed", "call ReleaseBuffers", "call Shutdown", "call FreeLibrary", "host: exit 0"});
  DeleteFileW(log.c_str());
}

TEST(HostRunTest, RefusesAMissingPluginAndBadOptions) {
  const std::wstring log = TempLog(L"missing");
  HostProcess missing(L"--frames 1 --plugin C:\\no\\such\\folder\\KVP_LineView.dll --log \"" + log + L"\"");
  ASSERT_TRUE(missing.Started());
  EXPECT_EQ(missing.Wait(), 3);
  const std::string text = ReadFileText(log);
  EXPECT_NE(text.find("LoadLibrary failed"), std::string::npos) << text;
  EXPECT_EQ(text.find("call LoadSettings"), std::string::npos) << text;
  DeleteFileW(log.c_str());

  HostProcess bad(L"--size 0x0");
  ASSERT_TRUE(bad.Started());
  EXPECT_EQ(bad.Wait(), 2);
}

}  // namespace
