#include "settings/settings_table.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "common/settings_file_text.h"
#include "settings_test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

// Allocations larger than this fail, as they would in a host process short of memory.
static size_t g_allocationLimit = static_cast<size_t>(-1);

void* operator new(size_t size) {
  void* p = size <= g_allocationLimit ? std::malloc(size ? size : 1) : nullptr;
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

class SettingsTableTest : public ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    store.SetLocation(Folder(), "KVP_LineView");
  }
  bool Load() { return LoadSettingsSequence(store, stored, live, x, y); }
  bool Save() { return SaveSettingsSequence(store, stored, live, x, y); }
  IniStore store;
  AnalysisSettings stored{}, live{};
  int32_t x = 0, y = 0;
};

TEST_F(SettingsTableTest, MissingFileGivesDefaultsAndTheExactTwentyLines) {
  EXPECT_TRUE(Load());
  EXPECT_EQ(x, -100);
  EXPECT_EQ(y, -100);
  EXPECT_EQ(live.TVLine, 100);
  EXPECT_EQ(live.WhiteLevel, 235);
  EXPECT_EQ(live.LevDiagMode, 1);
  EXPECT_EQ(std::memcmp(&live, &stored, sizeof live), 0);
  EXPECT_TRUE(Save());
  EXPECT_EQ(Get("KVP_LineView.ini"), kDefaultSettingsFile);
}

