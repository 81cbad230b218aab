// The settings file as the real DLL reads and writes it, loaded from a scratch folder.
#include <windows.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/settings_file_text.h"
#include "plugin/host_contract.h"

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
    auto pr = reinterpret_cast<PluginDescriptorFn>(reinterpret_cast<void*>(GetProcAddress(dll_, "Kestrova_Plugin_PR")));
    return *pr();
  }

  // One host session: load the settings, optionally configure a frame format, shut down.
  void Session(int height = 0) {
    const PluginDescriptor& d = Load(dllName_);
    d.LoadSettings();
    if (height > 0) {
      FrameFormat format = {720, height, 0, PixelFormatYuy2};
      d.Configure(&format);
      d.ReleaseBuffers();
    }
    d.Shutdown();
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

}  // namespace
