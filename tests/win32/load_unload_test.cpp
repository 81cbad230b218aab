// A host that loads and unloads the plug-in again and again (rescanning its plug-in folder):
// nothing may stay behind in the process per load, neither when no function of the DLL was
// called nor after a whole session (settings, the tool window opened and closed, frames on a
// video thread of the host's that outlives the plug-in). Handles are counted per type with
// NtQuerySystemInformation (SystemHandleInformation); Wine answers GetProcessHandleCount with 0.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "win32/tool_window_harness.h"

namespace {

using namespace lvtest;

// SYSTEM_HANDLE_INFORMATION, as ntdll fills it for class 16.
struct SystemHandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  PVOID object;
  ACCESS_MASK access;
};
struct SystemHandleInformation {
  ULONG count;
  SystemHandleEntry entries[1];
};
using QuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// This process's open handles by object type number; the total under -1. Empty on failure.
std::map<int, int> HandlesByType() {
  auto query = reinterpret_cast<QuerySystemInformationFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::map<int, int> counts;
  if (query == nullptr) return counts;
  std::vector<char> buffer(1 << 16);
  LONG status;
  ULONG needed = 0;
  while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
         kStatusInfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return counts;
  const auto* info = reinterpret_cast<const SystemHandleInformation*>(buffer.data());
  const DWORD pid = GetCurrentProcessId();
  for (ULONG i = 0; i < info->count; ++i) {
    if (info->entries[i].ownerPid != pid) continue;
    ++counts[info->entries[i].objectType];
    ++counts[-1];
  }
  return counts;
}

// The type numbers of a few kinds of object, to name them in a message.
std::map<int, std::string> TypeNames() {
  std::map<int, std::string> names;
  auto typeOf = [](HANDLE h) {
    auto query = reinterpret_cast<QuerySystemInformationFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<char> buffer(1 << 16);
    ULONG needed = 0;
    while (query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) ==
           kStatusInfoLengthMismatch) {
      buffer.resize(buffer.size() * 2);
    }
    const auto* info = reinterpret_cast<const SystemHandleInformation*>(buffer.data());
    for (ULONG i = 0; i < info->count; ++i) {
      if (info->entries[i].ownerPid == GetCurrentProcessId() &&
          info->entries[i].handle == static_cast<USHORT>(reinterpret_cast<ULONG_PTR>(h))) {
        return static_cast<int>(info->entries[i].objectType);
      }
    }
    return -2;
  };
  HANDLE thread = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  const std::pair<const char*, HANDLE> probes[] = {{"Thread", thread},
                                                   {"Event", CreateEventW(nullptr, TRUE, FALSE, nullptr)},
                                                   {"Mutex", CreateMutexW(nullptr, FALSE, nullptr)},
                                                   {"Semaphore", CreateSemaphoreW(nullptr, 0, 1, nullptr)}};
  for (const auto& [name, handle] : probes) {
    if (handle == nullptr) continue;
    names[typeOf(handle)] = name;
    CloseHandle(handle);
  }
  names[-1] = "all";
  return names;
}

// This process's threads.
int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int n = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    n += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return n;
}

// The process's private bytes (Wine counts whole heap blocks: printed, not judged).
long long PrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PagefileUsage : -1;
}

// "Thread +20 (+1.00 per cycle), ..." for what grew from `before` to `after` over `cycles` cycles.
std::string Growth(const std::map<int, int>& before, const std::map<int, int>& after, int cycles) {
  static const std::map<int, std::string> names = TypeNames();
  auto count = [](const std::map<int, int>& m, int type) {
    const auto it = m.find(type);
    return it != m.end() ? it->second : 0;
  };
  std::map<int, int> grew;
  for (const auto& entry : before) grew[entry.first] = count(after, entry.first) - entry.second;
  for (const auto& entry : after) grew[entry.first] = entry.second - count(before, entry.first);
  std::string text;
  for (const auto& [type, n] : grew) {
    if (n == 0) continue;
    const auto name = names.find(type);
    const std::string what = name != names.end() ? name->second : "type " + std::to_string(type);
    char line[96];
    std::snprintf(line, sizeof line, "%s%s %+d (%+.2f per cycle)", text.empty() ? "" : ", ", what.c_str(), n,
                  static_cast<double>(n) / cycles);
    text += line;
  }
  return text.empty() ? "none" : text;
}

