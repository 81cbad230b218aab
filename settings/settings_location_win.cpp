#include "settings/settings_location_win.h"

#include <shlobj.h>

#include <string>
#include <vector>

#include "settings/ini_files.h"  // Utf8FromWide

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
// The key and value names are ASCII and the content counts as raw bytes, so the 8-bit
// functions serve here: the wide ones would turn a string value into other bytes.
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

// The module's full path, however long (up to the 32767 characters of a Windows path); empty
// when it cannot be had whole.
std::wstring ModulePath(HMODULE module) {
  std::vector<wchar_t> buf;
  for (DWORD size = MAX_PATH; size <= 65536; size *= 2) {
    buf.assign(size, L'\0');
    const DWORD n = GetModuleFileNameW(module, buf.data(), size);
    if (n == 0) return {};
    if (n < size) return std::wstring(buf.data(), n);
    // n == size: cut short (with or without a terminator, depending on the system); try longer.
  }
  return {};
}

// "<app data>\Kestrova\Plugins\" in UTF-16, creating every missing level; empty when the
// application-data folder cannot be obtained.
std::wstring UsersFolder() {
  wchar_t buf[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf)) || buf[0] == L'\0')
    return {};
  std::wstring folder = buf;
  if (folder.back() != L'\\') folder += L'\\';
  for (const wchar_t* level : {L"Kestrova\\", L"Plugins\\"}) {
    folder += level;
    CreateDirectoryW(folder.c_str(), nullptr);  // may exist already
  }
  return folder;
}

}  // namespace

void Locate(IniStore& store, HMODULE module) {
  store.SetLocation({}, {});
  bool versionKnown = false;
  const bool nt = IsNtFamily(versionKnown);
  if (!versionKnown) return;

  // The module path is needed in both cases for the base name; a truncated or unconvertible
  // one is unusable.
  const std::string path = Utf8FromWide(ModulePath(module));
  if (path.empty()) return;
  std::string moduleFolder, baseName;
  if (!SplitModulePath(path, moduleFolder, baseName)) return;

  std::string folder;
  if (nt && StoreInUsersFolder()) folder = Utf8FromWide(UsersFolder());
  if (folder.empty()) folder = moduleFolder;
  store.SetLocation(folder, baseName);
}