TEST_F(SettingsTableTest, PartialFilesAreCompletedAndOtherContentDropped) {
  Put("KVP_LineView.ini", "[Extra]\r\nMode=1\r\n[PluginSettings]\nMode=2\n[More]\nTVLine=7\n");
  Load();
  EXPECT_EQ(live.Mode, 2);
  EXPECT_EQ(live.TVLine, 100);
  ASSERT_TRUE(Save());
  EXPECT_EQ(Get("KVP_LineView.ini"), WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2"));

  Put("KVP_LineView.ini", "[PluginSettings]\r\nDlgWndPosX=321\r\nStopCount=4294967295\r\n");
  Load();
  EXPECT_EQ(x, 321);
  EXPECT_EQ(y, -100);
  EXPECT_EQ(live.StopCount, -1);  // taken unchanged, not range-checked
}

TEST_F(SettingsTableTest, SaveWritesLiveValuesAndPosition) {
  Load();
  live.TVLine = 575;  // e.g. lowered by Configure
  live.FFTSensitivity = 110;
  x = -3, y = 7;
  ASSERT_TRUE(Save());
  EXPECT_EQ(stored.TVLine, 575);
  std::string expected = WithLine(kDefaultSettingsFile, "TVLine=100", "TVLine=575");
  expected = WithLine(expected, "FFTSensitivity=40", "FFTSensitivity=110");
  expected = WithLine(WithLine(expected, "DlgWndPosX=-100", "DlgWndPosX=-3"), "DlgWndPosY=-100", "DlgWndPosY=7");
  EXPECT_EQ(Get("KVP_LineView.ini"), expected);
}

TEST_F(SettingsTableTest, FileUnreadableAtLoadIsNeverOverwritten) {
  std::filesystem::create_directory(PathOf("KVP_LineView.ini"));  // stands for a locked file
  EXPECT_FALSE(Load());
  EXPECT_EQ(live.TVLine, 100);
  std::filesystem::remove(PathOf("KVP_LineView.ini"));  // the lock goes away before shut-down
  EXPECT_FALSE(Save());
  EXPECT_FALSE(std::filesystem::exists(PathOf("KVP_LineView.ini")));
}

// A load that cannot finish leaves every default, and the save that follows leaves the file
// alone; the caps on what is kept let a huge line load where it could not be held.
TEST_F(SettingsTableTest, LoadThatCannotFinishKeepsDefaultsAndTheFile) {
  const std::string section = "[PluginSettings]\r\nMode=2\r\nWhiteLevel=200\r\n";
  std::string shortLines;
  while (shortLines.size() < (17u << 20)) shortLines += "k=v\n";
  struct Case {
    const char* what;
    std::string file;
    size_t allocationLimit;
    const IniFileSystem* files;
    bool read;
  };
  const Case cases[] = {
      {"2 MB line, 1 MB allocations", std::string(2u << 20, '7') + "\r\n" + section, 1u << 20, nullptr, true},
      {"no memory at all", section, 0, nullptr, false},
      {"read error", section, static_cast<size_t>(-1), &kUnreadable, false},
      {"more lines than are kept", shortLines + section, static_cast<size_t>(-1), nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Put("KVP_LineView.ini", c.file);
    store.SetFileSystem(c.files);
    live = stored = AnalysisSettings{};
    x = y = 0;
    g_allocationLimit = c.allocationLimit;
    const bool loaded = Load();
    g_allocationLimit = static_cast<size_t>(-1);
    EXPECT_EQ(loaded, c.read);
    EXPECT_FALSE(store.IsOpen());
    EXPECT_EQ(live.Mode, c.read ? 2 : 0);
    EXPECT_EQ(live.WhiteLevel, c.read ? 200 : 235);
    EXPECT_EQ(live.StopCount, 950);
    EXPECT_EQ(x, -100);
    EXPECT_EQ(Save(), c.read);
    if (!c.read) {
      EXPECT_EQ(Get("KVP_LineView.ini"), c.file);
    }
  }
}

TEST_F(SettingsTableTest, FolderThatRefusesNewFilesStillGetsTheSave) {
  Put("KVP_LineView.ini", "[PluginSettings]\r\nMode=2\r\n[Other]\r\nK=1\r\n");
  g_injected = {};
  store.SetFileSystem(&kNoNewFiles);
  ASSERT_TRUE(Load());
  EXPECT_EQ(live.Mode, 2);
  live.TVLine = 321;
  live.WindowFunction = 3;
  x = 40, y = -7;
  ASSERT_TRUE(Save());
  EXPECT_EQ(g_injected.tempCreates, 1);
  EXPECT_EQ(g_injected.inPlaceOpens, 1);
  std::string expected = WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2");
  expected = WithLine(expected, "TVLine=100", "TVLine=321");
  expected = WithLine(expected, "WindowFunction=2", "WindowFunction=3");
  expected = WithLine(WithLine(expected, "DlgWndPosX=-100", "DlgWndPosX=40"), "DlgWndPosY=-100", "DlgWndPosY=-7");
  EXPECT_EQ(Get("KVP_LineView.ini"), expected);
  EXPECT_EQ(FilesIn(dir_), 1u);

  // The next start reads what was saved.
  const AnalysisSettings saved = live;
  live = stored = AnalysisSettings{};
  x = y = 0;
  ASSERT_TRUE(Load());
  EXPECT_EQ(std::memcmp(&live, &saved, sizeof live), 0);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, -7);

  // Where neither the temporary file nor the file may be written, the file stays as it was.
  store.SetFileSystem(&kNothingWritable);
  live.Mode = 1;
  EXPECT_FALSE(Save());
  EXPECT_EQ(Get("KVP_LineView.ini"), expected);
}

#ifndef _WIN32
// The real case: a folder the user may not write to, holding a settings file they may. Only
// where permissions are enforced (not for root); the injected failure above stands in there.
TEST_F(SettingsTableTest, ReadOnlyFolderWithWritableFile) {
  Put("KVP_LineView.ini", "[PluginSettings]\r\nMode=2\r\n");
  ASSERT_EQ(chmod(PathOf("KVP_LineView.ini").c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  struct Restore {
    std::string dir;
    ~Restore() { chmod(dir.c_str(), 0755); }
  } restore{dir_.string()};
  const std::string probe = PathOf("probe");
  if (std::FILE* f = std::fopen(probe.c_str(), "wb")) {
    std::fclose(f);
    std::remove(probe.c_str());
    GTEST_SKIP() << "permissions are not enforced for this user";
  }
  ASSERT_TRUE(Load());
  EXPECT_EQ(live.Mode, 2);
  live.StopCount = 900;
  ASSERT_TRUE(Save());
  live = stored = AnalysisSettings{};
  ASSERT_TRUE(Load());
  EXPECT_EQ(live.Mode, 2);
  EXPECT_EQ(live.StopCount, 900);
  const std::string saved =
      WithLine(WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2"), "StopCount=950", "StopCount=900");
  EXPECT_EQ(Get("KVP_LineView.ini"), saved);
  EXPECT_EQ(FilesIn(dir_), 1u);

  ASSERT_EQ(chmod(PathOf("KVP_LineView.ini").c_str(), 0444), 0);  // and the file read-only too
  live.StopCount = 800;
  EXPECT_FALSE(Save());
  EXPECT_EQ(Get("KVP_LineView.ini"), saved);
}
#endif

}  // namespace
