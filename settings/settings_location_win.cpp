#include "settings/settings_location_win.h"

#include <shlobj.h>

#include <string>
#include <vector>

namespace {

bool IsNtFamily(bool& known) {
  OSVERSIONINFOEXA ex = {};
  ex.dwOSVersionInfoSize = sizeof ex;
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex))) {
    known = true;
    return ex.dwPlatformId == VER_PLATFORM_WIN32_NT;
  }
  OSVERSIONINFOA basic = {};
  basic.dwOSVersionInfoSize = sizeof basic;
  known = GetVersionExA(&basic) != 0;
  return known && basic.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Any non-zero content of the value's first 4 bytes counts, whatever its registry type;
// a longer value (a string, say) is read whole so that its first bytes are really there.
bool StoreInUsersFolder() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  std::vector<BYTE> data;
  if (RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    data.resize(size);
    if (RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS)
      data.clear();
    else
      data.resize(size);
  }
  RegCloseKey(key);
  for (size_t i = 0; i < data.size() && i < 4; ++i)
    if (data[i] != 0) return true;
  return false;
}

// "<app data>\Kestrova\Plugins\", creating every missing level; empty when the application-data
// folder cannot be obtained.
std::string UsersFolder() {
  char buf[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathA(nullptr, buf, CSIDL_APPDATA, FALSE) || buf[0] == '\0') return {};
  std::string folder = buf;
  if (folder.back() != '\\') folder += '\\';
  for (const char* level : {"Kestrova\\", "Plugins\\"}) {
    folder += level;
    CreateDirectoryA(folder.c_str(), nullptr);  // may exist already
  }
  return folder;
}

}  // namespace

bool ReplaceSettingsFile(const char* from, const char* to) {
  // A read-only settings file is the user's way of freezing the settings: keep it, even
  // where the file system would let us replace it.
  const DWORD attributes = GetFileAttributesA(to);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void Locate(IniStore& store, HMODULE module) {
  store.SetLocation({}, {});
  store.SetReplaceFunction(ReplaceSettingsFile);
  bool versionKnown = false;
  const bool nt = IsNtFamily(versionKnown);
  if (!versionKnown) return;

  // The module path is needed in both cases for the base name; a truncated one is unusable.
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  std::string moduleFolder, baseName;
  if (!SplitModulePath(std::string(path, n), moduleFolder, baseName)) return;

  std::string folder;
  if (nt && StoreInUsersFolder()) folder = UsersFolder();
  if (folder.empty()) folder = moduleFolder;
  store.SetLocation(folder, baseName);
}
