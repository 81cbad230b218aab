// The settings file as the real DLL reads and writes it, loaded from a scratch folder.
#include <windows.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "common/settings_file_text.h"
#include "win32/tool_window_harness.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class SettingsDll : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[MAX_PATH];
    GetTempPathA(MAX_PATH, buf);
    dir_ = std::string(buf) + "lv_settings_dll_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir_.c_str(), nullptr);
    GetModuleFileNameA(nullptr, buf, MAX_PATH);
    built_ = buf;
    built_ = built_.substr(0, built_.find_last_of('\\') + 1) + "KVP_LineView.dll";
  }
  void TearDown() override {
    if (dll_) FreeLibrary(dll_);
    SetFileAttributesA(Ini().c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(Ini().c_str());
    DeleteFileA((dir_ + dllName_ + ".dll").c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Ini() const { return dir_ + dllName_ + ".ini"; }

  // Loads a fresh copy of the DLL named `name`.dll and returns its descriptor.
  const PluginDescriptor& Load(const std::string& name = "KVP_LineView") {
    dllName_ = name;
    const std::string copy = dir_ + name + ".dll";
    EXPECT_TRUE(CopyFileA(built_.c_str(), copy.c_str(), FALSE)) << built_;
    dll_ = LoadLibraryA(copy.c_str());
    EXPECT_NE(dll_, nullptr);
    return *lvtest::DescriptorOf(dll_);
  }

  // One host session: load the settings, optionally configure a frame format, shut down.
  void Session(int height = 0) {
    lvtest::SettingsSession(Load(dllName_), height);
    FreeLibrary(dll_);
    dll_ = nullptr;
  }

  std::string dir_, built_, dllName_ = "KVP_LineView";
  HMODULE dll_ = nullptr;
};

TEST_F(SettingsDll, FileBesideTheModuleIsCompletedAndRewrittenWhole) {
  Session();  // no file at all: created, then written with every default
  EXPECT_EQ(ReadAll(Ini()), kDefaultSettingsFile);

  WriteAll(Ini(), "[PluginSettings]\r\nMode=2\r\n");
  Session();
  EXPECT_EQ(ReadAll(Ini()), WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2"));

  WriteAll(Ini(), "[Other]\r\nA=1\r\n[PluginSettings]\nDlgWndPosX=50\nWhiteLevel=200\n[Tail]\nB=2\n");
  Session();
  EXPECT_EQ(ReadAll(Ini()),
            WithLine(WithLine(kDefaultSettingsFile, "DlgWndPosX=-100", "DlgWndPosX=50"), "WhiteLevel=235", "WhiteLevel=200"));

  WriteAll(Ini(), "[PluginSettings]\r\nTVLine=1000\r\n");
  Session(576);
  EXPECT_EQ(ReadAll(Ini()), WithLine(kDefaultSettingsFile, "TVLine=100", "TVLine=575"));
}

TEST_F(SettingsDll, FileThatCannotBeOpenedAtLoadIsLeftUntouched) {
  const std::string original = "[PluginSettings]\r\nMode=2\r\nExtra=1\r\n";
  WriteAll(Ini(), original);
  SetFileAttributesA(Ini().c_str(), FILE_ATTRIBUTE_READONLY);
  Session();
  EXPECT_EQ(ReadAll(Ini()), original);
  SetFileAttributesA(Ini().c_str(), FILE_ATTRIBUTE_NORMAL);

  // Held by another program while the settings load, released before shut-down.
  HANDLE held = CreateFileA(Ini().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const PluginDescriptor& d = Load();
  d.LoadSettings();
  CloseHandle(held);
  d.Shutdown();
  EXPECT_EQ(ReadAll(Ini()), original);
  EXPECT_FALSE(Exists(Ini() + ".tmp"));
}

// A byte-order mark (Notepad's UTF-8) and a 20 MB line before the section: the values are read
// and saved back (the mark with them). The load's time is printed, not judged.
TEST_F(SettingsDll, ByteOrderMarkAndHugeLineKeepTheValues) {
  const std::string section = "[PluginSettings]\r\nMode=2\r\nWhiteLevel=200\r\n";
  const std::string saved = WithLine(WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2"), "WhiteLevel=235", "WhiteLevel=200");
  struct Case {
    const char* what;
    std::string before;  // the section
    std::string mark;    // at the start of the saved file
  };
  const Case cases[] = {
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF", "\xEF\xBB\xBF"},
      {"20 MB line", std::string(20u << 20, 'x') + "\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(Ini(), c.before + section);
    const PluginDescriptor& d = Load();
    LARGE_INTEGER t0, t1, f;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    d.LoadSettings();
    QueryPerformanceCounter(&t1);
    std::cout << c.what << ": LoadSettings took " << 1000.0 * double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart)
              << " ms\n";
    d.Shutdown();
    FreeLibrary(dll_);
    dll_ = nullptr;
    EXPECT_EQ(ReadAll(Ini()), c.mark + saved);
  }
}

TEST_F(SettingsDll, RegistryValueMovesTheFileToApplicationData) {
  char appData[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
  const std::string vendor = std::string(appData) + "\\Kestrova\\";
  const std::string folder = vendor + "Plugins\\";
  const bool vendorExisted = Exists(vendor), folderExisted = Exists(folder);
  const std::string moved = folder + "LvSettingsProbe.ini";
  ASSERT_FALSE(Exists(moved));

  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  auto setValue = [&](DWORD v) {
    RegSetValueExA(key, "StoreInUsersFolder", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  };
  dllName_ = "LvSettingsProbe";
  setValue(0);
  Session();
  EXPECT_EQ(ReadAll(Ini()), kDefaultSettingsFile);  // 0: beside the module
  DeleteFileA(Ini().c_str());

  setValue(1);
  Session();
  EXPECT_EQ(ReadAll(moved), kDefaultSettingsFile);  // every missing folder level was created
  EXPECT_FALSE(Exists(Ini()));

  RegDeleteValueA(key, "StoreInUsersFolder");
  RegCloseKey(key);
  if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova");
  DeleteFileA(moved.c_str());
  if (!folderExisted) RemoveDirectoryA(folder.c_str());
  if (!vendorExisted) RemoveDirectoryA(vendor.c_str());
}

// ---- Folders whose names lie outside the ANSI code page, and paths longer than MAX_PATH ----

std::string ReadAllW(const std::wstring& path) {
  std::string bytes;
  if (FILE* f = _wfopen(path.c_str(), L"rb")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    fclose(f);
  }
  return bytes;
}

void WriteAllW(const std::wstring& path, const std::string& bytes) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

bool ExistsW(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Whether the ANSI code page can name `text` at all.
bool InAnsiCodePage(const std::wstring& text) {
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                      &lossy);
  return !lossy;
}

// "Кириллица", "测试目录" with a character beyond the BMP (U+2000B, a surrogate pair in UTF-16),
// and a base name of the DLL outside the code page too.
const std::wstring kCyrillic = L"\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430";
const std::wstring kCjk = L"\u6d4b\u8bd5\u76ee\u5f55\U0002000b";
const std::wstring kCyrillicBase = L"\u041f\u043b\u0430\u0433\u0438\u043d";  // "Плагин"

// 205 characters (245 bytes in UTF-8, within the 255 bytes a Linux file name may have).
std::wstring LongName() { return std::wstring(40, L'\u0436') + std::wstring(165, L'n'); }

class SettingsDllWide : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t buf[MAX_PATH];
    GetTempPathW(MAX_PATH, buf);
    root_ = std::wstring(buf) + L"lv_settings_wide_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(root_.c_str(), nullptr);
    built_ = lvtest::BuiltDll();
  }
  void TearDown() override {
    if (dll_) FreeLibrary(dll_);
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW(it->c_str())) RemoveDirectoryW(it->c_str());
    }
    RemoveDirectoryW(root_.c_str());
  }

  // Creates `folder` (under the scratch root, each level) and remembers it for the clean-up.
  std::wstring MakeFolder(const std::wstring& relative) {
    std::wstring path = root_;
    size_t from = 0;
    while (from < relative.size()) {
      size_t sep = relative.find(L'\\', from);
      if (sep == std::wstring::npos) sep = relative.size();
      path += relative.substr(from, sep - from) + L"\\";
      if (CreateDirectoryW(path.c_str(), nullptr)) made_.push_back(path);
      from = sep + 1;
    }
    return path;
  }

  // One host session with a fresh copy of the DLL at `dll`: load the settings, optionally
  // configure a frame format, shut down.
  void Session(const std::wstring& dll, int height = 0) {
    if (!ExistsW(dll)) {
      ASSERT_TRUE(CopyFileW(built_.c_str(), dll.c_str(), FALSE)) << GetLastError();
      made_.push_back(dll);
    }
    dll_ = LoadLibraryW(dll.c_str());
    ASSERT_NE(dll_, nullptr) << GetLastError();
    lvtest::SettingsSession(*lvtest::DescriptorOf(dll_), height);
    FreeLibrary(dll_);
    dll_ = nullptr;
  }

  // The INI beside `dll` after the three sessions of the issue: created with the defaults,
  // completed and changed (TVLine lowered by Configure), then read back and kept.
  void RoundTrip(const std::wstring& folder, const std::wstring& base) {
    const std::wstring dll = folder + base + L".dll", ini = folder + base + L".ini";
    std::cout << "path of " << ini.size() << " UTF-16 units; every name in the ANSI code page " << GetACP() << ": "
              << (InAnsiCodePage(ini) ? "yes" : "no") << "\n";
    made_.push_back(ini);
    Session(dll);
    ASSERT_TRUE(ExistsW(ini)) << "no settings file beside the module";
    EXPECT_EQ(ReadAllW(ini), kDefaultSettingsFile);

    WriteAllW(ini, "[PluginSettings]\r\nTVLine=1000\r\nMode=2\r\n");
    Session(dll, 576);
    const std::string saved =
        WithLine(WithLine(kDefaultSettingsFile, "TVLine=100", "TVLine=575"), "\nMode=0", "\nMode=2");
    EXPECT_EQ(ReadAllW(ini), saved);
    Session(dll);  // the second load reads back what the first save wrote
    EXPECT_EQ(ReadAllW(ini), saved);
    EXPECT_FALSE(ExistsW(ini + L".tmp"));
  }

  std::wstring root_, built_;
  std::vector<std::wstring> made_;  // files and folders to remove, in the order made
  HMODULE dll_ = nullptr;
};

TEST_F(SettingsDllWide, CyrillicFolder) { RoundTrip(MakeFolder(kCyrillic), L"KVP_LineView"); }

TEST_F(SettingsDllWide, CjkFolderAndCyrillicModuleName) {
  RoundTrip(MakeFolder(kCjk), L"KVP_LineView");
  RoundTrip(MakeFolder(kCjk), kCyrillicBase);
}

TEST_F(SettingsDllWide, NamesLongerThan200Characters) {
  // Module path within MAX_PATH characters, but longer than MAX_PATH bytes in UTF-8.
  RoundTrip(MakeFolder(kCyrillic + L"\\" + std::wstring(100, L'\u0436')), L"KVP_LineView");
  // A folder name of 205 characters: a module path beyond MAX_PATH, which Wine loads from.
  const std::wstring folder = MakeFolder(LongName());
  ASSERT_GT((folder + L"KVP_LineView.dll").size(), size_t{MAX_PATH});
  RoundTrip(folder, L"KVP_LineView");
}

// The per-user folder, with an application-data folder whose name is outside the code page:
// Wine's shell takes the folder from the user's "User Shell Folders" key, so the test points
// that at a scratch folder for the duration.
TEST_F(SettingsDllWide, ApplicationDataFolderOutsideTheCodePage) {
  const wchar_t* kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  HKEY shell = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &shell), ERROR_SUCCESS);
  DWORD oldType = 0, oldSize = 0;
  const bool hadOld = RegQueryValueExW(shell, L"AppData", nullptr, &oldType, nullptr, &oldSize) == ERROR_SUCCESS;
  std::vector<BYTE> oldData(oldSize + sizeof(wchar_t));
  if (hadOld) RegQueryValueExW(shell, L"AppData", nullptr, &oldType, oldData.data(), &oldSize);

  const std::wstring appData = MakeFolder(kCyrillic + L"_" + kCjk);
  const std::wstring noSlash = appData.substr(0, appData.size() - 1);
  RegSetValueExW(shell, L"AppData", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(noSlash.c_str()),
                 static_cast<DWORD>((noSlash.size() + 1) * sizeof(wchar_t)));
  struct Restore {
    HKEY shell;
    bool hadOld;
    DWORD type, size;
    std::vector<BYTE>* data;
    ~Restore() {
      if (hadOld)
        RegSetValueExW(shell, L"AppData", 0, type, data->data(), size);
      else
        RegDeleteValueW(shell, L"AppData");
      RegCloseKey(shell);
    }
  } restore{shell, hadOld, oldType, oldSize, &oldData};

  wchar_t seen[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, seen)) || noSlash != seen)
    GTEST_SKIP() << "this Wine does not let the test redirect the application-data folder";

  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  const DWORD one = 1;
  RegSetValueExA(key, "StoreInUsersFolder", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);

  const std::wstring moduleFolder = MakeFolder(L"module");
  const std::wstring dll = moduleFolder + L"KVP_LineView.dll";
  const std::wstring ini = appData + L"Kestrova\\Plugins\\KVP_LineView.ini";
  made_.push_back(appData + L"Kestrova\\");
  made_.push_back(appData + L"Kestrova\\Plugins\\");
  made_.push_back(ini);
  Session(dll);
  EXPECT_EQ(ReadAllW(ini), kDefaultSettingsFile);
  EXPECT_FALSE(ExistsW(moduleFolder + L"KVP_LineView.ini"));
  WriteAllW(ini, "[PluginSettings]\r\nMode=2\r\n");
  Session(dll);
  Session(dll);
  EXPECT_EQ(ReadAllW(ini), WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2"));

  RegDeleteValueA(key, "StoreInUsersFolder");
  RegCloseKey(key);
  if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova");
}