// The host's video thread: lives across every load of the plug-in and runs what it is given.
class VideoThread {
 public:
  VideoThread() : thread_([this] { Run(); }) {}
  ~VideoThread() {
    Do(nullptr);
    thread_.join();
  }
  // Runs `work` on the video thread and waits for it (null ends the thread).
  template <class Work>
  void Run(Work work) {
    std::function<void()> f = work;
    Do(&f);
  }

 private:
  void Do(std::function<void()>* work) {
    work_.store(work);
    posted_.store(true);
    while (posted_.load()) Sleep(1);
  }
  void Run() {
    for (;;) {
      while (!posted_.load()) Sleep(1);
      std::function<void()>* work = work_.load();
      if (work != nullptr) (*work)();
      posted_.store(false);
      if (work == nullptr) return;
    }
  }
  std::atomic<std::function<void()>*> work_{nullptr};
  std::atomic<bool> posted_{false};
  std::thread thread_;
};

TEST(LoadUnload, CountingWorks) {
  const std::map<int, int> before = HandlesByType();
  ASSERT_FALSE(before.empty()) << "NtQuerySystemInformation(SystemHandleInformation) failed";
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(HandlesByType().at(-1), before.at(-1) + 1);
  CloseHandle(event);
  EXPECT_EQ(HandlesByType().at(-1), before.at(-1));
}

TEST(LoadUnload, LoadAndFreeTwentyTimesLeavesNothing) {
  const std::wstring folder = ScratchFolder(L"load_unload");
  const std::wstring dll = folder + L"KVP_LineView.dll";
  ASSERT_TRUE(CopyFileW(BuiltDll().c_str(), dll.c_str(), FALSE));
  auto cycle = [&] {
    HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(FreeLibrary(module));
  };
  // The first cycles may leave what the system keeps once per process.
  for (int i = 0; i < 3; ++i) cycle();
  const std::map<int, int> before = HandlesByType();
  const int threadsBefore = ThreadCount();
  const int cycles = 20;
  for (int i = 0; i < cycles; ++i) cycle();
  const std::map<int, int> after = HandlesByType();
  std::printf("LoadLibrary + FreeLibrary, %d cycles: handles %d -> %d; grew: %s\n", cycles, before.at(-1),
              after.at(-1), Growth(before, after, cycles).c_str());
  EXPECT_EQ(after, before) << "grew: " << Growth(before, after, cycles);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  DeleteFileW(dll.c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST(LoadUnload, WholeSessionsLeaveNothing) {
  HWND host = CreateHostWindow();
  ASSERT_NE(host, nullptr);
  VideoThread video;
  auto session = [&](int round) {
    PluginHost plugin(L"load_unload_session");
    ASSERT_TRUE(plugin.Load());
    plugin.d->LoadSettings();
    plugin.Configure(720, 576);
    HWND tool = plugin.Open(host);
    ASSERT_TRUE(IsWindow(tool));
    Yuy2Frame frame(720, 576);
    for (int mode = 0; mode < 3; ++mode) {  // every page draws
      ClickTab(GetDlgItem(tool, IDC_TAB), mode);
      video.Run([&] {
        for (int i = 0; i < 5; ++i) plugin.d->ProcessFrame(&frame.info);
      });
      Pump(20);
      RedrawWindow(tool, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
    frame.SetChannel(round % 5, "A", 49750000);  // a channel change
    video.Run([&] { plugin.d->ProcessFrame(&frame.info); });
    Pump(20);
    SendMessageW(GetDlgItem(tool, IDC_CLOSE), BM_CLICK, 0, 0);
    PumpUntil([&] { return !IsWindow(tool); }, 2000);
    EXPECT_FALSE(IsWindow(tool));
    plugin.Unload();  // ReleaseBuffers, Shutdown (the settings are written), FreeLibrary
  };
  for (int i = 0; i < 2; ++i) session(i);
  Pump(50);
  const std::map<int, int> before = HandlesByType();
  const int threadsBefore = ThreadCount();
  const long long bytesBefore = PrivateBytes();
  const int cycles = 6;
  for (int i = 0; i < cycles; ++i) session(2 + i);
  Pump(50);
  const std::map<int, int> after = HandlesByType();
  std::printf("whole sessions, %d cycles: handles %d -> %d; grew: %s; private bytes %+lld\n", cycles,
              before.at(-1), after.at(-1), Growth(before, after, cycles).c_str(), PrivateBytes() - bytesBefore);
  EXPECT_EQ(after, before) << "grew: " << Growth(before, after, cycles);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  DestroyWindow(host);
}

}  // namespace
