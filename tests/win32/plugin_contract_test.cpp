// The DLL as a host sees it: loaded with LoadLibrary, reached through its two exports.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "win32/tool_window_harness.h"

namespace {

// A private copy in a temporary folder, so the settings file it writes lands there.
class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = lvtest::ScratchFolder(L"contract");
    dll_ = folder_ + L"KVP_LineView.dll";
    ASSERT_TRUE(CopyFileW(lvtest::BuiltDll().c_str(), dll_.c_str(), FALSE));
    module_ = LoadLibraryW(dll_.c_str());
    ASSERT_NE(module_, nullptr);
    version_ = Export<PluginVersionFn>("Kestrova_Plugin_Version");
    descriptorFn_ = Export<PluginDescriptorFn>("Kestrova_Plugin_PR");
    ASSERT_NE(version_, nullptr);
    ASSERT_NE(descriptorFn_, nullptr);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
    DeleteFileW(dll_.c_str());
    DeleteFileW((folder_ + L"KVP_LineView.ini").c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  template <class Fn>
  Fn Export(const char* name) const {
    // Through the generic function pointer type: FARPROC's own signature is meaningless.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }
  const BYTE* Base() const { return reinterpret_cast<const BYTE*>(module_); }
  const IMAGE_NT_HEADERS* Headers() const {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(Base());
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(Base() + dos->e_lfanew);
  }
  const IMAGE_DATA_DIRECTORY& Directory(int index) const { return Headers()->OptionalHeader.DataDirectory[index]; }

  std::wstring folder_, dll_;
  HMODULE module_ = nullptr;
  PluginVersionFn version_ = nullptr;
  PluginDescriptorFn descriptorFn_ = nullptr;
};

TEST_F(LoadedPlugin, VersionAndDescriptor) {
  EXPECT_EQ(version_(), 3);
  PluginDescriptor* d = descriptorFn_();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(descriptorFn_(), d);
  // "Анализатор TV-строки" in Windows-1251.
  const unsigned char expected[] = {0xC0, 0xED, 0xE0, 0xEB, 0xE8, 0xE7, 0xE0, 0xF2, 0xEE, 0xF0, 0x20,
                                    0x54, 0x56, 0x2D, 0xF1, 0xF2, 0xF0, 0xEE, 0xEA, 0xE8, 0x00};
  ASSERT_NE(d->name, nullptr);
  EXPECT_EQ(std::memcmp(d->name, expected, sizeof expected), 0);
  ASSERT_NE(d->extraText, nullptr);
  EXPECT_EQ(d->extraText[0], '\0');
  for (auto fn : {reinterpret_cast<void*>(d->LoadSettings), reinterpret_cast<void*>(d->Configure),
                  reinterpret_cast<void*>(d->ProcessFrame), reinterpret_cast<void*>(d->ReleaseBuffers),
                  reinterpret_cast<void*>(d->OpenToolWindow), reinterpret_cast<void*>(d->Shutdown)}) {
    EXPECT_NE(fn, nullptr);
  }
}

TEST_F(LoadedPlugin, ExportsExactlyTheTwoFunctions) {
  const auto& dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
  ASSERT_NE(dir.VirtualAddress, 0u);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Base() + dir.VirtualAddress);
  EXPECT_EQ(exports->NumberOfFunctions, 2u);
  ASSERT_EQ(exports->NumberOfNames, 2u);
  const auto* names = reinterpret_cast<const DWORD*>(Base() + exports->AddressOfNames);
  std::vector<std::string> found;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) found.emplace_back(reinterpret_cast<const char*>(Base() + names[i]));
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"Kestrova_Plugin_PR", "Kestrova_Plugin_Version"}));
}

TEST_F(LoadedPlugin, ImportsOnlySystemLibraries) {
  const char* allowed[] = {"kernel32.dll", "user32.dll", "gdi32.dll",  "comctl32.dll",
                           "comdlg32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"};
  const auto& dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  ASSERT_NE(dir.VirtualAddress, 0u);
  int count = 0;
  for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(Base() + dir.VirtualAddress); imp->Name != 0;
       ++imp, ++count) {
    std::string name(reinterpret_cast<const char*>(Base() + imp->Name));
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(::tolower(c)); });
    EXPECT_TRUE(std::find(std::begin(allowed), std::end(allowed), name) != std::end(allowed)) << name;
  }
  EXPECT_GT(count, 0);
}

TEST_F(LoadedPlugin, CallbacksInHostOrderLeaveTheFrameAloneWithoutWindow) {
  PluginDescriptor* d = descriptorFn_();
  d->LoadSettings();
  FrameFormat format{720, 576, 0, PixelFormatYuy2};
  EXPECT_EQ(d->Configure(&format), 1);
  std::vector<uint8_t> pixels(720 * 576 * 2, 0x5A);
  ChannelInfo channel{};
  channel.channelNumber = 3;
  FrameInfo frame{};
  frame.pixels = pixels.data();
  frame.channelInfo = &channel;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(d->ProcessFrame(&frame), 1);
  EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t b) { return b == 0x5A; }));
  frame.pixels = nullptr;
  EXPECT_EQ(d->ProcessFrame(&frame), 1);
  d->ReleaseBuffers();
  d->Shutdown();
}

TEST_F(LoadedPlugin, SurvivesAHostThatBreaksTheCallingOrder) {
  PluginDescriptor* d = descriptorFn_();
  std::vector<uint8_t> pixels(64 * 4 * 3, 1);
  FrameInfo frame{};
  frame.pixels = pixels.data();
  EXPECT_EQ(d->ProcessFrame(&frame), 1);  // before LoadSettings and Configure
  d->ReleaseBuffers();                    // nothing to release
  FrameFormat format{64, 4, 0, PixelFormatBgr24};
  EXPECT_EQ(d->Configure(&format), 1);
  EXPECT_EQ(d->Configure(&format), 1);  // twice without ReleaseBuffers
  FrameFormat huge{0x7FFFFFFF, 2, 0, PixelFormatYuy2};
  EXPECT_EQ(d->Configure(&huge), 1);  // cannot be allocated in 32 bits: frames are ignored
  EXPECT_EQ(d->ProcessFrame(&frame), 1);
  EXPECT_EQ(d->Configure(nullptr), 1);
  EXPECT_EQ(d->ProcessFrame(nullptr), 1);
  d->ReleaseBuffers();
  d->ReleaseBuffers();
  EXPECT_EQ(d->ProcessFrame(&frame), 1);
}

}  // namespace