// The crash-safe replace keeps the old file's attributes.
TEST_F(SettingsDllWide, ReplaceKeepsTheFilesAttributes) {
  const std::wstring folder = MakeFolder(kCyrillic);
  const std::wstring dll = folder + L"KVP_LineView.dll", ini = folder + L"KVP_LineView.ini";
  made_.push_back(ini);
  WriteAllW(ini, "[PluginSettings]\r\nMode=2\r\n");
  ASSERT_TRUE(SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(GetFileAttributesW(ini.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  Session(dll);
  EXPECT_EQ(ReadAllW(ini), WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2"));
  const DWORD attributes = GetFileAttributesW(ini.c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << std::hex << attributes;
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_ARCHIVE) << std::hex << attributes;
}

// Names beside the settings file already taken (by a folder, by an unrelated file) are left
// alone: the save goes through a name of its own, and the next load reads it back.
TEST_F(SettingsDllWide, TakenTemporaryNamesAreLeftAlone) {
  const std::wstring folder = MakeFolder(kCjk);
  const std::wstring dll = folder + L"KVP_LineView.dll", ini = folder + L"KVP_LineView.ini";
  made_.push_back(ini);
  WriteAllW(ini, "[PluginSettings]\r\nTVLine=1000\r\nMode=2\r\nExtra=a longer tail than the new file has\r\n");
  ASSERT_TRUE(CreateDirectoryW((ini + L".tmp").c_str(), nullptr));
  made_.push_back(ini + L".tmp");
  WriteAllW(ini + L".1.tmp", "unrelated");
  made_.push_back(ini + L".1.tmp");
  Session(dll, 576);
  EXPECT_EQ(ReadAllW(ini + L".1.tmp"), "unrelated");
  const std::string saved =
      WithLine(WithLine(kDefaultSettingsFile, "TVLine=100", "TVLine=575"), "\nMode=0", "\nMode=2");
  EXPECT_EQ(ReadAllW(ini), saved);
  Session(dll);
  EXPECT_EQ(ReadAllW(ini), saved);
}

}  // namespace
